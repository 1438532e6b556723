// SPDX-License-Identifier: MIT
#include "about/ProgramIcon.h"

// The pictures are compiled into the window library, a static library: the
// linker keeps them only when something refers to them by name.
static void initPictures()
{
    Q_INIT_RESOURCE(vexlo32);
}

namespace vexlo::about {

void loadPictures()
{
    static const bool once = (initPictures(), true);
    Q_UNUSED(once);
}

QIcon programIcon()
{
    loadPictures();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/vexlo32-%1.png").arg(size), QSize(size, size));
    icon.addFile(QStringLiteral(":/icons/vexlo32.png"), QSize(256, 256));
    return icon;
}

} // namespace vexlo::about
