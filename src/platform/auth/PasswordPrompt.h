#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace halcyra {

// The application's own dialog that asks for the account password.
class PasswordPrompt {
public:
    class Handle {
    public:
        virtual ~Handle() = default;
    };
    virtual ~PasswordPrompt() = default;
    // Shows the dialog; `entered` runs once on the main loop with the password, or with nothing
    // when the user cancels. Destroying the handle closes the dialog without calling `entered`.
    virtual std::unique_ptr<Handle> ask(const std::string& reason, std::function<void(std::optional<std::string> password)> entered) = 0;
};

}
