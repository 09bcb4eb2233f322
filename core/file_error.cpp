#include "core/file_error.h"

#include <cerrno>

#include "core/messages.h"

namespace {

const char* FileErrorTemplate(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
        return "%1 was not found.";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return "Access to %1 was denied.";
    case ENOSPC:
    case EDQUOT:
        return "Disk full while accessing %1.";
    case EMFILE:
    case ENFILE:
        return "%1 could not be opened because there are too many open files.";
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
        return "%1 contains an invalid path.";
    case EIO:
        return "A hardware I/O error was reported while accessing %1.";
    case EBADF:
        return "An invalid file handle was associated with %1.";
    case ETXTBSY:
    case EBUSY:
        return "A sharing violation occurred while accessing %1.";
    case ENOLCK:
    case EDEADLK:
        return "A locking violation occurred while accessing %1.";
    default:
        return "An unknown error occurred while accessing %1.";
    }
}

}  // namespace

std::string FileErrorText(int errorNumber, const std::string& path)
{
    std::string text = FileErrorTemplate(errorNumber);
    const std::string::size_type at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

void ReportFileError(int errorNumber, const std::string& path)
{
    ShowMessage(FileErrorText(errorNumber, path));
}
