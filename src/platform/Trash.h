// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace vexlo::platform {

enum class Discarded {
    ToTrash, // moved into the desktop Trash, where the user can restore it
    Removed, // deleted: its file system has no Trash we may use
    Failed,  // neither; the file is where it was (the reason is in errno)
};

// Deletes a file the user chose to delete: into the desktop Trash (the
// freedesktop.org layout: the user's own Trash for files on the home file
// system, the file system's own .Trash folder otherwise) where there is one,
// removed where there is none. A file whose Trash cannot take it (a broken
// Trash folder, a Trash on another drive, a full disk) is never deleted
// for good instead: it stays, and the result is Failed. realPath is used
// exactly, on its own bytes; a link is moved or removed as a link, never
// what it leads to.
Discarded discardFile(const QString& realPath);

} // namespace vexlo::platform
