#pragma once

#include <QString>

namespace vexlo {

// The settings file holds one line: the archive folder, lower case, CR LF.
// Only the first line is read; the file is rewritten whole at every shutdown.

struct SettingsRead {
    bool fileExists = false; // a settings file stands at the path
    bool readOk = false;     // and its first line could be read
    QString firstLine;       // up to the first CR (or LF), without the line end
};

SettingsRead readSettingsFile(const QString& path);
bool writeSettingsFile(const QString& path, const QString& folder);

// What start-up derives from the settings file.
struct StartupFolders {
    QString pathPanel;  // the Path panel's caption
    QString paneFolder; // the archive pane's folder (lower case)
    QString listFile;   // the File list panel's caption and listFilePath
};

// A folder is usable when it exists and can be listed.
bool isUsableFolder(const QString& folder);

// Applies the start-up rules: no file, an unreadable or empty first line, or
// a folder that is missing or cannot be read all lead to the root.
StartupFolders startupFoldersFrom(const SettingsRead& settings);

// The default list file for a folder: the folder joined with "Vexlo.txt".
QString defaultListFile(const QString& folder);

} // namespace vexlo
