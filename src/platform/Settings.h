// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace vexlo {

// The settings file holds one line: the archive folder, CR LF. It is the
// real folder, letter case kept: on a file system where "Docs" and "docs" are
// two folders a lower-cased line could name either. Older versions wrote the
// line lower-cased; such a line is still found on the disk (resolvePath).
// The file is rewritten whole at every shutdown. A second line
// "AllKinds=1" or "AllKinds=0" keeps the "All archive kinds" option; a file
// without it (an older version's) reads as off. The second line also marks a
// first line in the real letter case: only a file without it may hold an
// older version's lower-cased line, so only then is a line without capitals
// looked up without regard to case (a lost all-lower-case folder is never
// taken for its twin). Older versions read only the first line.

struct SettingsRead {
    bool fileExists = false; // a settings file stands at the path
    bool readOk = false;     // and its first line could be read
    QString firstLine;       // up to the first CR (or LF), without the line end
    bool allKinds = false;   // the second line turns "All archive kinds" on
    bool realCase = false;   // there is a second line: the first is the real folder
};

SettingsRead readSettingsFile(const QString& path);
bool writeSettingsFile(const QString& path, const QString& folder, bool allKinds = false);

// What start-up derives from the settings file.
struct StartupFolders {
    QString folder;    // the archive folder on disk: what the window acts on
    QString pathPanel; // the Path panel's caption: the folder as shown, lower case
    QString listFile;  // the default list file in that folder, on disk
    QString listPanel; // the File list panel's caption for it
};

// A folder is usable when it exists and can be listed.
bool isUsableFolder(const QString& folder);

// Applies the start-up rules: no file, an unreadable or empty first line, or
// a folder that is missing or cannot be read all lead to the user's home
// folder (QDir::homePath()), and to the root only when that cannot be listed
// either. A first Make list of the root would walk the whole system.
StartupFolders startupFoldersFrom(const SettingsRead& settings);
// The same for a folder known on disk (the one the program was started with).
StartupFolders startupFoldersAt(const QString& realFolder);

// The default list file for a folder: the folder joined with "Vexlo.txt".
QString defaultListFile(const QString& folder);

} // namespace vexlo
