// SPDX-License-Identifier: MIT
#include "platform/Launcher.h"

namespace vexlo::platform {

namespace {
Launcher* g_launcher = nullptr;
}

Launcher* launcher()
{
    return g_launcher;
}

void setLauncher(Launcher* l)
{
    g_launcher = l;
}

} // namespace vexlo::platform
