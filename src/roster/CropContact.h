#pragma once

#include "CropRect.h"
#include "DisplayImage.h"
#include "Student.h"

#include <memory>
#include <optional>
#include <string>

namespace halcyra {

// A student with their photo and its framing. A contact has both `original` and `display`, or
// neither.
struct CropContact {
    // A random UUID made when the contact is built.
    std::string id;
    Student student;
    // The downloaded photo file exactly as received.
    std::optional<std::string> original;
    // The photo upright and at most 800 pixels on its longer side; shared, never changed.
    std::shared_ptr<const DisplayImage> display;
    CropRect autoCrop;
    CropRect crop;
};

// A fresh random (version 4) UUID in its usual text form.
std::string makeContactID();

}
