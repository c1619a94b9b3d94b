#pragma once

#include <string>

namespace halcyra {

// Why a roster export stopped, with the text the user is shown.
enum class ExportError {
    noTable,
    noStudents,
    noDownloadsFolder,
    // The folder holds the roster's name and 10,000 numbered copies of it.
    noFreeName,
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
    case ExportError::noFreeName:
        return "The Downloads folder has no free name for the roster file. Move or delete earlier roster files and try again.";
    }
    return {};
}

}
