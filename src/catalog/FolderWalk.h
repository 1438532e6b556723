// SPDX-License-Identifier: MIT
#pragma once

#include "catalog/ListBuilder.h"

#include <QString>

namespace vexlo::catalog {

// Lists a folder and every folder below it, depth first, a folder's own files
// before its sub-folders, sub-folders in the pane's order (platform/
// NameOrder.h), so one tree gives one list on every machine; names beginning
// with "." are left out. For each folder: the title shows it, events run
// once, and the Path panel, the current folder and the pane are pointed at it (lower case)
// before BuildFolderEntries writes its section. keepRunning false or
// listAborted set stop the walk before the next folder.
//
// The walk goes from folder to folder by descriptor (openat), reads each
// folder once and asks about each entry once, so that paths longer than the
// system takes are listed with their whole path, and the texts shown (lower
// case) never decide which folder is read: two siblings that differ only in
// case each get their own section.
//
// Links to folders: a link into the tree is not followed (the folder is
// listed where it is), nor one to the start folder or any folder above it; a
// link out of the tree is followed once per run and listed under the link's
// path. A folder reached a second time (a bind mount) is not walked again. A
// folder that cannot be read still gets its section, empty, and the host is
// told (folderUnreadable). The walk keeps its own stack, and at most a few
// dozen folders open, so a deep tree exhausts neither.
//
// realFolder: the folder on disk, when the caller knows it (the command line
// and the window do); otherwise folder is a text whose real folder is not
// known, and is looked up with platform::resolvePath.
void WalkFolder(CatalogJob& job, const QString& folder, const QString& realFolder = QString());

struct MakeListResult {
    bool ok = false;
    QString errorText; // one line, for the user, when ok is false
};

// The list-making part of "&Make list", shared by the window and the command
// line: starts the list file (it replaces the previous one when complete),
// walks startFolder, closes the file. The caller sets keepRunning, clears listAborted and
// sets the list options first, and does its own steps around the
// run. A list file that cannot be created leaves the walk undone; a write
// failure stops the walk at the next file or folder. Either way ok is false,
// errorText says why, and the previous list stays as it was.
MakeListResult MakeListRun(CatalogJob& job, const QString& listFile, const QString& startFolder,
                           const QString& realStartFolder = QString());

} // namespace vexlo::catalog
