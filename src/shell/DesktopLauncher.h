// SPDX-License-Identifier: MIT
#pragma once

#include "platform/Launcher.h"

#include <QUrl>

namespace vexlo {

// Opens files and web addresses with the desktop's own choice of program
// (xdg-open and the like, through Qt's desktop services). "False" means that
// nothing could be started; a program that starts and then fails on its own
// is beyond what the desktop tells us.
class DesktopLauncher final : public platform::Launcher {
public:
    bool openFile(const QString& path) override;
    bool openUrl(const QString& url) override;

    // A file: URL for a path on disk, taken exactly as given.
    // Name bytes that are not UTF-8 travel percent-encoded as they are.
    static QUrl fileUrl(const QString& path);
};

} // namespace vexlo
