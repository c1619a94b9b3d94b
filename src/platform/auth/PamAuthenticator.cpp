#include "platform/auth/PamAuthenticator.h"

#include "base/Log.h"
#include "platform/glib/GRefPtr.h"

#include <cstdlib>
#include <cstring>
#include <gio/gio.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <string.h>
#include <unistd.h>
#include <utility>

namespace halcyra {

namespace {

    constexpr const char* serviceName = "halcyra";
    constexpr const char* fallbackServiceName = "other";

    int converse(int count, const struct pam_message** messages, struct pam_response** responses, void* password)
    {
        auto* replies = static_cast<pam_response*>(calloc(count, sizeof(pam_response)));
        if (!replies)
            return PAM_BUF_ERR;
        for (int i = 0; i < count; ++i) {
            switch (messages[i]->msg_style) {
            case PAM_PROMPT_ECHO_OFF:
                replies[i].resp = strdup(static_cast<const std::string*>(password)->c_str());
                break;
            case PAM_TEXT_INFO:
            case PAM_ERROR_MSG:
                break;
            default:
                // Nothing else can be answered without the user.
                for (int j = 0; j < i; ++j) {
                    if (replies[j].resp) {
                        explicit_bzero(replies[j].resp, strlen(replies[j].resp));
                        free(replies[j].resp);
                    }
                }
                free(replies);
                return PAM_CONV_ERR;
            }
        }
        *responses = replies;
        return PAM_SUCCESS;
    }

    std::optional<std::string> currentUserName()
    {
        struct passwd entry;
        struct passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) || !found)
            return std::nullopt;
        return std::string(found->pw_name);
    }

    // The one place where the password check leaves the main loop: a GTask runs it on GLib's
    // worker pool and returns its result to the main context that started it.
    void checkOnWorkerThread(std::string password, std::function<void(bool)> done)
    {
        struct Job {
            std::string password;
            std::function<void(bool)> done;
            ~Job() { explicit_bzero(password.data(), password.size()); }
        };
        auto task = adoptGRef(g_task_new(
            nullptr, nullptr, [](GObject*, GAsyncResult* result, gpointer) {
                auto* job = static_cast<Job*>(g_task_get_task_data(G_TASK(result)));
                bool succeeded = g_task_propagate_boolean(G_TASK(result), nullptr);
                job->done(succeeded);
            },
            nullptr));
        g_task_set_task_data(task.get(), new Job { std::move(password), std::move(done) }, [](gpointer job) { delete static_cast<Job*>(job); });
        g_task_run_in_thread(task.get(), [](GTask* task, gpointer, gpointer job, GCancellable*) {
            g_task_return_boolean(task, checkAccountPassword(static_cast<Job*>(job)->password));
        });
    }

    void postToMainLoop(std::function<void()> work)
    {
        g_idle_add_full(
            G_PRIORITY_DEFAULT, [](gpointer work) -> gboolean {
                (*static_cast<std::function<void()>*>(work))();
                return G_SOURCE_REMOVE; },
            new std::function<void()>(std::move(work)), [](gpointer work) { delete static_cast<std::function<void()>*>(work); });
    }

}

bool checkAccountPassword(const std::string& password)
{
    auto user = currentUserName();
    if (!user)
        return false;
    pam_conv conversation { converse, const_cast<std::string*>(&password) };
    pam_handle_t* handle = nullptr;
    if (pam_start(serviceName, user->c_str(), &conversation, &handle) != PAM_SUCCESS) {
        handle = nullptr;
        if (pam_start(fallbackServiceName, user->c_str(), &conversation, &handle) != PAM_SUCCESS)
            return false;
    }
    int status = pam_authenticate(handle, PAM_DISALLOW_NULL_AUTHTOK);
    if (status == PAM_SUCCESS)
        status = pam_acct_mgmt(handle, PAM_DISALLOW_NULL_AUTHTOK);
    pam_end(handle, status);
    return status == PAM_SUCCESS;
}

// The dialog, then the check; withdrawn, it closes the dialog or lets a running check's
// answer count as failure.
class PamAuthenticator::Prompt final : public AuthenticationPrompt {
public:
    struct State {
        std::function<void(bool)> answer;
        std::unique_ptr<PasswordPrompt::Handle> dialog;
        bool isInvalidated { false };
        bool hasAnswered { false };

        void finish(bool succeeded)
        {
            if (std::exchange(hasAnswered, true))
                return;
            answer(succeeded && !isInvalidated);
        }
    };

    explicit Prompt(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }
    ~Prompt() override { invalidate(); }

    void invalidate() override
    {
        if (std::exchange(m_state->isInvalidated, true))
            return;
        if (m_state->dialog) {
            m_state->dialog = nullptr;
            // The dialog closed without an answer: report the withdrawal from the loop.
            auto state = m_state;
            postToMainLoop([state] { state->finish(false); });
        }
    }

private:
    std::shared_ptr<State> m_state;
};

PamAuthenticator::PamAuthenticator(PasswordPrompt& passwordPrompt)
    : m_passwordPrompt(passwordPrompt)
{
}

PamAuthenticator::~PamAuthenticator() = default;

std::unique_ptr<AuthenticationPrompt> PamAuthenticator::evaluate(const AuthenticationRequest& request, std::function<void(bool)> answer)
{
    auto state = std::make_shared<Prompt::State>();
    state->answer = std::move(answer);
    std::weak_ptr<Prompt::State> weakState = state;
    state->dialog = m_passwordPrompt.ask(request.reason, [weakState](std::optional<std::string> password) {
        auto state = weakState.lock();
        if (!state)
            return;
        // The dialog has closed itself; it must not be closed again.
        auto dialog = std::move(state->dialog);
        if (!password) {
            state->finish(false);
            return;
        }
        checkOnWorkerThread(std::move(*password), [state](bool succeeded) {
            logVerbose(std::string("[App] account password ") + (succeeded ? "accepted" : "refused"));
            state->finish(succeeded);
        });
    });
    return std::make_unique<Prompt>(state);
}

}
