#pragma once

#include <QStringList>

namespace vexlo::cli {

// vexlo32 --make-list FOLDER [--output FILE] [--long] [--multi-line]
// args are the words after "--make-list". Returns the exit status.
int runMakeListCommand(const QStringList& args);

} // namespace vexlo::cli
