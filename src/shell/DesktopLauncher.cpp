// SPDX-License-Identifier: MIT
#include "shell/DesktopLauncher.h"

#include "platform/NativeName.h"

#include <QDesktopServices>

namespace vexlo {

QUrl DesktopLauncher::fileUrl(const QString& path)
{
    const QByteArray bytes = platform::encodeName(path);
    // Byte-wise: QUrl's own encoder takes text and would replace such bytes.
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + bytes.toPercentEncoding("/"),
                             QUrl::StrictMode);
}

bool DesktopLauncher::openFile(const QString& path)
{
    const QUrl url = fileUrl(path);
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool DesktopLauncher::openUrl(const QString& url)
{
    const QUrl address(url, QUrl::StrictMode);
    return address.isValid() && QDesktopServices::openUrl(address);
}

} // namespace vexlo
