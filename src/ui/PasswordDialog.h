#pragma once

#include "platform/auth/PasswordPrompt.h"

#include <gtk/gtk.h>

namespace halcyra {

// Asks for the account password in a dialog over the application's active window, where the
// desktop's own authentication agent cannot ask.
class PasswordDialog final : public PasswordPrompt {
public:
    std::unique_ptr<Handle> ask(const std::string& reason, std::function<void(std::optional<std::string>)> entered) override;
};

}
