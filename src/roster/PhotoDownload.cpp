#include "PhotoDownload.h"

#include "RosterDecoding.h"
#include "RosterScripts.h"
#include "base/Log.h"
#include "base/URL.h"
#include "session/WebEngine.h"

namespace halcyra {

namespace {

    constexpr std::size_t maximumFetchesInFlight = 4;

    std::string progressText(std::size_t finished, std::size_t count)
    {
        return "Downloading photos (" + std::to_string(finished) + " of " + std::to_string(count) + ")\u2026";
    }

    // The downloads of one roster; each finished fetch starts the next candidate.
    class PhotoFetches : public std::enable_shared_from_this<PhotoFetches> {
    public:
        PhotoFetches(std::weak_ptr<WebView> view, std::vector<std::pair<std::size_t, std::string>> candidates, PhotoDownloadObserver observer, std::function<void(PhotoMap)> done)
            : m_view(std::move(view))
            , m_candidates(std::move(candidates))
            , m_observer(std::move(observer))
            , m_done(std::move(done))
        {
        }

        void start()
        {
            if (m_candidates.empty()) {
                m_done({});
                return;
            }
            while (m_started < m_candidates.size() && m_started < maximumFetchesInFlight)
                startNext();
        }

    private:
        void startNext()
        {
            auto index = m_started++;
            auto view = m_view.lock();
            if (!view) {
                didFinish(index, ScriptReply::failure("The web view is gone."));
                return;
            }
            view->callAsyncJavaScript(std::string(photoFetchScript()), { { "url", m_candidates[index].second }, { "maximumBytes", maximumPhotoBytes } }, [self = shared_from_this(), index](ScriptReply reply) {
                self->didFinish(index, std::move(reply));
            });
        }

        void didFinish(std::size_t index, ScriptReply reply)
        {
            if (reply.isError())
                logVerbose("[Roster] photo download failed: " + reply.errorMessage);
            else if (reply.value->is_string()) {
                auto& encoded = reply.value->get_ref<const std::string&>();
                if (encoded.size() / 4 * 3 > maximumPhotoBytes)
                    logVerbose("[Roster] photo of " + std::to_string(encoded.size() / 4 * 3) + " bytes left out");
                else if (auto bytes = decodeBase64(encoded); bytes && !bytes->empty()) {
                    auto position = m_candidates[index].first;
                    m_observer.didDownload(position, *bytes);
                    m_photos.emplace(position, std::move(*bytes));
                }
            }
            ++m_finished;
            m_observer.progress(progressText(m_finished, m_candidates.size()));
            if (m_finished == m_candidates.size()) {
                if (auto done = std::exchange(m_done, nullptr))
                    done(std::move(m_photos));
                return;
            }
            if (m_started < m_candidates.size())
                startNext();
        }

        std::weak_ptr<WebView> m_view;
        std::vector<std::pair<std::size_t, std::string>> m_candidates;
        PhotoDownloadObserver m_observer;
        std::function<void(PhotoMap)> m_done;
        std::size_t m_started { 0 };
        std::size_t m_finished { 0 };
        PhotoMap m_photos;
    };

}

bool isPhotoCandidate(const std::string& photo, const std::string& tenantHost)
{
    auto url = URL::parse(photo);
    return url && url->scheme() == "https" && url->host() == tenantHost && url->path().starts_with("/ashgrove/attachment/");
}

Task<std::optional<PhotoMap>> downloadPhotos(std::weak_ptr<WebView> view, const std::vector<Student>& students, const std::string& tenantHost, PhotoDownloadObserver observer)
{
    std::vector<std::pair<std::size_t, std::string>> candidates;
    for (std::size_t i = 0; i < students.size(); ++i) {
        if (students[i].photo && isPhotoCandidate(*students[i].photo, tenantHost))
            candidates.emplace_back(i, *students[i].photo);
    }
    // The fetches report through a flag that dies with this task, so that a late answer after
    // cancellation reaches nobody.
    auto isWaiting = std::make_shared<bool>(true);
    auto whileWaiting = [weakWaiting = std::weak_ptr<bool>(isWaiting)](auto report) {
        return [report = std::move(report), weakWaiting](const auto&... arguments) {
            if (weakWaiting.lock() && report)
                report(arguments...);
        };
    };
    PhotoDownloadObserver guarded { whileWaiting(observer.progress), whileWaiting(observer.didDownload) };
    guarded.progress(progressText(0, candidates.size()));
    // Named, not temporary: GCC 12 destroys some temporaries of a co_await expression twice.
    auto fetching = awaitCallback<PhotoMap>([view = std::move(view), candidates = std::move(candidates), guarded](std::function<void(PhotoMap)> done) {
        std::make_shared<PhotoFetches>(view, candidates, guarded, std::move(done))->start();
    });
    auto photos = co_await fetching;
    co_return photos;
}

}
