#include "platform/auth/PolkitAuthenticator.h"

#include "base/Log.h"

#include <string>
#include <unistd.h>

namespace halcyra {

namespace {

    constexpr const char* authorityName = "org.freedesktop.PolicyKit1";
    constexpr const char* authorityPath = "/org/freedesktop/PolicyKit1/Authority";
    constexpr const char* authorityInterface = "org.freedesktop.PolicyKit1.Authority";
    constexpr const char* cancelledError = "org.freedesktop.PolicyKit1.Error.Cancelled";
    constexpr guint32 allowUserInteraction = 1;

}

// One CheckAuthorization in flight, shared by the D-Bus reply and the prompt handle, so that
// the answer arrives whether or not the handle is still around.
struct PolkitAuthenticator::Check {
    PolkitAuthenticator* authenticator;
    AuthenticationRequest request;
    std::function<void(bool)> answer;
    std::string cancellationID;
    bool isInvalidated { false };
    std::unique_ptr<AuthenticationPrompt> fallbackPrompt;
    GRefPtr<GDBusConnection> systemBus;
    std::weak_ptr<bool> authenticatorLifetime;
};

class PolkitAuthenticator::Prompt final : public AuthenticationPrompt {
public:
    explicit Prompt(std::shared_ptr<Check> check)
        : m_check(std::move(check))
    {
    }
    ~Prompt() override { invalidate(); }

    void invalidate() override
    {
        auto& check = *m_check;
        if (check.isInvalidated)
            return;
        check.isInvalidated = true;
        if (check.fallbackPrompt) {
            check.fallbackPrompt->invalidate();
            return;
        }
        // polkit then ends the agent's dialog and fails the pending call with Cancelled.
        g_dbus_connection_call(check.systemBus.get(), authorityName, authorityPath, authorityInterface, "CancelCheckAuthorization",
            g_variant_new("(s)", check.cancellationID.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }

private:
    std::shared_ptr<Check> m_check;
};

PolkitAuthenticator::PolkitAuthenticator(Authenticator& fallback, std::string checkedActionID)
    : m_fallback(fallback)
    , m_actionID(std::move(checkedActionID))
{
    GUniqueOutPtr<GError> error;
    m_systemBus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, error.outPtr()));
    if (!m_systemBus)
        logVerbose(std::string("[App] no system bus for polkit: ") + error->message);
}

PolkitAuthenticator::~PolkitAuthenticator() = default;

std::unique_ptr<AuthenticationPrompt> PolkitAuthenticator::evaluate(const AuthenticationRequest& request, std::function<void(bool)> answer)
{
    if (!m_systemBus)
        return m_fallback.evaluate(request, std::move(answer));

    auto check = std::make_shared<Check>();
    check->authenticator = this;
    check->request = request;
    check->answer = std::move(answer);
    check->cancellationID = "halcyra-unlock-" + std::to_string(getpid()) + "-" + std::to_string(m_nextCancellationNumber++);
    check->systemBus = m_systemBus;
    check->authenticatorLifetime = m_lifetime;

    GVariantBuilder subjectDetails;
    g_variant_builder_init(&subjectDetails, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&subjectDetails, "{sv}", "name", g_variant_new_string(g_dbus_connection_get_unique_name(m_systemBus.get())));
    GVariantBuilder details;
    g_variant_builder_init(&details, G_VARIANT_TYPE("a{ss}"));
    auto* parameters = g_variant_new("((sa{sv})sa{ss}us)", "system-bus-name", &subjectDetails, m_actionID.c_str(), &details, allowUserInteraction, check->cancellationID.c_str());

    // The owner may take as long as they like over the dialog: no call timeout.
    g_dbus_connection_call(m_systemBus.get(), authorityName, authorityPath, authorityInterface, "CheckAuthorization", parameters,
        G_VARIANT_TYPE("((bba{ss}))"), G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, checkFinished, new std::shared_ptr<Check>(check));
    return std::make_unique<Prompt>(check);
}

void PolkitAuthenticator::checkFinished(GObject* connection, GAsyncResult* asyncResult, gpointer data)
{
    std::shared_ptr<Check> check = std::move(*static_cast<std::shared_ptr<Check>*>(data));
    delete static_cast<std::shared_ptr<Check>*>(data);

    GUniqueOutPtr<GError> error;
    auto reply = adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), asyncResult, error.outPtr()));
    if (check->isInvalidated) {
        check->answer(false);
        return;
    }
    if (!reply) {
        GUniquePtr<char> remoteError(g_dbus_error_get_remote_error(error.get()));
        if (remoteError && std::string_view(remoteError.get()) == cancelledError) {
            check->answer(false);
            return;
        }
        // No polkit on the bus, or the unlock action is not installed.
        logVerbose(std::string("[App] polkit cannot ask, using the password: ") + error->message);
    } else {
        gboolean isAuthorized = FALSE;
        gboolean isChallenge = FALSE;
        g_variant_get(reply.get(), "((bba{ss}))", &isAuthorized, &isChallenge, nullptr);
        // With user interaction allowed, "could be authorized after a challenge" means no agent
        // could ask: the session has none.
        if (isAuthorized || !isChallenge) {
            check->answer(isAuthorized);
            return;
        }
        logVerbose("[App] no polkit agent in this session, using the password");
    }
    if (check->authenticatorLifetime.expired()) {
        check->answer(false);
        return;
    }
    check->fallbackPrompt = check->authenticator->m_fallback.evaluate(check->request, std::move(check->answer));
}

}
