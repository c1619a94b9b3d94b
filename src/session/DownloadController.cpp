#include "DownloadController.h"

#include "DownloadAnnouncer.h"
#include "DownloadDestination.h"
#include "DownloadsFolder.h"
#include "LogFormatting.h"
#include "base/Log.h"

#include <algorithm>
#include <cctype>

namespace halcyra {

namespace {

    bool isAttachment(const std::string& contentDisposition)
    {
        constexpr std::string_view attachment = "attachment";
        if (contentDisposition.size() < attachment.size())
            return false;
        return std::equal(attachment.begin(), attachment.end(), contentDisposition.begin(), [](char expected, char actual) {
            return expected == std::tolower(static_cast<unsigned char>(actual));
        });
    }

}

DownloadController::DownloadController(DownloadsFolder& downloadsFolder, DownloadAnnouncer& announcer)
    : m_downloadsFolder(downloadsFolder)
    , m_announcer(announcer)
{
}

NavigationResponsePolicy DownloadController::responsePolicy(const NavigationResponse& response) const
{
    bool isHTTPResponse = response.httpStatus != 0;
    if (isHTTPResponse) {
        if (auto disposition = response.header("content-disposition"); disposition && isAttachment(*disposition))
            return NavigationResponsePolicy::download;
    }
    return response.canShowMIMEType ? NavigationResponsePolicy::allow : NavigationResponsePolicy::download;
}

std::optional<std::filesystem::path> DownloadController::decideDestination(Download& download, const std::string& suggestedFilename)
{
    auto destination = uniqueDownloadDestination(m_downloadsFolder, suggestedFilename);
    if (destination)
        logVerbose("[Workday] download started: " + destination->string());
    else if (auto folder = m_downloadsFolder.location())
        logVerbose("[Workday] download started: no free name for " + downloadFileName(suggestedFilename) + " in " + folder->string());
    else
        logVerbose("[Workday] download started: no Downloads folder");
    if (destination)
        m_downloadDestinations[&download] = *destination;
    else
        m_downloadDestinations.erase(&download);
    return destination;
}

void DownloadController::downloadDidFinish(Download& download)
{
    auto entry = m_downloadDestinations.extract(&download);
    if (!entry)
        return;
    auto destination = entry.mapped();
    logVerbose("[Workday] download finished: " + destination.string());

    std::error_code error;
    auto resolved = std::filesystem::canonical(destination, error);
    m_announcer.announceFinishedDownload(error ? destination : resolved);
}

void DownloadController::downloadDidFail(Download& download, const WebError& error)
{
    m_downloadDestinations.erase(&download);
    logVerbose("[Workday] download failed: " + errorSummary(error));
}

}
