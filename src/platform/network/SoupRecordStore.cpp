#include "platform/network/SoupRecordStore.h"

#include "platform/glib/GRefPtr.h"

#include <cmath>
#include <libsoup/soup.h>
#include <vector>

namespace halcyra {

struct SoupRecordStore::Request {
    SoupRecordStore* store { nullptr };
    std::function<void(RecordResponse)> completion;
    GRefPtr<SoupMessage> message;
    GRefPtr<GCancellable> cancellable;
    GRefPtr<GInputStream> stream;
    std::vector<char> buffer;
    RecordResponse response;
    guint deadline { 0 };
    bool hasTimedOut { false };
};

namespace {

    const char* methodName(RecordRequest::Method method)
    {
        switch (method) {
        case RecordRequest::Method::get:
            return "GET";
        case RecordRequest::Method::put:
            return "PUT";
        case RecordRequest::Method::mkcol:
            return "MKCOL";
        }
        return "GET";
    }

}

SoupRecordStore::SoupRecordStore(std::string baseURL, Seconds timeout)
    : m_baseURL(std::move(baseURL))
    , m_timeout(timeout)
{
    auto seconds = static_cast<guint>(std::max(1.0, std::ceil(timeout.count())));
    m_session = adoptGRef(soup_session_new_with_options("timeout", seconds, "idle-timeout", 60u, "user-agent", "Halcyra", nullptr));
}

SoupRecordStore::~SoupRecordStore()
{
    // Cancelled requests still finish in GIO's callbacks; they find no store and report nothing.
    for (auto* request : m_requests) {
        request->store = nullptr;
        request->completion = nullptr;
        if (request->deadline)
            g_source_remove(std::exchange(request->deadline, 0u));
        g_cancellable_cancel(request->cancellable.get());
    }
}

void SoupRecordStore::send(RecordRequest recordRequest, std::function<void(RecordResponse)> completion)
{
    auto* request = new Request;
    request->store = this;
    request->completion = std::move(completion);
    request->cancellable = adoptGRef(g_cancellable_new());
    m_requests.insert(request);

    auto address = m_baseURL + recordRequest.path;
    request->message = adoptGRef(soup_message_new(methodName(recordRequest.method), address.c_str()));
    if (!request->message) {
        request->response.outcome = RecordResponse::Outcome::networkFailure;
        request->response.failure = "the sync server address is not a valid URL";
        // Reported on the loop, never inside `send`.
        g_idle_add_full(
            G_PRIORITY_DEFAULT, [](gpointer data) -> gboolean {
                finish(static_cast<Request*>(data));
                return G_SOURCE_REMOVE;
            },
            request, nullptr);
        return;
    }

    auto* headers = soup_message_get_request_headers(request->message.get());
    if (recordRequest.ifMatch)
        soup_message_headers_replace(headers, "If-Match", recordRequest.ifMatch->c_str());
    if (recordRequest.ifNoneMatch)
        soup_message_headers_replace(headers, "If-None-Match", recordRequest.ifNoneMatch->c_str());
    if (!recordRequest.user.empty() && recordRequest.password) {
        auto pair = recordRequest.user + ":" + *recordRequest.password;
        GUniquePtr<char> encoded(g_base64_encode(reinterpret_cast<const guchar*>(pair.data()), pair.size()));
        auto value = std::string("Basic ") + encoded.get();
        soup_message_headers_replace(headers, "Authorization", value.c_str());
    }
    if (recordRequest.method == RecordRequest::Method::put) {
        auto body = adoptGRef(g_bytes_new(recordRequest.body.data(), recordRequest.body.size()));
        soup_message_set_request_body_from_bytes(request->message.get(), "application/json", body.get());
    }

    auto milliseconds = static_cast<guint>(std::max(1.0, m_timeout.count() * 1000));
    request->deadline = g_timeout_add_once(
        milliseconds, [](gpointer data) {
            auto* request = static_cast<Request*>(data);
            request->deadline = 0;
            request->hasTimedOut = true;
            g_cancellable_cancel(request->cancellable.get());
        },
        request);
    soup_session_send_async(m_session.get(), request->message.get(), G_PRIORITY_DEFAULT, request->cancellable.get(), didSend, request);
}

void SoupRecordStore::didSend(GObject* session, GAsyncResult* result, gpointer data)
{
    auto* request = static_cast<Request*>(data);
    GUniqueOutPtr<GError> error;
    request->stream = adoptGRef(soup_session_send_finish(SOUP_SESSION(session), result, error.outPtr()));
    if (!request->stream)
        return failed(request, error.get());

    auto& response = request->response;
    auto* message = request->message.get();
    response.status = static_cast<int>(soup_message_get_status(message));
    auto* headers = soup_message_get_response_headers(message);
    if (auto* etag = soup_message_headers_get_one(headers, "ETag"))
        response.etag = etag;
    if (auto* modified = soup_message_headers_get_one(headers, "Last-Modified"))
        response.lastModified = modified;

    bool wantsBody = std::string_view(soup_message_get_method(message)) == "GET" && response.status >= 200 && response.status < 300;
    if (!wantsBody)
        return finish(request);
    // A declared length over the limit is refused before a byte of the body is read.
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH
        && soup_message_headers_get_content_length(headers) > static_cast<goffset>(maximumRecordBodySize)) {
        response.outcome = RecordResponse::Outcome::bodyTooLarge;
        return finish(request);
    }
    request->buffer.resize(maximumRecordBodySize + 1);
    g_input_stream_read_all_async(request->stream.get(), request->buffer.data(), request->buffer.size(), G_PRIORITY_DEFAULT,
        request->cancellable.get(), didRead, request);
}

void SoupRecordStore::didRead(GObject* stream, GAsyncResult* result, gpointer data)
{
    auto* request = static_cast<Request*>(data);
    GUniqueOutPtr<GError> error;
    gsize length = 0;
    if (!g_input_stream_read_all_finish(G_INPUT_STREAM(stream), result, &length, error.outPtr()))
        return failed(request, error.get());
    if (length > maximumRecordBodySize)
        request->response.outcome = RecordResponse::Outcome::bodyTooLarge;
    else
        request->response.body.assign(request->buffer.data(), length);
    finish(request);
}

void SoupRecordStore::failed(Request* request, const GError* error)
{
    bool hasTimedOut = request->hasTimedOut || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
    request->response.outcome = hasTimedOut ? RecordResponse::Outcome::timedOut : RecordResponse::Outcome::networkFailure;
    request->response.failure = error ? error->message : "";
    finish(request);
}

void SoupRecordStore::finish(Request* request)
{
    if (request->deadline)
        g_source_remove(std::exchange(request->deadline, 0u));
    std::function<void(RecordResponse)> completion;
    if (request->store) {
        request->store->m_requests.erase(request);
        completion = std::move(request->completion);
    }
    auto response = std::move(request->response);
    delete request;
    if (completion)
        completion(std::move(response));
}

}
