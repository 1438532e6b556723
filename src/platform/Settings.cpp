#include "platform/Settings.h"

#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QByteArray>
#include <vector>

namespace vexlo {

namespace {
// A settings file is one short line; anything far larger is not ours, and
// reading it whole would only cost memory.
constexpr qint64 kSettingsReadLimit = 64 * 1024;
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
    return result;
}

bool writeSettingsFile(const QString& path, const QString& folder)
{
    const QByteArray bytes = platform::encodeName(platform::lowerPath(folder)) + "\r\n";
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
    StartupFolders out;
    const QString root = platform::kRootFolder;
    if (!settings.fileExists) {
        out.pathPanel = root;
        out.paneFolder = root;
    } else {
        QString folder = settings.readOk ? settings.firstLine : QString();
        if (folder.isEmpty())
            folder = root;
        else
            out.pathPanel = folder; // shown as read, before the existence test
        if (isUsableFolder(folder)) {
            out.paneFolder = platform::lowerPath(folder);
        } else {
            folder = root;
            out.paneFolder = root;
        }
        out.pathPanel = folder;
    }
    out.listFile = defaultListFile(out.pathPanel);
    return out;
}

QString defaultListFile(const QString& folder)
{
    return platform::joinPath(folder, platform::kDefaultListFileName);
}

} // namespace vexlo
