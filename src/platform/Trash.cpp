// SPDX-License-Identifier: MIT
#include "platform/Trash.h"

#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::platform {

namespace {

bool isFolderNotLink(const QString& path, bool stickyShared, uid_t owner)
{
    struct stat st = {};
    if (::lstat(encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return stickyShared ? (st.st_mode & S_ISVTX) != 0 : st.st_uid == owner;
}

// Whether the file system of realPath has a Trash for this user: the home
// file system has the user's own (made on first use, as the desktop does);
// another one only when a Trash folder stands at its top already. A drive
// that never had one is not given one by deleting a file on it.
bool hasTrash(const QString& realPath)
{
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QStorageInfo where(QFileInfo(realPath).absolutePath());
    if (home.isEmpty() || !where.isValid())
        return false;
    if (where.rootPath() == QStorageInfo(QDir::homePath()).rootPath())
        // Qt would otherwise make its Trash in the current folder when the
        // data folder is missing.
        return makeOwnFolder(home);
    const QString top = where.rootPath();
    const uid_t uid = ::getuid();
    return isFolderNotLink(top + QStringLiteral("/.Trash"), true, uid) ||
           isFolderNotLink(top + QStringLiteral("/.Trash-") + QString::number(uid), false, uid);
}

} // namespace

Discarded discardFile(const QString& realPath)
{
    // Qt moves the name itself (a rename), so a link goes to the Trash as a
    // link. Qt spells a name in UTF-8; one whose bytes are not UTF-8 would
    // reach another file (the one named with replacement characters), so
    // such a name is only ever removed through its own bytes, as is a file
    // whose file system has no Trash.
    const QByteArray bytes = encodeName(realPath);
    if (QFile::encodeName(realPath) == bytes && hasTrash(realPath)) {
        if (QFile::moveToTrash(realPath))
            return Discarded::ToTrash;
        qCInfo(lcPlatform) << "could not move to the Trash:" << realPath;
    }
    if (::unlink(bytes.constData()) == 0)
        return Discarded::Removed;
    return Discarded::Failed;
}

} // namespace vexlo::platform
