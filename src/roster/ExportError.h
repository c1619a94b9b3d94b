#pragma once

#include <string>

namespace halcyra {

// Why a roster export stopped, with the text the user is shown.
enum class ExportError {
    noTable,
    noStudents,
    noDownloadsFolder,
};

inline std::string description(ExportError error)
{
    switch (error) {
    case ExportError::noTable:
        return "The roster table couldn't be read. Try again once the page has finished loading.";
    case ExportError::noStudents:
        return "The roster has no students.";
    case ExportError::noDownloadsFolder:
        return "The Downloads folder couldn't be found.";
    }
    return {};
}

}
