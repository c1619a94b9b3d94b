#pragma once

namespace halcyra {

// The hidden views that read the counts.
class PollBrowser {
public:
    virtual ~PollBrowser() = default;
    // Builds the hidden views the first time; later calls do nothing.
    virtual void createIfNeeded() = 0;
    // Drops the views (their web process ended with the main view's), so that the next call of
    // createIfNeeded builds them again in the main view's new process.
    virtual void discard() = 0;
};

}
