#pragma once

#include "catalog/ListBuilder.h"

#include <QString>

namespace vexlo::catalog {

// Lists a folder and every folder below it, depth first, a folder's own files
// before its sub-folders, sub-folders in the order the file system returns
// them; names beginning with "." are left out, hidden folders otherwise are
// walked. For each folder: the title shows it, events run once, and the Path
// panel, Dir1 and the pane are pointed at it (lower case) before
// BuildFolderEntries writes its section. KeepRunning false or ListAborted set
// stop the walk before the next folder.
//
// The texts shown and written are lower case, but on Linux two sibling
// folders may differ only in case ("A" and "a"), and the lower-cased text
// would find the same one twice. So the walk carries the real path of each
// folder beside its text and reaches files through the real one; only when
// the text would lead to another folder is the pane given the real path
// (the folder line is its lower case, the same text).
//
// A folder reached a second time in one run (the same device and inode,
// through a link) is not walked again, so a link loop cannot make the walk
// endless. A folder that cannot be read still gets its section, empty. The
// walk keeps its own stack, so a deep tree cannot exhaust the call stack.
//
// realFolder: the folder on disk, when the caller knows it (the command line
// does); otherwise folder is resolved like every program path.
void WalkFolder(CatalogJob& job, const QString& folder, const QString& realFolder = QString());

struct MakeListResult {
    bool ok = false;
    QString errorText; // one line, for the user, when ok is false
};

// The list-making part of "&Make list", shared by the window and the command
// line: creates the list file (replacing an existing one), walks startFolder,
// closes the file. The caller sets KeepRunning, clears ListAborted and sets
// ReadOnlyDrive and MultiLineDiz first, and does its own steps around the
// run. A list file that cannot be created leaves the walk undone; a write
// failure stops the walk at the next file or folder. Either way ok is false
// and errorText says why.
MakeListResult MakeListRun(CatalogJob& job, const QString& listFile, const QString& startFolder,
                           const QString& realStartFolder = QString());

} // namespace vexlo::catalog
