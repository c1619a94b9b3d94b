#pragma once

#include "base/Time.h"
#include "platform/glib/GRefPtr.h"
#include "sync/RecordStore.h"

#include <set>
#include <string>

#include <gio/gio.h>

typedef struct _SoupSession SoupSession;

namespace halcyra {

// The user's WebDAV server over libsoup 3. Every request has a deadline; a body is read only
// for a successful GET and never beyond maximumRecordBodySize.
class SoupRecordStore final : public RecordStore {
public:
    // `baseURL` ends with a slash; record paths are appended to it.
    explicit SoupRecordStore(std::string baseURL, Seconds timeout = Seconds(30));
    ~SoupRecordStore() override;
    SoupRecordStore(const SoupRecordStore&) = delete;
    SoupRecordStore& operator=(const SoupRecordStore&) = delete;

    void send(RecordRequest, std::function<void(RecordResponse)> completion) override;

private:
    struct Request;
    static void didSend(GObject*, GAsyncResult*, gpointer);
    static void didRead(GObject*, GAsyncResult*, gpointer);
    static void finish(Request*);
    static void failed(Request*, const GError*);

    std::string m_baseURL;
    Seconds m_timeout;
    GRefPtr<SoupSession> m_session;
    std::set<Request*> m_requests;
};

}
