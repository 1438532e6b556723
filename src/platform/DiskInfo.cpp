// SPDX-License-Identifier: MIT
#include "platform/DiskInfo.h"

#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QByteArray>

#include <cerrno>
#include <climits>
#include <limits>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vexlo::platform {

namespace {

QString currentFolder()
{
    // getcwd keeps the bytes of the name; the result goes through the same
    // decoding as every other name the program holds.
    QByteArray buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), size_t(buffer.size())) == nullptr) {
        if (errno != ERANGE)
            return QString();
        buffer.resize(buffer.size() * 2);
    }
    return platform::decodeName(QByteArray(buffer.constData()));
}

QString absolutePath(const QString& path)
{
    if (path.startsWith(platform::kSeparator))
        return path;
    const QString here = currentFolder();
    if (here.isEmpty())
        return QString();
    return path.isEmpty() ? here : platform::joinPath(here, path);
}

} // namespace

QString DiskInfo::judgedFolder(const QString& path)
{
    const QString absolute = absolutePath(path);
    if (absolute.isEmpty())
        return QString();
    QString current = absolute;
    for (;;) {
        const QByteArray native = platform::encodeName(current);
        struct stat st;
        if (::stat(native.constData(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                return current;
            // An existing file (or device): what counts is the folder
            // around it, where a replacement would be created.
        } else if (errno != ENOENT) {
            // EACCES, ENOTDIR, ELOOP...: we cannot tell whether the path
            // could be created, so it cannot be written either.
            return QString();
        }
        const QString parent = platform::parentPath(current);
        if (parent.isEmpty() || parent == current)
            return QString();
        current = parent;
    }
}

namespace {
std::function<qint64(const QString&)>& freeSpaceOverride()
{
    static std::function<qint64(const QString&)> answer;
    return answer;
}
} // namespace

void DiskInfo::setFreeSpaceOverride(std::function<qint64(const QString& path)> answer)
{
    freeSpaceOverride() = std::move(answer);
}

qint64 DiskInfo::FreeSpace() const
{
    if (freeSpaceOverride())
        return freeSpaceOverride()(m_path);
    const QString folder = judgedFolder(m_path);
    if (folder.isEmpty() || !platform::isWritableFolder(folder))
        return 0;

    struct statvfs vfs;
    if (::statvfs(platform::encodeName(folder).constData(), &vfs) != 0)
        return 0;
    if (vfs.f_flag & ST_RDONLY)
        return 0;

    // Done in 128 bits: block count times block size must not wrap.
    const unsigned __int128 blockSize = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    const unsigned __int128 kib = blockSize * vfs.f_bavail / 1024;
    const unsigned __int128 cap = std::numeric_limits<qint32>::max();
    return qint64(kib < cap ? kib : cap);
}

} // namespace vexlo::platform
