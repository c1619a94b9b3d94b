#pragma once

#include "FrameContacts.h"
#include "Student.h"
#include "base/Task.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace halcyra {

class WebView;

// Photos larger than this are dropped: no roster photo comes near it, and each one is held in
// memory several times over on its way to the file.
constexpr std::size_t maximumPhotoBytes = 25 * 1024 * 1024;

// Whether a student's photo address may be fetched: https on the tenant host, under the
// tenant's attachments.
bool isPhotoCandidate(const std::string& photo, const std::string& tenantHost);

// What a photo download reports as it goes: "Downloading photos (k of N)…" as photos finish,
// and each photo as soon as it is there. Either may be empty.
struct PhotoDownloadObserver {
    std::function<void(const std::string&)> progress;
    std::function<void(std::size_t position, const std::string& photo)> didDownload;
};

// Fetches the students' photos through the signed-in page, at most four at a time, and gives
// them by student position. A photo that cannot be fetched is left out; nothing when the task
// was cancelled, and nothing reported after that.
Task<std::optional<PhotoMap>> downloadPhotos(std::weak_ptr<WebView>, const std::vector<Student>&, const std::string& tenantHost, PhotoDownloadObserver);

}
