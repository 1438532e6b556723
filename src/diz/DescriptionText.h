// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vexlo::diz {

// Which bytes end a line of a description.
enum class LineEnds {
    // CR, LF or CR LF: what the list takes, so that files written on other
    // systems list the same. LF CR is two line ends.
    AnyOf,
    // CR only, an LF right after it belonging to the line end: what Get diz
    // takes, as the box shows it. A lone LF is part of its line.
    CarriageReturn,
};

// The lines of a description or shortcut file. A line end at the very end
// of the file ends the last line and starts none; a last line without a
// line end is a line; an empty file has none.
QList<QByteArray> splitLines(const QByteArray& bytes, LineEnds ends);

// Whether a file is taken for a ZIP archive: its name ends in "zip", in any
// letter case (with or without the dot before it).
bool endsInZip(const QString& name);

} // namespace vexlo::diz
