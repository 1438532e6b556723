// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace vexlo {

// The settings file holds one line: the archive folder, CR LF. It is the
// real folder, letter case kept: on a file system where "Docs" and "docs" are
// two folders a lower-cased line could name either. Older versions wrote the
// line lower-cased; such a line is still found on the disk (resolvePath).
// The file is rewritten whole at every shutdown. A second line
// "AllKinds=1" keeps the "All archive kinds" option on; it is written only
// then, so that with the option off the file is what it always was (and
// older files, without it, read as off). Older versions read only the first
// line.

struct SettingsRead {
    bool fileExists = false; // a settings file stands at the path
    bool readOk = false;     // and its first line could be read
    QString firstLine;       // up to the first CR (or LF), without the line end
    bool allKinds = false;   // the second line turns "All archive kinds" on
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
