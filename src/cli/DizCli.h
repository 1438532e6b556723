#pragma once

#include <QString>
#include <QStringList>

namespace vexlo::cli {

// vexlo32 --get-diz ARCHIVE: the description member's bytes to stdout.
int runGetDizCommand(const QStringList& args);
// vexlo32 --save-diz DIZFILE ARCHIVE...: DIZFILE's bytes into each archive.
int runSaveDizCommand(const QStringList& args);

} // namespace vexlo::cli
