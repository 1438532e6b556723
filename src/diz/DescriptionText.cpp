// SPDX-License-Identifier: MIT
#include "diz/DescriptionText.h"

namespace vexlo::diz {

QList<QByteArray> splitLines(const QByteArray& bytes, LineEnds ends)
{
    QList<QByteArray> lines;
    const qsizetype n = bytes.size();
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < n) {
        const char c = bytes.at(i);
        if (c == '\r' || (c == '\n' && ends == LineEnds::AnyOf)) {
            lines.append(bytes.mid(start, i - start));
            i += (c == '\r' && i + 1 < n && bytes.at(i + 1) == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n)
        lines.append(bytes.mid(start));
    return lines;
}

bool endsInZip(const QString& name)
{
    return name.size() >= 3 &&
           name.right(3).compare(QLatin1String("zip"), Qt::CaseInsensitive) == 0;
}

} // namespace vexlo::diz
