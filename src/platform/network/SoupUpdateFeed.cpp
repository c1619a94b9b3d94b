#include "platform/network/SoupUpdateFeed.h"

#include "base/Localization.h"
#include "platform/network/AppcastParser.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

namespace halcyra {

namespace {

    constexpr unsigned requestTimeoutSeconds = 30;
    constexpr gsize readChunkSize = 64 * 1024;

    // One fetch in flight: owns what the asynchronous steps need, and is freed by the last one.
    struct FeedRequest {
        GRefPtr<SoupSession> session;
        GRefPtr<SoupMessage> message;
        GRefPtr<GCancellable> cancellable;
        GRefPtr<GInputStream> body;
        std::string document;
        std::function<void(FeedResult)> completion;

        void finish(FeedResult result)
        {
            if (!g_cancellable_is_cancelled(cancellable.get()))
                completion(std::move(result));
            delete this;
        }
    };

    void readNextChunk(FeedRequest*);

    void didReadChunk(GObject* stream, GAsyncResult* result, gpointer data)
    {
        auto* request = static_cast<FeedRequest*>(data);
        GUniqueOutPtr<GError> error;
        GRefPtr<GBytes> chunk = adoptGRef(g_input_stream_read_bytes_finish(G_INPUT_STREAM(stream), result, error.outPtr()));
        if (!chunk)
            return request->finish(FeedFailure { formatted(_("The update feed could not be read: %s"), error->message) });
        gsize size = 0;
        auto* bytes = static_cast<const char*>(g_bytes_get_data(chunk.get(), &size));
        if (!size)
            return request->finish(parseAppcast(request->document));
        if (request->document.size() + size > maximumAppcastSize)
            return request->finish(FeedFailure { _("The update feed is larger than expected.") });
        request->document.append(bytes, size);
        readNextChunk(request);
    }

    void readNextChunk(FeedRequest* request)
    {
        g_input_stream_read_bytes_async(request->body.get(), readChunkSize, G_PRIORITY_DEFAULT, request->cancellable.get(), didReadChunk, request);
    }

    void didSend(GObject* session, GAsyncResult* result, gpointer data)
    {
        auto* request = static_cast<FeedRequest*>(data);
        GUniqueOutPtr<GError> error;
        request->body = adoptGRef(soup_session_send_finish(SOUP_SESSION(session), result, error.outPtr()));
        if (!request->body)
            return request->finish(FeedFailure { formatted(_("The update server could not be reached: %s"), error->message) });
        auto status = soup_message_get_status(request->message.get());
        if (status != SOUP_STATUS_OK)
            return request->finish(FeedFailure { formatted(_("The update server answered with status %s."), std::to_string(status)) });
        readNextChunk(request);
    }

}

SoupUpdateFeed::SoupUpdateFeed(std::string url, const std::optional<std::string>& proxyURL)
    : m_url(std::move(url))
    , m_session(adoptGRef(soup_session_new_with_options("timeout", requestTimeoutSeconds, "idle-timeout", requestTimeoutSeconds, nullptr)))
    , m_cancellable(adoptGRef(g_cancellable_new()))
{
    if (proxyURL) {
        GRefPtr<GProxyResolver> resolver = adoptGRef(g_simple_proxy_resolver_new(proxyURL->c_str(), nullptr));
        soup_session_set_proxy_resolver(m_session.get(), resolver.get());
    }
}

SoupUpdateFeed::~SoupUpdateFeed()
{
    g_cancellable_cancel(m_cancellable.get());
}

void SoupUpdateFeed::fetch(std::function<void(FeedResult)> completion)
{
    GRefPtr<SoupMessage> message = adoptGRef(soup_message_new(SOUP_METHOD_GET, m_url.c_str()));
    if (!message)
        return completion(FeedFailure { _("The update feed address is not valid.") });
    auto* request = new FeedRequest { m_session, message, m_cancellable, {}, {}, std::move(completion) };
    soup_session_send_async(m_session.get(), message.get(), G_PRIORITY_DEFAULT, m_cancellable.get(), didSend, request);
}

}
