// SPDX-License-Identifier: MIT
#include "diz/StrayUpdateFiles.h"

#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexlo::diz {

namespace {

bool removeIfStray(int dirFd, const char* name, const struct stat& archive)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_nlink != 1)
        return false;
    if (st.st_dev == archive.st_dev && st.st_ino == archive.st_ino)
        return false;
    if (st.st_uid != ::geteuid() && st.st_uid != archive.st_uid)
        return false;
    // O_NONBLOCK: a lease someone else holds makes open fail instead of wait.
    const platform::UniqueFd fd(
        ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    struct stat opened;
    if (::fstat(fd.get(), &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)
        return false;
    // Granted only when no other descriptor of the file is open anywhere.
    // An open by another process while we hold it would send us SIGIO: no
    // owner for the signal, and the caller ignores it meanwhile.
    if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) != 0) {
        qCInfo(lcZip) << "leftover kept, it is open elsewhere:" << name;
        return false;
    }
    ::fcntl(fd.get(), F_SETOWN, 0);
    // The name must still be the file we looked at.
    struct stat again;
    bool removed = false;
    if (::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_dev == st.st_dev &&
        again.st_ino == st.st_ino) {
        removed = ::unlinkat(dirFd, name, 0) == 0;
        if (!removed)
            qCInfo(lcZip) << "leftover kept:" << name << std::strerror(errno);
    }
    ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return removed;
}

} // namespace

bool isUpdateTempName(const QString& name, const QString& archiveName)
{
    return platform::FileReplacement::isLeftoverName(platform::encodeName(name),
                                                     platform::encodeName(archiveName));
}

int removeStrayUpdateFiles(const QString& realArchive)
{
    StrayUpdateCleaner cleaner;
    return cleaner.removeFor(realArchive);
}

namespace {

QByteArray folderOf(const QString& realArchive)
{
    QString folder = platform::parentPath(realArchive);
    if (folder.isEmpty())
        folder = QStringLiteral(".");
    return platform::encodeName(folder);
}

} // namespace

bool StrayUpdateCleaner::stampOf(int dirFd, Stamp& out)
{
    struct stat st;
    if (::fstat(dirFd, &st) != 0)
        return false;
    out.modifiedSec = st.st_mtim.tv_sec;
    out.modifiedNsec = st.st_mtim.tv_nsec;
    out.changedSec = st.st_ctim.tv_sec;
    out.changedNsec = st.st_ctim.tv_nsec;
    return true;
}

int StrayUpdateCleaner::removeFor(const QString& realArchive)
{
    const QByteArray archiveName = platform::encodeName(platform::lastComponent(realArchive));
    if (archiveName.isEmpty())
        return 0;
    const QByteArray key = platform::FileReplacement::ownerKey(archiveName);
    const QByteArray folder = folderOf(realArchive);
    struct stat archive;
    if (::stat(platform::encodeName(realArchive).constData(), &archive) != 0)
        return 0;
    const platform::UniqueFd dirFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0)
        return 0;
    Stamp now;
    if (!stampOf(dirFd.get(), now))
        return 0;

    if (folder != m_folder || now != m_stamp) {
        // List afresh. The times are taken before the listing: a change
        // during it makes the next call list again.
        m_folder.clear();
        m_byArchive.clear();
        const int listFd = ::dup(dirFd.get());
        DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!dir) {
            if (listFd >= 0)
                ::close(listFd);
            return 0;
        }
        while (dirent* ent = ::readdir(dir)) {
            const QByteArray name(ent->d_name);
            const QByteArray owner = platform::FileReplacement::leftoverOwnerKey(name);
            if (!owner.isEmpty())
                m_byArchive[owner].push_back(name);
        }
        ::closedir(dir);
        m_folder = folder;
        m_stamp = now;
    }

    const auto found = m_byArchive.find(key);
    if (found == m_byArchive.end())
        return 0;
    // SIGIO ends a process by default; a lease broken by another process's
    // open must not end ours.
    struct sigaction ignore = {};
    struct sigaction previous = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    const bool ignoring = ::sigaction(SIGIO, nullptr, &previous) == 0 &&
                          previous.sa_handler == SIG_DFL &&
                          ::sigaction(SIGIO, &ignore, nullptr) == 0;
    int removed = 0;
    std::vector<QByteArray> kept; // in use or not ours: looked at again next time
    for (const QByteArray& name : found->second) {
        if (removeIfStray(dirFd.get(), name.constData(), archive))
            ++removed;
        else
            kept.push_back(name);
    }
    if (ignoring)
        ::sigaction(SIGIO, &previous, nullptr);
    if (kept.empty())
        m_byArchive.erase(found);
    else
        found->second = std::move(kept);
    // What we removed changed the folder; that needs no new listing.
    if (removed > 0 && !stampOf(dirFd.get(), m_stamp))
        m_folder.clear();
    return removed;
}

void StrayUpdateCleaner::noteOwnChange(const QString& realArchive)
{
    const QByteArray folder = folderOf(realArchive);
    if (folder != m_folder)
        return;
    const platform::UniqueFd dirFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0 || !stampOf(dirFd.get(), m_stamp))
        m_folder.clear();
}

} // namespace vexlo::diz
