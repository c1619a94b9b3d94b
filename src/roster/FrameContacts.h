#pragma once

#include "CropContact.h"
#include "PhotoFramer.h"
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

// One contact per student, in roster order, each photo decoded and framed on the image worker
// pool, one photo per worker at a time. `progress` receives "Finding faces (k of P)…" as each
// photo starts. A photo that is no image gives a contact without photo. Nothing when the task was
// cancelled; the photos under way then finish on their workers and their results are dropped.
Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>&, const PhotoMap&, PhotoFramer&, WorkerPool& imageWork, std::function<void(const std::string&)> progress);

}
