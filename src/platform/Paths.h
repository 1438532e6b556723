// SPDX-License-Identifier: MIT
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

// The folder that holds the program file, asked afresh each time. Tests may
// set an override (an empty text clears it).
QString programFolder();
void setProgramFolderOverride(const QString& folder);

// Where a file that comes with the program (the help text, the sound) is:
// beside the program when it is there, as in a build tree, which keeps
// copies beside the built program; otherwise in the installed data folder,
// found from the program's own folder (<bindir>/../share/vexlo32), so that
// an installed tree can be moved. Asked afresh each time.
QString dataFilePath(const QString& name);

// The files the program writes for the user live in the user's own folders,
// never in the program's folder (which another user may share, and which an
// uninstall must be able to remove whole). On Linux the program's folder of
// old maps to two folders:
//   the settings file       the configuration folder, $XDG_CONFIG_HOME/Vexlo32
//                           (QStandardPaths::AppConfigLocation)
//   temporary files         a folder per display (displayKey()) in the runtime
//                           folder, $XDG_RUNTIME_DIR/vexlo32/<key>, or in
//                           $XDG_CACHE_HOME/vexlo32/<key> where there is none
// A folder we create gets mode 0700: it holds what the user is working on.
// temporaryFolder() is empty when no such folder can be had that is this
// user's alone (someone else's, open to others, or a link to one): the
// temporary file is then never written, and what needs it fails.
QString settingsFolder();
QString temporaryFolder();

// The display this process's windows show on, as a short plain name: the
// same for the same DISPLAY and WAYLAND_DISPLAY values. The instance socket
// and the temporary folder are named by it, so that copies on two displays
// neither meet nor share files.
QString displayKey();

// Where the settings file is written; its folder is created on demand.
QString settingsFilePath();
// Where start-up reads the settings: the file above, or while it does not
// exist yet, the one an earlier version kept (in ~/.local/share/Vexlo32 or
// beside the program), so that the first start after an update keeps the
// folder. Creates nothing.
QString settingsFileToRead();
// The temporary description file; its folder is created on demand. Empty
// when temporaryFolder() is.
QString tempDizPath();

// Tests and the command line's own runs put the settings file and the
// temporary files into this folder instead (an empty text clears it). No
// older settings file is looked for then.
void setUserFoldersOverride(const QString& folder);

// A folder the program may keep the user's files in: one that belongs to
// this user and that nobody else may write to. followLinks: a link to such a
// folder counts too (as a home on another disk often is).
bool isOwnPrivateFolder(const QString& folder, bool followLinks = true);

// Creates the folder and what is missing above it, each with mode 0700
// (what exists already is left as it is). True when the folder is there,
// belongs to this user and nobody else may write to it.
bool makeOwnFolder(const QString& folder);

} // namespace vexlo::platform
