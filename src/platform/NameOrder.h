// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace vexlo::platform {

// The one order of names: the archive pane's, which the folder walk also
// takes sub-folders in and short names number their tails by. Letter case
// is ignored; names that differ only in case come in the order of their
// bytes, so one folder gives one order on every machine and file system.
bool nameOrderLess(const QString& a, const QString& b);
void sortNames(QStringList& names);

} // namespace vexlo::platform
