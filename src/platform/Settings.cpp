// SPDX-License-Identifier: MIT
#include "platform/Settings.h"

#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QByteArray>
#include <QDir>
#include <vector>

namespace vexlo {

namespace {
// A settings file is one short line; anything far larger is not ours, and
// reading it whole would only cost memory.
constexpr qint64 kSettingsReadLimit = 64 * 1024;
const QByteArray kAllKindsKey = QByteArrayLiteral("AllKinds=");

// The line after the first line end (CR LF, CR or LF), without its own.
QByteArray secondLine(const QByteArray& bytes, qsizetype firstEnd)
{
    if (firstEnd < 0)
        return QByteArray();
    qsizetype start = firstEnd + 1;
    if (bytes.at(firstEnd) == '\r' && start < bytes.size() && bytes.at(start) == '\n')
        ++start;
    qsizetype end = start;
    while (end < bytes.size() && bytes.at(end) != '\r' && bytes.at(end) != '\n')
        ++end;
    return bytes.mid(start, end - start);
}
} // namespace

SettingsRead readSettingsFile(const QString& path)
{
    SettingsRead result;
    const platform::FileStat st = platform::statPath(path);
    result.fileExists = st.ok && !st.isDir;
    if (!result.fileExists)
        return result;
    QByteArray bytes;
    if (!platform::readFileStart(path, bytes, kSettingsReadLimit))
        return result;
    if (bytes.isEmpty())
        return result; // no first line to read
    qsizetype end = bytes.indexOf('\r');
    const qsizetype lf = bytes.indexOf('\n');
    if (end < 0 || (lf >= 0 && lf < end))
        end = lf;
    QByteArray line = end < 0 ? bytes : bytes.left(end);
    // A NUL cannot be part of a path.
    const qsizetype nul = line.indexOf('\0');
    if (nul >= 0)
        line.truncate(nul);
    result.readOk = true;
    result.firstLine = platform::decodeName(line);
    const QByteArray second = secondLine(bytes, end);
    result.allKinds = second == kAllKindsKey + '1';
    result.realCase = second.startsWith(kAllKindsKey);
    return result;
}

bool writeSettingsFile(const QString& path, const QString& folder, bool allKinds)
{
    // The second line is always written: it also tells a later start that
    // the first one has the folder's real letters.
    const QByteArray bytes =
        platform::encodeName(folder) + "\r\n" + kAllKindsKey + (allKinds ? "1" : "0") + "\r\n";
    if (platform::writeFileAtomic(path, bytes))
        return true;
    // The callers go on without it (the next start shows the home folder).
    qCInfo(lcPlatform) << "settings not written:" << path << platform::lastErrorText();
    return false;
}

bool isUsableFolder(const QString& folder)
{
    if (folder.isEmpty() || !platform::isDirectory(folder))
        return false;
    std::vector<platform::DirEntry> entries;
    return platform::listDirectory(folder, entries);
}

StartupFolders startupFoldersFrom(const SettingsRead& settings)
{
    const QString stored = settings.readOk ? settings.firstLine : QString();
    // The line is the real folder, taken exactly. Only a line without a
    // capital may be an older version's lower-cased one, whose real folder
    // is not known: that alone is looked up without regard to case. One with
    // capitals that is gone is gone, and never taken for a twin. A relative
    // text names no folder we could have stored.
    QString real;
    if (stored.startsWith(platform::kSeparator))
        real = !settings.realCase && stored == platform::lowerPath(stored)
                   ? platform::resolvePath(stored)
                   : stored;
    if (isUsableFolder(real))
        return startupFoldersAt(real);
    const QString home = QDir::homePath();
    return startupFoldersAt(home.startsWith(platform::kSeparator) && isUsableFolder(home)
                                ? home
                                : platform::kRootFolder);
}

StartupFolders startupFoldersAt(const QString& realFolder)
{
    StartupFolders out;
    out.folder = realFolder;
    out.pathPanel = platform::lowerPath(out.folder);
    out.listFile = defaultListFile(out.folder);
    out.listPanel = defaultListFile(out.pathPanel);
    return out;
}

QString defaultListFile(const QString& folder)
{
    return platform::joinPath(folder, platform::kDefaultListFileName);
}

} // namespace vexlo
