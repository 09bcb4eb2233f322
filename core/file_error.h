// Texts of file errors, in the wording the desktop framework uses for them.
//
// %1 in each text stands for the file's path. Export and any other writer
// report a failed open, write or rename through ShowMessage with these texts.
#pragma once

#include <string>

// The message for an errno value met while accessing path:
//   ENOENT                        "%1 was not found."
//   EACCES, EPERM, EROFS, EISDIR  "Access to %1 was denied."
//   ENOSPC, EDQUOT                "Disk full while accessing %1."
//   EMFILE, ENFILE                "%1 could not be opened because there are too many open files."
//   ENOTDIR, ENAMETOOLONG, EINVAL, ELOOP  "%1 contains an invalid path."
//   EIO                           "A hardware I/O error was reported while accessing %1."
//   EBADF                         "An invalid file handle was associated with %1."
//   ETXTBSY, EBUSY                "A sharing violation occurred while accessing %1."
//   ENOLCK, EDEADLK               "A locking violation occurred while accessing %1."
//   anything else                 "An unknown error occurred while accessing %1."
std::string FileErrorText(int errorNumber, const std::string& path);

// Shows FileErrorText(errorNumber, path) through ShowMessage.
void ReportFileError(int errorNumber, const std::string& path);
