#pragma once

#include "CropContact.h"
#include "PhotoFramer.h"
#include "PhotoFramings.h"
#include "Student.h"
#include "base/Task.h"
#include "base/WorkerPool.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace halcyra {

// Downloaded photo files by student position in the roster.
using PhotoMap = std::map<std::size_t, std::string>;

// One contact per student, in roster order, each photo decoded and framed by `framings` (those
// it has not begun yet are begun here). `progress` receives "Finding faces (k of P)…" as each
// photo's turn comes. A photo that is no image gives a contact without photo. Nothing when the
// task was cancelled.
Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>&, const PhotoMap&, PhotoFramings&, std::function<void(const std::string&)> progress);

// The same with framings of its own on `imageWork`, for photos that are all there already.
Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>&, const PhotoMap&, PhotoFramer&, WorkerPool& imageWork, std::function<void(const std::string&)> progress);

}
