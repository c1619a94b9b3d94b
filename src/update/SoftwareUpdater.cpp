#include "SoftwareUpdater.h"

#include "base/Log.h"

#include <algorithm>
#include <cctype>

namespace halcyra {

namespace {

    // Splits "1.10.2-beta3" into runs of digits and runs of other characters, dropping separators.
    std::vector<std::string> versionParts(const std::string& version)
    {
        std::vector<std::string> parts;
        std::string current;
        auto isDigit = [](char character) { return std::isdigit(static_cast<unsigned char>(character)) != 0; };
        for (char character : version) {
            bool isSeparator = character == '.' || character == '-' || character == '_' || character == '+' || character == ' ';
            if (isSeparator || (!current.empty() && isDigit(current.back()) != isDigit(character))) {
                if (!current.empty())
                    parts.push_back(std::exchange(current, {}));
            }
            if (!isSeparator)
                current += character;
        }
        if (!current.empty())
            parts.push_back(current);
        return parts;
    }

    int compareParts(const std::string& a, const std::string& b)
    {
        bool aIsNumber = std::isdigit(static_cast<unsigned char>(a.front()));
        bool bIsNumber = std::isdigit(static_cast<unsigned char>(b.front()));
        if (aIsNumber && bIsNumber) {
            // Compare without converting, so that a hostile 40-digit part cannot overflow.
            auto aDigits = a.substr(std::min(a.find_first_not_of('0'), a.size()));
            auto bDigits = b.substr(std::min(b.find_first_not_of('0'), b.size()));
            if (aDigits.size() != bDigits.size())
                return aDigits.size() < bDigits.size() ? -1 : 1;
            return aDigits.compare(bDigits) < 0 ? -1 : (aDigits == bDigits ? 0 : 1);
        }
        // A number outranks a word at the same place: "2.0.1" is newer than "2.0-beta".
        if (aIsNumber != bIsNumber)
            return aIsNumber ? 1 : -1;
        return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    }

}

int compareVersions(const std::string& a, const std::string& b)
{
    static const std::string zero = "0";
    auto aParts = versionParts(a);
    auto bParts = versionParts(b);
    for (size_t index = 0; index < std::max(aParts.size(), bParts.size()); ++index) {
        // A missing part reads as 0: "1.0" equals "1.0.0", is older than "1.0.1" and newer than
        // "1.0-beta".
        auto& aPart = index < aParts.size() ? aParts[index] : zero;
        auto& bPart = index < bParts.size() ? bParts[index] : zero;
        if (int order = compareParts(aPart, bPart))
            return order;
    }
    return 0;
}

SoftwareUpdater::SoftwareUpdater(UpdateFeed* feed, std::string currentVersion)
    : m_feed(feed)
    , m_currentVersion(std::move(currentVersion))
{
}

void SoftwareUpdater::checkForUpdates(std::function<void(const UpdateCheckResult&)> completion)
{
    if (!canCheckForUpdates())
        return;
    setChecking(true);
    logVerbose("[App] checking for updates");
    std::weak_ptr<SoftwareUpdater*> weakThis = m_weakThis;
    m_feed->fetch([weakThis, completion = std::move(completion)](FeedResult feedResult) {
        auto self = weakThis.lock();
        if (!self)
            return;
        auto& updater = **self;
        auto result = updater.result(feedResult);
        updater.setChecking(false);
        completion(result);
    });
}

void SoftwareUpdater::setChecking(bool isChecking)
{
    if (m_isChecking == isChecking)
        return;
    m_canCheckWillChange.notify();
    m_isChecking = isChecking;
}

UpdateCheckResult SoftwareUpdater::result(const FeedResult& feedResult) const
{
    if (auto* failure = std::get_if<FeedFailure>(&feedResult))
        return UpdateCheckFailed { failure->message };
    auto& items = std::get<std::vector<AppcastItem>>(feedResult);
    auto newest = std::max_element(items.begin(), items.end(), [](auto& a, auto& b) { return compareVersions(a.version, b.version) < 0; });
    if (newest == items.end() || compareVersions(newest->version, m_currentVersion) <= 0)
        return UpToDate { m_currentVersion };
    return UpdateAvailable { *newest };
}

}
