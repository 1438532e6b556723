// SPDX-License-Identifier: MIT
#include "platform/Log.h"

// Warnings and worse are shown; what is passed over is logged as info.
Q_LOGGING_CATEGORY(lcPlatform, "vexlo32.platform", QtWarningMsg)
Q_LOGGING_CATEGORY(lcZip, "vexlo32.zip", QtWarningMsg)
Q_LOGGING_CATEGORY(lcList, "vexlo32.list", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWindow, "vexlo32.window", QtWarningMsg)
