// SPDX-License-Identifier: MIT
#include "platform/NameOrder.h"

#include "platform/NativeName.h"

#include <algorithm>

namespace vexlo::platform {

bool nameOrderLess(const QString& a, const QString& b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return encodeName(a) < encodeName(b);
}

void sortNames(QStringList& names)
{
    std::sort(names.begin(), names.end(), nameOrderLess);
}

} // namespace vexlo::platform
