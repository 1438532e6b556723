// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

namespace vexlo::platform {

// File names on Linux are bytes, not text. Names that are valid UTF-8 become
// ordinary text; every byte of an invalid sequence is kept as a lone
// surrogate U+DC80..U+DCFF, so that a name read from a folder always maps back
// to the very same bytes when we open, stat or delete it.
QString decodeName(const QByteArray& bytes);
QByteArray encodeName(const QString& name);

} // namespace vexlo::platform
