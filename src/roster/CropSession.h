#pragma once

#include "ContactExport.h"
#include "CropContact.h"
#include "base/Signal.h"
#include "base/Task.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

// The framed contacts waiting for the user to adjust and export them. Observers hear
// `willChange` before every change of a published field.
class CropSession {
public:
    // Writes the contacts; the product passes `exportContacts` with the real services.
    using Exporter = std::function<Task<ContactExportResult>(std::vector<CropContact>, std::string title)>;

    CropSession(RunLoop&, Exporter);
    CropSession(const CropSession&) = delete;
    CropSession& operator=(const CropSession&) = delete;

    const std::vector<CropContact>& contacts() const { return m_contacts; }
    const std::string& title() const { return m_title; }
    bool isPresented() const { return m_isPresented; }
    bool isExporting() const { return m_isExporting; }
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }

    [[nodiscard]] Connection observeWillChange(std::function<void()> observer) { return m_willChange.connect(std::move(observer)); }

    void present(std::vector<CropContact>, std::string title);
    // Stores `rect`, clamped to the contact's display image, as the contact's crop.
    void setCrop(const std::string& contactID, const CropRect&);
    void reset(const std::string& contactID);
    void resetAll();
    void exportContacts();
    void cancel();
    void clearErrorMessage();

private:
    Task<void> runExport(std::weak_ptr<int> alive);
    CropContact* contact(const std::string& id);

    RunLoop& m_loop;
    Exporter m_exporter;
    std::vector<CropContact> m_contacts;
    std::string m_title;
    bool m_isPresented { false };
    bool m_isExporting { false };
    std::optional<std::string> m_errorMessage;
    // Counts presentations, so that an export ends only the session it wrote.
    std::uint64_t m_presentation { 0 };
    Signal<> m_willChange;
    // The export task reaches the session only while this lives.
    std::shared_ptr<int> m_alive { std::make_shared<int>(0) };
};

}
