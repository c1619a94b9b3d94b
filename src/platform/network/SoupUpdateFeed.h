#pragma once

#include "platform/glib/GRefPtr.h"
#include "update/SoftwareUpdater.h"

#include <optional>
#include <string>

typedef struct _SoupSession SoupSession;
typedef struct _GCancellable GCancellable;

namespace halcyra {

// Fetches the release feed over HTTPS with libsoup: 30 s timeout, at most 1 MiB read, the
// campus proxy when one is configured. Destroying the feed cancels a fetch in flight; its
// completion is then never called.
class SoupUpdateFeed final : public UpdateFeed {
public:
    SoupUpdateFeed(std::string url, const std::optional<std::string>& proxyURL);
    ~SoupUpdateFeed() override;

    void fetch(std::function<void(FeedResult)> completion) override;

private:
    std::string m_url;
    GRefPtr<SoupSession> m_session;
    GRefPtr<GCancellable> m_cancellable;
};

}
