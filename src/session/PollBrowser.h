#pragma once

namespace halcyra {

// The hidden views that read the counts.
class PollBrowser {
public:
    virtual ~PollBrowser() = default;
    // Builds the hidden views the first time; later calls do nothing.
    virtual void createIfNeeded() = 0;
};

}
