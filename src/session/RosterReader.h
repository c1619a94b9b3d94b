#pragma once

#include <memory>

namespace halcyra {

class WebView;

// Watches the main web view for the course roster page.
class RosterReader {
public:
    virtual ~RosterReader() = default;
    // Keeps a weak reference and starts observing the view's title and URL.
    virtual void attach(std::weak_ptr<WebView>) = 0;
};

}
