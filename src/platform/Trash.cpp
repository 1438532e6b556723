// SPDX-License-Identifier: MIT
#include "platform/Trash.h"

#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/UniqueFd.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

// The desktop Trash, laid out as freedesktop.org sets it down for desktops.
// Qt has QFile::moveToTrash, but it spells names in UTF-8 (a DOS-named file
// would be missed, or another file hit), falls back to the current folder
// when the Trash cannot be made, and looks at a link's target rather than
// the link. So the few steps are done here, on the name's own bytes and
// through folder descriptors.

namespace vexlo::platform {

namespace {

// A folder of ours inside the Trash, opened without following a link:
// made when missing, and refused when it is anything else.
int openOwnFolderAt(int parent, const char* name)
{
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
        return -1;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_uid != ::getuid())) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

struct TrashPlace {
    QByteArray folder; // the Trash folder (holding files/ and info/)
    QByteArray top;    // empty for the home Trash; else the file system's top, for relative paths
};

bool isOwnFolder(const QByteArray& path, bool mayBeShared)
{
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // The shared .Trash at a file system's top is the administrator's, and
    // sticky, so that nobody removes another user's folder in it.
    return mayBeShared ? (st.st_mode & S_ISVTX) != 0 : st.st_uid == ::getuid();
}

// Where a file on the device `device` goes: the user's own Trash for the
// home file system (made on first use, as the desktop does); on another file
// system only a Trash that stands at its top already. Nothing: the file
// system has no Trash, and Delete deletes.
std::optional<TrashPlace> trashFor(const QByteArray& path, dev_t device)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    struct stat st = {};
    if (!data.isEmpty() && makeOwnFolder(data) && ::stat(encodeName(data).constData(), &st) == 0 &&
        st.st_dev == device)
        return TrashPlace{encodeName(data) + "/Trash", QByteArray()};

    const QString top = QStorageInfo(decodeName(path.left(path.lastIndexOf('/') + 1))).rootPath();
    if (top.isEmpty())
        return std::nullopt;
    const QByteArray topBytes = top == QStringLiteral("/") ? QByteArray() : encodeName(top);
    const QByteArray uid = QByteArray::number(::getuid());
    if (isOwnFolder(topBytes + "/.Trash", true) &&
        ::stat((topBytes + "/.Trash").constData(), &st) == 0 && st.st_dev == device)
        return TrashPlace{topBytes + "/.Trash/" + uid, topBytes.isEmpty() ? "/" : topBytes};
    if (isOwnFolder(topBytes + "/.Trash-" + uid, false) &&
        ::stat((topBytes + "/.Trash-" + uid).constData(), &st) == 0 && st.st_dev == device)
        return TrashPlace{topBytes + "/.Trash-" + uid, topBytes.isEmpty() ? "/" : topBytes};
    return std::nullopt;
}

// name, name.2, name.3 ... : the first one free in both files/ and info/.
QByteArray candidate(const QByteArray& name, int n)
{
    return n == 1 ? name : name + '.' + QByteArray::number(n);
}

Discarded moveIntoTrash(const QByteArray& path, const TrashPlace& place)
{
    // The Trash folder itself may be made inside an administrator's .Trash;
    // the home one inside our data folder.
    const qsizetype cut = place.folder.lastIndexOf('/');
    UniqueFd parent(::open(place.folder.left(cut).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0)
        return Discarded::Failed;
    UniqueFd trash(openOwnFolderAt(parent.get(), place.folder.mid(cut + 1).constData()));
    if (trash.get() < 0)
        return Discarded::Failed;
    UniqueFd files(openOwnFolderAt(trash.get(), "files"));
    UniqueFd info(openOwnFolderAt(trash.get(), "info"));
    if (files.get() < 0 || info.get() < 0)
        return Discarded::Failed;

    QByteArray shownPath = path;
    if (!place.top.isEmpty())
        shownPath = path.mid(place.top == "/" ? 1 : place.top.size() + 1);
    const QByteArray record =
        "[Trash Info]\nPath=" + shownPath.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        "\n";
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    for (int n = 1; n < 10000; ++n) {
        const QByteArray entry = candidate(name, n);
        const QByteArray infoName = entry + ".trashinfo";
        // The record comes first and claims the name; the move follows.
        const int fd = ::openat(info.get(), infoName.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Discarded::Failed;
        }
        const bool written = writeAll(fd, record);
        const bool closed = ::close(fd) == 0;
        if (written && closed &&
            ::renameat2(AT_FDCWD, path.constData(), files.get(), entry.constData(),
                        RENAME_NOREPLACE) == 0)
            return Discarded::ToTrash;
        const int error = errno;
        ::unlinkat(info.get(), infoName.constData(), 0);
        if (written && closed && error == EEXIST)
            continue; // a file of that name lies in files/ without a record
        errno = error;
        return Discarded::Failed;
    }
    errno = EEXIST;
    return Discarded::Failed;
}

} // namespace

Discarded discardFile(const QString& realPath)
{
    const QByteArray path = encodeName(realPath);
    struct stat st = {};
    if (path.isEmpty() || path[0] != '/' || ::lstat(path.constData(), &st) != 0)
        return Discarded::Failed;
    // The name itself is moved: a link goes to the Trash as a link, from
    // the file system the link lies on.
    if (const std::optional<TrashPlace> place = trashFor(path, st.st_dev)) {
        const Discarded result = moveIntoTrash(path, *place);
        if (result == Discarded::Failed)
            // Never deleted for good instead: the user counts on the Trash.
            qCInfo(lcPlatform) << "could not move to the Trash:" << realPath << strerror(errno);
        return result;
    }
    if (::unlink(path.constData()) == 0)
        return Discarded::Removed;
    return Discarded::Failed;
}

} // namespace vexlo::platform
