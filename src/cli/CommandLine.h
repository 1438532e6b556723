#pragma once

#include <QStringList>

namespace vexlo::cli {

// When the arguments ask for a command-line job (--make-list, --get-diz,
// --save-diz, --help, --version), runs it without a window and returns true
// with its exit status. Otherwise returns false: the window starts.
bool runCommandLine(const QStringList& args, int& exitStatus);

// True when the arguments ask for a command-line job (any word starting "--").
bool isCommandLineJob(const QStringList& args);

} // namespace vexlo::cli
