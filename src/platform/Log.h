// SPDX-License-Identifier: MIT
#pragma once

#include <QLoggingCategory>

// Failures the program passes over on purpose (a settings file that cannot
// be written at shutdown, a file that could not be deleted, a leftover that
// could not be cleaned) leave a line in these categories. They are quiet
// unless asked for:
//   QT_LOGGING_RULES="vexlo32.*.info=true" vexlo32
Q_DECLARE_LOGGING_CATEGORY(lcPlatform) // vexlo32.platform: files, settings, single instance
Q_DECLARE_LOGGING_CATEGORY(lcZip)      // vexlo32.zip: archives and their updates
Q_DECLARE_LOGGING_CATEGORY(lcList)     // vexlo32.list: Make list
Q_DECLARE_LOGGING_CATEGORY(lcWindow)   // vexlo32.window: the window's commands
