// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

namespace vexlo::cli {

// words are the command line's words, the mode's among them; each returns
// the exit status.
// vexlo32 --get-diz [--utf8] ARCHIVE: the description member's bytes to stdout.
int runGetDizCommand(const QStringList& words);
// vexlo32 --save-diz [--utf8] DIZFILE ARCHIVE...: DIZFILE's bytes into each archive.
int runSaveDizCommand(const QStringList& words);

} // namespace vexlo::cli
