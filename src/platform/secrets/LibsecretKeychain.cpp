#include "platform/secrets/LibsecretKeychain.h"

#include "platform/glib/GRefPtr.h"

#include <functional>
#include <libsecret/secret.h>
#include <memory>
#include <vector>

namespace halcyra {

template <>
struct GRefTraits<SecretValue> {
    static SecretValue* ref(SecretValue* pointer) { return secret_value_ref(pointer); }
    static void unref(SecretValue* pointer) { secret_value_unref(pointer); }
};

namespace {

    // The generic schema that `secret-tool` and other desktop tools use. Items are matched by
    // service and account alone, whatever schema name the program that wrote them recorded.
    const SecretSchema* itemSchema()
    {
        static const SecretSchema* schema = [] {
            static SecretSchema generic {};
            generic.name = "org.freedesktop.Secret.Generic";
            generic.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
            generic.attributes[0] = { "service", SECRET_SCHEMA_ATTRIBUTE_STRING };
            generic.attributes[1] = { "account", SECRET_SCHEMA_ATTRIBUTE_STRING };
            return &generic;
        }();
        return schema;
    }

    // Borrows the identity's strings; they outlive every call that uses the table.
    GRefPtr<GHashTable> attributesFor(const KeychainItemID& item)
    {
        auto attributes = adoptGRef(g_hash_table_new(g_str_hash, g_str_equal));
        g_hash_table_insert(attributes.get(), const_cast<char*>("service"), const_cast<char*>(item.service.c_str()));
        g_hash_table_insert(attributes.get(), const_cast<char*>("account"), const_cast<char*>(item.account.c_str()));
        return attributes;
    }

    // D-Bus strings must be UTF-8: anything else would be refused by GVariant before it leaves
    // the process.
    bool isValidText(const std::string& text)
    {
        return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
    }

    bool isValidIdentity(const KeychainItemID& item)
    {
        return !item.service.empty() && !item.account.empty() && isValidText(item.service) && isValidText(item.account);
    }

    std::vector<GRefPtr<SecretItem>> adoptItems(GList* list)
    {
        std::vector<GRefPtr<SecretItem>> items;
        for (auto* link = list; link; link = link->next)
            items.push_back(adoptGRef(SECRET_ITEM(link->data)));
        g_list_free(list);
        return items;
    }

    KeychainStatus statusForError(const GError* error)
    {
        if (error->domain == SECRET_ERROR) {
            switch (error->code) {
            case SECRET_ERROR_NO_SUCH_OBJECT:
                return keychainItemNotFound;
            case SECRET_ERROR_IS_LOCKED:
                return keychainInteractionNotAllowed;
            case SECRET_ERROR_ALREADY_EXISTS:
                return keychainDuplicateItem;
            default:
                return keychainInternalError;
            }
        }
        if (error->domain == G_DBUS_ERROR) {
            switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_NO_SERVER:
            case G_DBUS_ERROR_NO_REPLY:
            case G_DBUS_ERROR_DISCONNECTED:
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
            case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
            case G_DBUS_ERROR_SPAWN_FORK_FAILED:
            case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
            case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
            case G_DBUS_ERROR_SPAWN_FAILED:
            case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
            case G_DBUS_ERROR_SPAWN_PERMISSIONS_INVALID:
            case G_DBUS_ERROR_SPAWN_FILE_INVALID:
            case G_DBUS_ERROR_SPAWN_NO_MEMORY:
                return keychainNotAvailable;
            case G_DBUS_ERROR_ACCESS_DENIED:
            case G_DBUS_ERROR_AUTH_FAILED:
                return keychainAuthFailed;
            case G_DBUS_ERROR_INVALID_ARGS:
                return keychainBadParameter;
            default:
                return keychainInternalError;
            }
        }
        // I/O errors come from reaching the session bus itself: no bus address, a socket nobody
        // listens on, or no display to start a bus from.
        if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
            return keychainUserCanceled;
        if (error->domain == G_IO_ERROR && error->code != G_IO_ERROR_DBUS_ERROR)
            return keychainNotAvailable;
        return keychainInternalError;
    }

}

namespace {

    bool isValidItem(const KeychainItemID& item, const KeychainItemAttributes& attributes)
    {
        return isValidIdentity(item) && isValidText(attributes.label);
    }

    constexpr const char* badItemMessage = "The service, account and label must be UTF-8 text";
    constexpr const char* badIdentityMessage = "The service and account must be non-empty UTF-8 text";
    constexpr const char* stayedLockedMessage = "The keyring holding the item stayed locked";

    using AsyncCompletion = std::function<void(GRefPtr<GAsyncResult>)>;

    // Awaits one libsecret "…_async" call: `start` passes the callback and its data on. The answer
    // arrives on the main loop, which runs on meanwhile (an unlock prompt may take minutes).
    CallbackAwaiter<GRefPtr<GAsyncResult>> asyncResult(std::function<void(GAsyncReadyCallback, gpointer)> start)
    {
        return awaitCallback<GRefPtr<GAsyncResult>>([start = std::move(start)](AsyncCompletion done) {
            start(
                [](GObject*, GAsyncResult* result, gpointer data) {
                    std::unique_ptr<AsyncCompletion> completion(static_cast<AsyncCompletion*>(data));
                    (*completion)(GRefPtr<GAsyncResult>(result));
                },
                new AsyncCompletion(std::move(done)));
        });
    }

}

LibsecretKeychain::LibsecretKeychain()
    : m_cancellable(adoptGRef(g_cancellable_new()))
{
}

LibsecretKeychain::~LibsecretKeychain()
{
    g_cancellable_cancel(m_cancellable.get());
}

KeychainStatus LibsecretKeychain::fail(KeychainStatus status, const std::string& detail)
{
    m_lastErrorDetail[status] = detail;
    return status;
}

KeychainStatus LibsecretKeychain::fail(const GError* error)
{
    return fail(statusForError(error), error->message);
}

// After the first call libsecret hands out the same connection, so each operation may ask.
Task<LibsecretKeychain::ServiceResult> LibsecretKeychain::connect()
{
    // A plain pointer (the keychain outlives its tasks): GCC 12 may destroy a co_await's
    // temporary twice, which must not release a reference twice.
    auto result = co_await asyncResult([cancellable = m_cancellable.get()](GAsyncReadyCallback callback, gpointer data) {
        secret_service_get(SECRET_SERVICE_OPEN_SESSION, cancellable, callback, data);
    });
    if (!result)
        co_return ServiceResult { nullptr, fail(keychainUserCanceled, "The operation was cancelled") };
    GUniqueOutPtr<GError> error;
    auto service = adoptGRef(secret_service_get_finish(result->get(), error.outPtr()));
    if (!service)
        co_return ServiceResult { nullptr, fail(error.get()) };
    co_return ServiceResult { std::move(service), keychainSuccess };
}

Task<LibsecretKeychain::SearchResult> LibsecretKeychain::search(SecretService* service, const KeychainItemID& item, SecretSearchFlags flags)
{
    auto attributes = attributesFor(item);
    auto result = co_await asyncResult([&](GAsyncReadyCallback callback, gpointer data) {
        secret_service_search(service, itemSchema(), attributes.get(), flags, m_cancellable.get(), callback, data);
    });
    if (!result)
        co_return SearchResult { {}, fail(keychainUserCanceled, "The operation was cancelled") };
    GUniqueOutPtr<GError> error;
    auto items = adoptItems(secret_service_search_finish(service, result->get(), error.outPtr()));
    if (error)
        co_return SearchResult { {}, fail(error.get()) };
    co_return SearchResult { std::move(items), keychainSuccess };
}

Task<LibsecretKeychain::SearchResult> LibsecretKeychain::unlockedMatches(SecretService* service, const KeychainItemID& item)
{
    auto found = co_await search(service, item, static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK));
    if (found.status != keychainSuccess)
        co_return found;
    if (found.items.empty())
        co_return SearchResult { {}, keychainItemNotFound };
    for (auto& match : found.items) {
        if (secret_item_get_locked(match.get()))
            co_return SearchResult { {}, fail(keychainInteractionNotAllowed, stayedLockedMessage) };
    }
    co_return found;
}

Task<KeychainReadResult> LibsecretKeychain::read(KeychainItemID item)
{
    if (!isValidIdentity(item))
        co_return KeychainReadResult { fail(keychainBadParameter, badIdentityMessage), std::nullopt };

    auto connection = co_await connect();
    if (!connection.service)
        co_return KeychainReadResult { connection.status, std::nullopt };

    auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
    auto found = co_await search(connection.service.get(), item, flags);
    if (found.status != keychainSuccess)
        co_return KeychainReadResult { found.status, std::nullopt };
    if (found.items.empty())
        co_return KeychainReadResult { keychainItemNotFound, std::nullopt };

    auto& first = found.items.front();
    if (secret_item_get_locked(first.get()))
        co_return KeychainReadResult { fail(keychainInteractionNotAllowed, stayedLockedMessage), std::nullopt };
    auto secret = adoptGRef(secret_item_get_secret(first.get()));
    if (!secret)
        co_return KeychainReadResult { fail(keychainInternalError, "The Secret Service returned no secret for the item"), std::nullopt };

    gsize length = 0;
    const char* bytes = secret_value_get(secret.get(), &length);
    co_return KeychainReadResult { keychainSuccess, std::string(bytes, length) };
}

Task<KeychainStatus> LibsecretKeychain::update(KeychainItemID item, std::string data, KeychainItemAttributes attributes)
{
    if (!isValidItem(item, attributes))
        co_return fail(keychainBadParameter, badItemMessage);

    auto connection = co_await connect();
    if (!connection.service)
        co_return connection.status;

    auto found = co_await unlockedMatches(connection.service.get(), item);
    if (found.status != keychainSuccess)
        co_return found.status;

    auto secret = adoptGRef(secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain"));
    // Every match is rewritten, so that a duplicate left by another program cannot shadow the
    // new data on the next read.
    for (auto& match : found.items) {
        GUniqueOutPtr<GError> error;
        auto secretSet = co_await asyncResult([&](GAsyncReadyCallback callback, gpointer callbackData) {
            secret_item_set_secret(match.get(), secret.get(), m_cancellable.get(), callback, callbackData);
        });
        if (!secretSet)
            co_return fail(keychainUserCanceled, "The operation was cancelled");
        if (!secret_item_set_secret_finish(match.get(), secretSet->get(), error.outPtr()))
            co_return fail(error.get());
        auto labelSet = co_await asyncResult([&](GAsyncReadyCallback callback, gpointer callbackData) {
            secret_item_set_label(match.get(), attributes.label.c_str(), m_cancellable.get(), callback, callbackData);
        });
        if (!labelSet)
            co_return fail(keychainUserCanceled, "The operation was cancelled");
        if (!secret_item_set_label_finish(match.get(), labelSet->get(), error.outPtr()))
            co_return fail(error.get());
    }
    co_return keychainSuccess;
}

Task<KeychainStatus> LibsecretKeychain::add(KeychainItemID item, std::string data, KeychainItemAttributes attributes)
{
    if (!isValidItem(item, attributes))
        co_return fail(keychainBadParameter, badItemMessage);

    auto connection = co_await connect();
    if (!connection.service)
        co_return connection.status;

    auto secret = adoptGRef(secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain"));
    auto itemAttributes = attributesFor(item);
    // The Secret Service replaces an item with the same attributes in the collection instead of
    // adding a second one.
    auto result = co_await asyncResult([&](GAsyncReadyCallback callback, gpointer callbackData) {
        secret_service_store(connection.service.get(), itemSchema(), itemAttributes.get(), SECRET_COLLECTION_DEFAULT, attributes.label.c_str(), secret.get(), m_cancellable.get(), callback, callbackData);
    });
    if (!result)
        co_return fail(keychainUserCanceled, "The operation was cancelled");
    GUniqueOutPtr<GError> error;
    if (!secret_service_store_finish(connection.service.get(), result->get(), error.outPtr()))
        co_return fail(error.get());
    co_return keychainSuccess;
}

Task<KeychainStatus> LibsecretKeychain::remove(KeychainItemID item)
{
    if (!isValidIdentity(item))
        co_return fail(keychainBadParameter, badIdentityMessage);

    auto connection = co_await connect();
    if (!connection.service)
        co_return connection.status;

    // Not the Secret Service's own clear: it passes over the items of a locked keyring and
    // answers as if nothing matched, which would report a password still saved as removed.
    auto found = co_await unlockedMatches(connection.service.get(), item);
    if (found.status != keychainSuccess)
        co_return found.status;
    for (auto& match : found.items) {
        auto deleted = co_await asyncResult([&](GAsyncReadyCallback callback, gpointer callbackData) {
            secret_item_delete(match.get(), m_cancellable.get(), callback, callbackData);
        });
        if (!deleted)
            co_return fail(keychainUserCanceled, "The operation was cancelled");
        GUniqueOutPtr<GError> error;
        if (!secret_item_delete_finish(match.get(), deleted->get(), error.outPtr()))
            co_return fail(error.get());
    }
    co_return keychainSuccess;
}

std::string LibsecretKeychain::messageForStatus(KeychainStatus status)
{
    std::string message;
    switch (status) {
    case keychainSuccess:
        return "No error.";
    case keychainItemNotFound:
        return "The item could not be found in the keyring.";
    case keychainNotAvailable:
        message = "No Secret Service is running on the session bus.";
        break;
    case keychainAuthFailed:
        message = "The Secret Service refused access to the item.";
        break;
    case keychainDuplicateItem:
        message = "The item already exists in the keyring.";
        break;
    case keychainInteractionNotAllowed:
        message = "The keyring is locked and could not be unlocked.";
        break;
    case keychainBadParameter:
        message = "The item was described with invalid parameters.";
        break;
    case keychainInternalError:
        message = "The Secret Service failed.";
        break;
    case keychainUserCanceled:
        message = "The keychain operation was cancelled.";
        break;
    default:
        return {};
    }
    auto detail = m_lastErrorDetail.find(status);
    if (detail != m_lastErrorDetail.end())
        message += " (" + detail->second + ")";
    return message;
}

}
