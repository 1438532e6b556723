// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

namespace vexlo::cli {

// vexlo32 --make-list FOLDER [--output FILE] [--long] [--multi-line]
// words are the command line's words, "--make-list" among them. Returns the
// exit status.
int runMakeListCommand(const QStringList& words);

} // namespace vexlo::cli
