#pragma once

#include "sync/SyncedCounts.h"

namespace halcyra {

// Takes each complete reading of the four counts, to share it with the user's other machines.
class CountsPublisher {
public:
    virtual ~CountsPublisher() = default;
    virtual void publish(const SyncedCounts&) = 0;
};

// For a run without counts sharing.
class NullCountsPublisher final : public CountsPublisher {
public:
    void publish(const SyncedCounts&) override { }
};

}
