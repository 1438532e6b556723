#pragma once

#include <QString>

namespace vexlo::platform {

inline constexpr QChar kSeparator = u'/';
inline const QString kRootFolder = QStringLiteral("/");

// The one way this program joins a folder and a name: a separator goes in
// between unless the folder text already ends in one (the root "/").
QString joinPath(const QString& folder, const QString& name);

// Lower-cases a path as the program stores and shows folders. Lone
// surrogates (undecodable name bytes) are left as they are.
QString lowerPath(const QString& path);
// Upper-cases a file name as the list file shows it (full Unicode mapping,
// so "ß" becomes "SS"); lone surrogates are left as they are.
QString upperName(const QString& name);

// The last component of a path (after the last separator).
QString lastComponent(const QString& path);

// The folder part of a path: everything before the last separator, or the
// root when the separator is the first character.
QString parentPath(const QString& path);

// True when the folder text names the root of the file system: the program
// must not be run from there.
bool isRootFolder(const QString& folder);

// The folder that holds the program file, asked afresh each time. Tests and
// the command line may set an override (an empty text clears it).
QString programFolder();
void setProgramFolderOverride(const QString& folder);

// Where the settings file and the temporary description file live: beside the
// program when that folder is writable, otherwise the per-user application
// folder (created on demand).
QString dataFolder();
QString settingsFilePath();
QString tempDizPath();

} // namespace vexlo::platform
