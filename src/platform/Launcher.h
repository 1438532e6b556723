// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace vexlo::platform {

// Opens files and web addresses with the desktop's default applications.
// The window installs the desktop implementation; tests install a fake.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Opens a local file in the default application for its type (the text
    // editor for the list file and the help text). False when nothing started.
    virtual bool openFile(const QString& path) = 0;
    virtual bool openUrl(const QString& url) = 0;
};

// The launcher in use; null until one is installed.
Launcher* launcher();
void setLauncher(Launcher* launcher);

} // namespace vexlo::platform
