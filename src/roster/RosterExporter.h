#pragma once

#include "CropSession.h"
#include "PhotoFramer.h"
#include "Roster.h"
#include "base/Signal.h"
#include "base/TaskGroup.h"
#include "base/URL.h"
#include "base/WorkerPool.h"
#include "session/RosterReader.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace halcyra {

// Watches the main web view for the course roster page and, when asked, reads the roster,
// fetches the photos through the page, frames them and hands the contacts to the framing
// session. Observers hear `willChange` before every change of a published field.
class RosterExporter final : public RosterReader {
public:
    struct Services {
        RunLoop& loop;
        std::string tenantHost;
        PhotoFramer& framer;
        // The image workers: framing keeps one photo under way on each.
        WorkerPool& imageWork;
        CropSession& session;
    };
    // An export asked for by the menu starts only if the roster page appears within this time.
    static constexpr Seconds autoExportLimit { 300 };

    explicit RosterExporter(Services);
    RosterExporter(const RosterExporter&) = delete;
    RosterExporter& operator=(const RosterExporter&) = delete;

    bool isRosterPage() const { return m_isRosterPage; }
    const std::optional<std::string>& progress() const { return m_progress; }
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }
    void clearErrorMessage();
    [[nodiscard]] Connection observeWillChange(std::function<void()> observer) { return m_willChange.connect(std::move(observer)); }

    void attach(std::weak_ptr<WebView>) override;
    // Decides again whether the view shows the roster; every title or URL change calls it.
    void evaluatePage();
    void setRosterPage(bool found);
    // Starts reading the roster, unless an export runs already or the view is gone.
    void exportRoster();

    // Set by "Export Roster Contacts…", cleared by "Course Roster…".
    std::optional<MonotonicTime> autoExportRequested;

private:
    Task<void> detect(URL);
    // Takes the menu's export request; true when it is younger than the limit.
    bool takeFreshExportRequest();
    Task<void> runExport();
    Task<std::variant<Roster, std::string>> readRoster();
    void setProgress(std::optional<std::string>);
    void fail(const std::string& description);

    Services m_services;
    std::weak_ptr<WebView> m_webView;
    std::vector<Connection> m_observations;
    bool m_isRosterPage { false };
    std::optional<std::string> m_progress;
    std::optional<std::string> m_errorMessage;
    Signal<> m_willChange;
    TaskHandle m_detection;
    // Last, so that its tasks end before anything they use goes away.
    TaskGroup m_tasks;
};

}
