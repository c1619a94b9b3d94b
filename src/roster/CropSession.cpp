#include "CropSession.h"

#include "CropGeometry.h"
#include "base/Log.h"

namespace halcyra {

CropSession::CropSession(RunLoop& loop, Exporter exporter)
    : m_loop(loop)
    , m_exporter(std::move(exporter))
{
}

CropContact* CropSession::contact(const std::string& id)
{
    for (auto& contact : m_contacts) {
        if (contact.id == id)
            return &contact;
    }
    return nullptr;
}

void CropSession::present(std::vector<CropContact> contacts, std::string title)
{
    m_willChange.notify();
    ++m_presentation;
    m_contacts = std::move(contacts);
    m_title = std::move(title);
    m_errorMessage.reset();
    m_isPresented = true;
}

void CropSession::setCrop(const std::string& contactID, const CropRect& rect)
{
    auto* found = contact(contactID);
    if (!found)
        return;
    double width = found->display ? found->display->width : 0;
    double height = found->display ? found->display->height : 0;
    m_willChange.notify();
    found->crop = clamped(rect, width, height);
}

void CropSession::reset(const std::string& contactID)
{
    if (auto* found = contact(contactID)) {
        m_willChange.notify();
        found->crop = found->autoCrop;
    }
}

void CropSession::resetAll()
{
    m_willChange.notify();
    for (auto& contact : m_contacts)
        contact.crop = contact.autoCrop;
}

void CropSession::exportContacts()
{
    if (m_isExporting || m_contacts.empty())
        return;
    m_willChange.notify();
    m_isExporting = true;
    spawn(m_loop, runExport(m_alive));
}

Task<void> CropSession::runExport(std::weak_ptr<int> alive)
{
    auto exported = m_presentation;
    // Named, not temporary: GCC 12 destroys some temporaries of a co_await expression twice.
    auto exporting = m_exporter(m_contacts, m_title);
    auto result = co_await std::move(exporting);
    if (alive.expired())
        co_return;
    m_willChange.notify();
    m_isExporting = false;
    if (result.file) {
        // A roster presented while the file was written is a new session: it stays open.
        if (exported != m_presentation)
            co_return;
        m_contacts.clear();
        m_isPresented = false;
        co_return;
    }
    logVerbose("[Roster] export failed: " + result.failure);
    m_errorMessage = result.failure;
}

void CropSession::cancel()
{
    if (m_isExporting)
        return;
    m_willChange.notify();
    m_contacts.clear();
    m_isPresented = false;
}

void CropSession::clearErrorMessage()
{
    m_willChange.notify();
    m_errorMessage.reset();
}

}
