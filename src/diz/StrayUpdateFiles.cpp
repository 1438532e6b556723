#include "diz/StrayUpdateFiles.h"

#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

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

constexpr int kTempLetters = 6;

bool isTempLetter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool matchesPattern(const QByteArray& name, const QByteArray& archiveName)
{
    if (name.size() != archiveName.size() + 1 + kTempLetters || !name.startsWith(archiveName) ||
        name.at(archiveName.size()) != '.')
        return false;
    for (qsizetype i = archiveName.size() + 1; i < name.size(); ++i) {
        if (!isTempLetter(name.at(i)))
            return false;
    }
    return true;
}

// Empty, or the first bytes are (the start of) a local header "PK\3\4" or
// an end record "PK\5\6".
bool startsLikeUpdateOutput(int fd, off_t size)
{
    if (size == 0)
        return true;
    char head[4] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got <= 0)
        return false;
    static const char local[4] = {'P', 'K', 3, 4};
    static const char end[4] = {'P', 'K', 5, 6};
    return std::memcmp(head, local, size_t(got)) == 0 || std::memcmp(head, end, size_t(got)) == 0;
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

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
    const Fd fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    struct stat opened;
    if (::fstat(fd.get(), &opened) != 0 || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino || !startsLikeUpdateOutput(fd.get(), opened.st_size))
        return false;
    // Granted only when no other descriptor of the file is open anywhere.
    // An open by another process while we hold it would send us SIGIO: no
    // owner for the signal, and the caller ignores it meanwhile.
    if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) != 0)
        return false;
    ::fcntl(fd.get(), F_SETOWN, 0);
    // The name must still be the file we looked at.
    struct stat again;
    bool removed = false;
    if (::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_dev == st.st_dev &&
        again.st_ino == st.st_ino)
        removed = ::unlinkat(dirFd, name, 0) == 0;
    ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return removed;
}

} // namespace

bool isUpdateTempName(const QString& name, const QString& archiveName)
{
    return matchesPattern(platform::encodeName(name), platform::encodeName(archiveName));
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

// The archive name a candidate leftover belongs to: the name without its
// "." and six letters; empty when the name is no candidate.
QByteArray leftoverBase(const QByteArray& name)
{
    const qsizetype baseLength = name.size() - 1 - kTempLetters;
    if (baseLength < 1 || name.at(baseLength) != '.')
        return QByteArray();
    for (qsizetype i = baseLength + 1; i < name.size(); ++i) {
        if (!isTempLetter(name.at(i)))
            return QByteArray();
    }
    return name.left(baseLength);
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
    const QByteArray folder = folderOf(realArchive);
    struct stat archive;
    if (::stat(platform::encodeName(realArchive).constData(), &archive) != 0)
        return 0;
    const Fd dirFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
            const QByteArray base = leftoverBase(name);
            if (!base.isEmpty())
                m_byArchive[base].push_back(name);
        }
        ::closedir(dir);
        m_folder = folder;
        m_stamp = now;
    }

    const auto found = m_byArchive.find(archiveName);
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
    const Fd dirFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0 || !stampOf(dirFd.get(), m_stamp))
        m_folder.clear();
}

} // namespace vexlo::diz
