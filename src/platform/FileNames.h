// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace vexlo::platform {

// The names the program gives files or looks for, each in one place.

// The description of an archive: the member every list, Get diz and Save
// diz read or write, at the archive's root, in any letter case.
inline const QString kDescriptionFileName = QStringLiteral("file_id.diz");

// The settings file, in the user's configuration folder.
inline const QString kSettingsFileName = QStringLiteral("Vexlo32.ini");

// The temporary description file in the temporary folder: an extraction writes
// the member under its own name, so the file is called as the member is.
inline const QString kTemporaryDescriptionName = kDescriptionFileName;

// The list file a folder gets unless the user names another; a list never
// lists a file of this name (in any letter case).
inline const QString kDefaultListFileName = QStringLiteral("Vexlo.txt");

} // namespace vexlo::platform
