#include "RosterExporter.h"

#include "CourseTitle.h"
#include "ExportError.h"
#include "FrameContacts.h"
#include "PhotoDownload.h"
#include "RosterDecoding.h"
#include "RosterScripts.h"
#include "base/Log.h"
#include "session/WebEngine.h"

namespace halcyra {

namespace {

    constexpr std::string_view rosterTitlePrefix = "View Course Section Detailed Roster";

    // Runs a page script in the view; nothing when the task was cancelled meanwhile.
    CallbackAwaiter<ScriptReply> callPageScript(std::weak_ptr<WebView> view, std::string body, nlohmann::json arguments)
    {
        return awaitCallback<ScriptReply>([view = std::move(view), body = std::move(body), arguments = std::move(arguments)](std::function<void(ScriptReply)> done) {
            auto protectedView = view.lock();
            if (!protectedView) {
                done(ScriptReply::failure("The web view is gone."));
                return;
            }
            protectedView->callAsyncJavaScript(body, arguments, std::move(done));
        });
    }

}

RosterExporter::RosterExporter(Services services)
    : m_services(std::move(services))
    , m_tasks(m_services.loop)
{
}

void RosterExporter::attach(std::weak_ptr<WebView> webView)
{
    m_webView = webView;
    m_observations.clear();
    if (auto view = webView.lock()) {
        m_observations.push_back(view->observeTitle([this](const std::string&) { evaluatePage(); }));
        m_observations.push_back(view->observeURL([this](const std::optional<URL>&, const std::optional<URL>&) { evaluatePage(); }));
    }
    m_tasks.spawn([](RosterExporter& exporter) -> Task<void> {
        auto slept = co_await sleep(exporter.m_services.loop, Seconds(0));
        if (slept)
            exporter.evaluatePage();
    }(*this));
}

void RosterExporter::evaluatePage()
{
    m_detection.cancel();
    m_detection = {};
    if (m_isRosterPage) {
        m_willChange.notify();
        m_isRosterPage = false;
    }
    auto view = m_webView.lock();
    if (!view)
        return;
    auto url = view->url();
    if (!url || url->host() != m_services.tenantHost)
        return;
    if (!view->title().starts_with(rosterTitlePrefix))
        return;
    m_detection = m_tasks.spawn(detect(*url));
}

Task<void> RosterExporter::detect(URL url)
{
    auto waiting = callPageScript(m_webView, rosterWaitScript(), nlohmann::json::object());
    auto reply = co_await waiting;
    if (!reply)
        co_return;
    auto view = m_webView.lock();
    if (!view || view->url() != url)
        co_return;
    bool found = !reply->isError() && reply->value->is_boolean() && reply->value->get<bool>();
    setRosterPage(found);
    // A roster page whose table never showed a row: an export the user asked for still runs,
    // so that it ends in the alert that says why, never in silence.
    if (!found && takeFreshExportRequest()) {
        logVerbose("[Roster] no roster rows appeared; reading the page as requested");
        exportRoster();
    }
}

bool RosterExporter::takeFreshExportRequest()
{
    if (!autoExportRequested)
        return false;
    auto requested = *std::exchange(autoExportRequested, std::nullopt);
    return m_services.loop.now() - requested < autoExportLimit;
}

void RosterExporter::setRosterPage(bool found)
{
    if (found != m_isRosterPage) {
        m_willChange.notify();
        m_isRosterPage = found;
    }
    if (!found || !takeFreshExportRequest())
        return;
    logVerbose("[Roster] roster page appeared; exporting as requested");
    exportRoster();
}

void RosterExporter::exportRoster()
{
    if (m_webView.expired() || m_progress)
        return;
    setProgress("Reading the roster\u2026");
    m_tasks.spawn(runExport());
}

Task<void> RosterExporter::runExport()
{
    auto reading = readRoster();
    auto outcome = co_await std::move(reading);
    if (auto* error = std::get_if<std::string>(&outcome)) {
        fail(*error);
        co_return;
    }
    auto students = std::get<Roster>(std::move(outcome)).students;
    auto progress = [this](const std::string& text) { setProgress(text); };

    // Each photo is framed as soon as it is downloaded, while the others still download.
    PhotoFramings framings(m_services.framer, m_services.imageWork);
    auto didDownload = [&framings](std::size_t position, const std::string& photo) { framings.start(position, photo); };
    auto downloading = downloadPhotos(m_webView, students, m_services.tenantHost, { progress, didDownload });
    auto photos = co_await std::move(downloading);
    if (!photos)
        co_return;

    auto framing = frameContacts(students, *photos, framings, progress);
    auto contacts = co_await std::move(framing);
    if (!contacts)
        co_return;
    setProgress(std::nullopt);
    m_services.session.present(std::move(*contacts), courseTitle(students));
}

Task<std::variant<Roster, std::string>> RosterExporter::readRoster()
{
    auto reading = callPageScript(m_webView, rosterReadScript(), nlohmann::json::object());
    auto reply = co_await reading;
    if (!reply)
        co_return std::string("The export was cancelled.");
    if (reply->isError())
        co_return reply->errorMessage;
    if (!reply->value->is_string())
        co_return description(ExportError::noTable);
    auto decoded = decodeRoster(reply->value->get_ref<const std::string&>());
    if (auto* roster = std::get_if<Roster>(&decoded)) {
        if (roster->students.empty())
            co_return description(ExportError::noStudents);
        if (roster->total && static_cast<std::int64_t>(roster->students.size()) < *roster->total)
            logVerbose("[Roster] read " + std::to_string(roster->students.size()) + " of " + std::to_string(*roster->total) + " rows");
    }
    co_return decoded;
}

void RosterExporter::setProgress(std::optional<std::string> progress)
{
    if (progress == m_progress)
        return;
    m_willChange.notify();
    m_progress = std::move(progress);
}

void RosterExporter::fail(const std::string& description)
{
    logVerbose("[Roster] export failed: " + description);
    m_willChange.notify();
    m_errorMessage = description;
    m_progress.reset();
}

void RosterExporter::clearErrorMessage()
{
    m_willChange.notify();
    m_errorMessage.reset();
}

}
