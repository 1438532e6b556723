// SPDX-License-Identifier: MIT
#include "platform/FileReplacement.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace vexlo::platform {

namespace {

constexpr char kLeftoverMark[] = ".vexlo32-";
constexpr qsizetype kMarkLength = sizeof kLeftoverMark - 1;
constexpr qsizetype kRandomLength = 10;
constexpr qsizetype kNameMax = 255;
constexpr char kRandomLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kNameAttempts = 100;
constexpr int kLockPollMs = 20;

bool isRandomLetter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool canKeepOwnership(const struct stat& st)
{
    const uid_t uid = ::geteuid();
    if (uid == 0)
        return true; // root may; a refusal (a squashed root on NFS) shows at fchown
    if (st.st_uid != uid)
        return false;
    if (st.st_gid == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[size_t(i)] == st.st_gid)
            return true;
    }
    return false;
}

namespace {

QByteArray procPath(int fd)
{
    return QByteArray("/proc/self/fd/") + QByteArray::number(fd);
}

QByteArray hiddenNameFor(const QByteArray& fileName)
{
    QByteArray name = '.' + FileReplacement::ownerKey(fileName) + kLeftoverMark;
    QRandomGenerator* random = QRandomGenerator::global();
    for (qsizetype i = 0; i < kRandomLength; ++i)
        name += kRandomLetters[random->bounded(int(sizeof kRandomLetters - 1))];
    return name;
}

// Copies the extended attributes of one open file to another. POSIX ACLs
// (system.*) must arrive: without them the new version could be open to
// someone the old one shut out. Other names the kernel sets itself or
// keeps for the privileged (security.*, trusted.*) are taken where allowed.
// Links an unnamed file into its folder under a hidden name of our form for
// fileName. 0, or the errno of the failure.
int giveHiddenName(int dirFd, int fd, const QByteArray& fileName, QByteArray& name)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name = hiddenNameFor(fileName);
        if (::linkat(AT_FDCWD, procPath(fd).constData(), dirFd, name.constData(),
                     AT_SYMLINK_FOLLOW) == 0 ||
            // Without /proc: what only a privileged process may do.
            (errno == ENOENT && ::linkat(fd, "", dirFd, name.constData(), AT_EMPTY_PATH) == 0))
            return 0;
        if (errno != EEXIST) {
            name.clear();
            return errno;
        }
    }
    name.clear();
    return EEXIST;
}

// A new file in a folder: unnamed where the file system allows, otherwise
// under a hidden name of our form (name set). -1 with errno on failure.
int createNewFile(int dirFd, const QByteArray& fileName, mode_t mode, QByteArray& name)
{
    name.clear();
    const int fd = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT))
        return fd;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray candidate = hiddenNameFor(fileName);
        const int named = ::openat(dirFd, candidate.constData(),
                                   O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (named >= 0) {
            name = candidate;
            return named;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Splits a path into its folder and its last component.
void splitPath(const QByteArray& path, QByteArray& folder, QByteArray& name)
{
    const qsizetype slash = path.lastIndexOf('/');
    folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    name = path.mid(slash + 1);
}

// The names of a file's extended attributes; false when they cannot be
// listed (none at all where the file system has none).
bool attributeNames(int fd, std::vector<QByteArray>& out)
{
    out.clear();
    std::vector<char> names;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP || errno == ENOSYS;
        names.resize(size_t(size));
        const ssize_t got = size > 0 ? ::flistxattr(fd, names.data(), names.size()) : 0;
        if (got >= 0) {
            names.resize(size_t(got));
            for (size_t at = 0; at < names.size();) {
                const QByteArray name(names.data() + at);
                at += size_t(name.size()) + 1;
                if (!name.isEmpty())
                    out.push_back(name);
            }
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

// Gives one open file the extended attributes of another: POSIX ACLs
// (system.*) must arrive, and those the new file got from its folder (a
// default ACL) but the old one lacks must go, or the new version could be
// open to someone the old one shut out. Other names the kernel sets itself
// or keeps for the privileged (security.*, trusted.*) are taken where
// allowed.
bool copyExtendedAttributes(int from, int to)
{
    std::vector<QByteArray> wanted, present;
    if (!attributeNames(from, wanted) || !attributeNames(to, present))
        return false;
    auto required = [](const QByteArray& name) { return name.startsWith("system."); };
    for (const QByteArray& name : present) {
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() &&
            ::fremovexattr(to, name.constData()) != 0 && required(name) && errno != ENODATA)
            return false;
    }
    std::vector<char> value;
    for (const QByteArray& name : wanted) {
        ssize_t got = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (got >= 0) {
            value.resize(size_t(got) + 1);
            got = ::fgetxattr(from, name.constData(), value.data(), value.size());
        }
        if ((got < 0 || ::fsetxattr(to, name.constData(), value.data(), size_t(got), 0) != 0) &&
            required(name))
            return false;
    }
    return true;
}

} // namespace

FileReplacement::~FileReplacement()
{
    discard();
}

FileReplacement::Result FileReplacement::fail(Result result, int error)
{
    m_errno = error;
    return result;
}

QByteArray FileReplacement::ownerKey(const QByteArray& fileName)
{
    const qsizetype room = kNameMax - 1 - kMarkLength - kRandomLength;
    return fileName.size() > room ? fileName.left(room) : fileName;
}

QByteArray FileReplacement::leftoverOwnerKey(const QByteArray& name)
{
    const qsizetype keyLength = name.size() - 1 - kMarkLength - kRandomLength;
    if (keyLength < 1 || name.at(0) != '.' ||
        std::memcmp(name.constData() + 1 + keyLength, kLeftoverMark, size_t(kMarkLength)) != 0)
        return QByteArray();
    for (qsizetype i = name.size() - kRandomLength; i < name.size(); ++i) {
        if (!isRandomLetter(name.at(i)))
            return QByteArray();
    }
    return name.mid(1, keyLength);
}

bool FileReplacement::isLeftoverName(const QByteArray& name, const QByteArray& fileName)
{
    const QByteArray key = leftoverOwnerKey(name);
    return !key.isEmpty() && key == ownerKey(fileName);
}

FileReplacement::Result FileReplacement::open(const QByteArray& path, int lockWaitMs)
{
    discard();
    QByteArray folder;
    splitPath(path, folder, m_name);
    if (m_name.isEmpty() || m_name == "." || m_name == "..")
        return fail(Result::CannotOpen, EINVAL);
    m_dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        return fail(Result::CannotOpen, errno);
    // O_NOFOLLOW: a link put at the name since it was resolved is refused.
    // O_NONBLOCK: a FIFO there never blocks us.
    m_fd = ::openat(m_dirFd, m_name.constData(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        closeRead();
        return fail(Result::CannotOpen, error);
    }
    if (::fstat(m_fd, &m_original) != 0) {
        const int error = errno;
        closeRead();
        return fail(Result::CannotOpen, error);
    }
    if (!S_ISREG(m_original.st_mode)) {
        const bool folder = S_ISDIR(m_original.st_mode);
        closeRead();
        return folder ? fail(Result::CannotOpen, EISDIR) : fail(Result::NotRegular, EINVAL);
    }
    if (m_original.st_nlink > 1) {
        closeRead();
        return fail(Result::HardLinked, EMLINK);
    }
    if (!canKeepOwnership(m_original)) {
        closeRead();
        return fail(Result::NotPermitted, EPERM);
    }
    const Result locked = lock(lockWaitMs);
    if (locked != Result::Ok) {
        closeRead();
        return locked;
    }
    // While we waited, another update may have put a new version in place:
    // then ours is the old one, and the caller must open the name again.
    struct stat now;
    if (::fstatat(m_dirFd, m_name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(now, m_original)) {
        closeRead();
        return fail(Result::Moved, ESTALE);
    }
    // What it is as the lock was taken: what the commit compares with.
    if (::fstat(m_fd, &m_original) != 0 || m_original.st_nlink > 1) {
        const int error = errno;
        closeRead();
        return fail(Result::Changed, error);
    }
    return Result::Ok;
}

FileReplacement::Result FileReplacement::lock(int lockWaitMs)
{
    // A write lock needs a descriptor open for writing: the same file opened
    // again through our own descriptor, so that it cannot be another one.
    // A read-only file of ours (which the update may still replace) gets a
    // read lock: two copies of the program are then told apart by the check
    // of the name at the commit instead.
    m_lockFd = ::open(procPath(m_fd).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat reopened;
    if (m_lockFd >= 0 && (::fstat(m_lockFd, &reopened) != 0 || !sameFile(reopened, m_original))) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    struct flock range {};
    range.l_type = m_lockFd >= 0 ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0; // the whole file
    const int lockOn = m_lockFd >= 0 ? m_lockFd : m_fd;
    struct timespec start {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (::fcntl(lockOn, F_OFD_SETLK, &range) == 0)
            return Result::Ok;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EACCES)
            return Result::Ok; // no such locks here (ENOLCK, EINVAL): the checks remain
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 waited =
            qint64(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (waited >= lockWaitMs)
            return fail(Result::Busy, EAGAIN);
        const struct timespec pause = {0, kLockPollMs * 1000000L};
        ::nanosleep(&pause, nullptr);
        range.l_pid = 0;
    }
}

FileReplacement::Result FileReplacement::beginWrite()
{
    if (m_fd < 0 || m_writeFd >= 0)
        return fail(Result::CannotWrite, EINVAL);
    m_writeFd = createNewFile(m_dirFd, m_name, 0600, m_writeName);
    return m_writeFd >= 0 ? Result::Ok : fail(Result::CannotWrite, errno);
}

bool FileReplacement::sameAsOpened(const struct stat& st) const
{
    return sameFile(st, m_original);
}

bool FileReplacement::unchangedSinceOpened() const
{
    struct stat now;
    return ::fstat(m_fd, &now) == 0 && now.st_size == m_original.st_size &&
           now.st_nlink == m_original.st_nlink && sameTime(now.st_mtim, m_original.st_mtim) &&
           sameTime(now.st_ctim, m_original.st_ctim);
}

bool flushFolder(int dirFd)
{
    return ::fsync(dirFd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
}

FileReplacement::Result FileReplacement::commit(int* folderToFlush)
{
    if (m_writeFd < 0)
        return fail(Result::CannotWrite, EINVAL);
    struct stat written;
    if (::fstat(m_writeFd, &written) != 0)
        return fail(Result::CannotWrite, errno);
    // The owner first: changing it clears the set-id bits that fchmod then
    // sets again.
    if ((written.st_uid != m_original.st_uid || written.st_gid != m_original.st_gid) &&
        ::fchown(m_writeFd, m_original.st_uid, m_original.st_gid) != 0)
        return fail(Result::NotPermitted, errno);
    if (!copyExtendedAttributes(m_fd, m_writeFd))
        return fail(Result::CannotWrite, errno);
    if (::fchmod(m_writeFd, m_original.st_mode & 07777) != 0)
        return fail(Result::CannotWrite, errno);
    // The data must be on the disk before a name points at it, or a crash
    // could leave an empty or torn file behind the old name.
    if (::fsync(m_writeFd) != 0)
        return fail(Result::CannotWrite, errno);
    if (m_writeName.isEmpty()) {
        const Result named = nameTheNewFile();
        if (named != Result::Ok)
            return named;
    }
    const Result placed = putInPlace();
    if (placed != Result::Ok)
        return placed;
    // The exchange and the removal live in the folder.
    int error = 0;
    if (folderToFlush)
        *folderToFlush = ::fcntl(m_dirFd, F_DUPFD_CLOEXEC, 0);
    else if (!flushFolder(m_dirFd))
        error = errno;
    ::close(m_writeFd);
    m_writeFd = -1;
    closeRead();
    return error ? fail(Result::NotFlushed, error) : Result::Ok;
}

FileReplacement::Result FileReplacement::nameTheNewFile()
{
    const int error = giveHiddenName(m_dirFd, m_writeFd, m_name, m_writeName);
    return error ? fail(Result::CannotWrite, error) : Result::Ok;
}

FileReplacement::Result FileReplacement::putInPlace()
{
    auto stillOurs = [this](struct stat& st) {
        return ::fstatat(m_dirFd, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               sameAsOpened(st);
    };
    struct stat there;
    if (!unchangedSinceOpened() || !stillOurs(there))
        return fail(Result::Changed, ESTALE);

    if (::renameat2(m_dirFd, m_writeName.constData(), m_dirFd, m_name.constData(),
                    RENAME_EXCHANGE) == 0) {
        // What the exchange took out must be the file we read, still as we
        // read it (its change time moved with the exchange itself). If
        // another program put its version there, or wrote into ours, at
        // the last moment, that goes back.
        struct stat out, now;
        if (::fstatat(m_dirFd, m_writeName.constData(), &out, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameAsOpened(out) && ::fstat(m_fd, &now) == 0 && now.st_size == m_original.st_size &&
            sameTime(now.st_mtim, m_original.st_mtim)) {
            ::unlinkat(m_dirFd, m_writeName.constData(), 0);
            m_writeName.clear();
            return Result::Ok;
        }
        if (::renameat2(m_dirFd, m_writeName.constData(), m_dirFd, m_name.constData(),
                        RENAME_EXCHANGE) == 0)
            return fail(Result::Changed, ESTALE);
        // Ours is at the name and theirs under our hidden one, where the
        // clean-up of leftovers would take it: it gets a name of its own.
        const int error = errno;
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            QByteArray kept = m_name + ".other-version-";
            QRandomGenerator* random = QRandomGenerator::global();
            for (qsizetype i = 0; i < kRandomLength; ++i)
                kept += kRandomLetters[random->bounded(int(sizeof kRandomLetters - 1))];
            if (::renameat2(m_dirFd, m_writeName.constData(), m_dirFd, kept.constData(),
                            RENAME_NOREPLACE) == 0) {
                m_writeName.clear();
                break;
            }
            if (errno != EEXIST)
                break;
        }
        return fail(Result::Conflict, error);
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return fail(Result::CannotWrite, errno);
    // No exchange on this file system: the check above is the last word.
    if (::renameat(m_dirFd, m_writeName.constData(), m_dirFd, m_name.constData()) != 0)
        return fail(Result::CannotWrite, errno);
    m_writeName.clear();
    return Result::Ok;
}

void FileReplacement::closeRead()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock as well
    m_fd = -1;
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_dirFd = -1;
}

void FileReplacement::discard()
{
    if (m_writeFd >= 0) {
        // A named new version goes, but only while that name is still it.
        struct stat mine, there;
        if (!m_writeName.isEmpty() && m_dirFd >= 0 && ::fstat(m_writeFd, &mine) == 0 &&
            ::fstatat(m_dirFd, m_writeName.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(mine, there))
            ::unlinkat(m_dirFd, m_writeName.constData(), 0);
        ::close(m_writeFd);
    }
    m_writeFd = -1;
    m_writeName.clear();
    closeRead();
}

// --- a new file in place of whatever is at a name --------------------------

NewFileAt::~NewFileAt()
{
    discard();
}

bool NewFileAt::begin(const QByteArray& path)
{
    discard();
    QByteArray folder;
    splitPath(path, folder, m_name);
    if (m_name.isEmpty() || m_name == "." || m_name == "..") {
        errno = EISDIR;
        return false;
    }
    m_dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        return false;
    struct stat there;
    m_hadFile = ::fstatat(m_dirFd, m_name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0;
    if (m_hadFile && S_ISDIR(there.st_mode)) {
        discard();
        errno = EISDIR;
        return false;
    }
    if (m_hadFile)
        m_previous = there;
    // Created as any new file (0666 less the umask); a previous file lends
    // its owner and group where we may give them, and its permissions.
    m_fd = createNewFile(m_dirFd, m_name, 0666, m_tempName);
    if (m_fd < 0) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    if (m_hadFile && S_ISREG(there.st_mode)) {
        if (::geteuid() == 0 && ::fchown(m_fd, there.st_uid, there.st_gid) != 0) {
            // Best effort: the list stays ours.
        }
        ::fchmod(m_fd, there.st_mode & 0777);
    }
    return ::fstat(m_fd, &m_new) == 0;
}

bool NewFileAt::isThisFile(dev_t device, ino_t inode) const
{
    auto is = [&](const struct stat& st) { return st.st_dev == device && st.st_ino == inode; };
    return m_fd >= 0 && (is(m_new) || (m_hadFile && S_ISREG(m_previous.st_mode) && is(m_previous)));
}

bool NewFileAt::commit()
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (::fsync(m_fd) != 0)
        return false;
    if (m_tempName.isEmpty()) {
        const int error = giveHiddenName(m_dirFd, m_fd, m_name, m_tempName);
        if (error) {
            errno = error;
            return false;
        }
    }
    // rename replaces the entry itself: a link there is never followed.
    if (::renameat(m_dirFd, m_tempName.constData(), m_dirFd, m_name.constData()) != 0)
        return false;
    m_tempName.clear();
    const bool flushed = flushFolder(m_dirFd);
    const int error = errno;
    discard();
    errno = error;
    return flushed;
}

void NewFileAt::discard()
{
    if (m_fd >= 0) {
        struct stat there;
        if (!m_tempName.isEmpty() &&
            ::fstatat(m_dirFd, m_tempName.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(there, m_new))
            ::unlinkat(m_dirFd, m_tempName.constData(), 0);
        ::close(m_fd);
    }
    m_fd = -1;
    m_tempName.clear();
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_dirFd = -1;
    m_hadFile = false;
}

// --- where output goes ------------------------------------------------------

OutputTarget outputTargetFor(const QByteArray& given)
{
    constexpr int kMaxLinks = 8;
    QByteArray path = given;
    OutputTarget out;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) {
            if (errno != ENOENT) {
                out.error = errno;
                return out;
            }
            out.kind = OutputTarget::Kind::Replace; // created
            out.path = path;
            return out;
        }
        if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) {
            out.kind = OutputTarget::Kind::Replace;
            out.path = path;
            return out;
        }
        if (S_ISCHR(st.st_mode)) {
            out.kind = OutputTarget::Kind::Stream;
            out.path = path;
            return out;
        }
        if (!S_ISLNK(st.st_mode)) {
            out.error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return out;
        }
        if (st.st_uid != ::geteuid() && st.st_uid != 0) {
            // Someone else's link: at the path itself it is replaced; further
            // along a chain of ours it is not followed, nor written over.
            if (hop > 0) {
                out.error = EACCES;
                return out;
            }
            out.kind = OutputTarget::Kind::Replace;
            out.path = path;
            return out;
        }
        // The kernel's own links (/dev/stdout, /proc/self/fd/1) lead to what
        // is open: written into as it is, never replaced.
        if (path.startsWith("/proc/")) {
            out.kind = OutputTarget::Kind::Stream;
            out.path = path;
            out.inPlace = true; // "> file" opened it already: written as the shell meant
            return out;
        }
        // Our own link, or root's: on to where it leads, one step at a time.
        QByteArray link(4096, '\0');
        const ssize_t length = ::readlink(path.constData(), link.data(), size_t(link.size()));
        if (length < 0 || length >= link.size()) {
            out.error = length < 0 ? errno : ENAMETOOLONG;
            return out;
        }
        link.resize(length);
        if (!link.startsWith('/')) {
            const qsizetype slash = path.lastIndexOf('/');
            link = (slash < 0 ? QByteArray() : path.left(slash + 1)) + link;
        }
        path = link;
    }
    out.error = ELOOP;
    return out;
}

int openOutputStream(const OutputTarget& target)
{
    const int fd = ::open(target.path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // What was opened must be a device or a pipe: a regular file is never
    // written into in place (a list replaces it whole), whatever a link
    // swapped meanwhile leads to.
    struct stat st;
    if (::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && !target.inPlace) || S_ISDIR(st.st_mode) ||
        S_ISBLK(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int openListInPlace(const QByteArray& path)
{
    const int fd =
        ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace vexlo::platform
