// SPDX-License-Identifier: MIT
#include "platform/FileSystem.h"

#include "platform/FileReplacement.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexlo::platform {

namespace {

bool lexists(const QByteArray& native)
{
    struct stat st;
    return ::lstat(native.constData(), &st) == 0;
}

// The one entry of a folder whose name equals the given one without regard
// to letter case; an empty text when none does, or when two or more do.
QString matchInFolder(const QString& folder, const QString& name)
{
    const QByteArray native = encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        return QString();
    QString found;
    int matches = 0;
    while (dirent* ent = ::readdir(dir)) {
        const QString candidate = decodeName(QByteArray(ent->d_name));
        if (candidate.compare(name, Qt::CaseInsensitive) == 0) {
            found = candidate;
            if (++matches > 1)
                break;
        }
    }
    ::closedir(dir);
    return matches == 1 ? found : QString();
}

QDateTime toLocal(const struct timespec& ts)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

FileStat fromStat(const struct stat& st)
{
    FileStat out;
    out.ok = true;
    out.isDir = S_ISDIR(st.st_mode);
    out.isFile = S_ISREG(st.st_mode);
    out.isLink = S_ISLNK(st.st_mode);
    out.size = qint64(st.st_size);
    out.modified = toLocal(st.st_mtim);
    out.device = st.st_dev;
    out.inode = st.st_ino;
    out.mode = st.st_mode;
    out.owner = st.st_uid;
    return out;
}

} // namespace

namespace {
// Set once at start-up by a command-line job, before any file is touched.
std::atomic<bool> g_pathsTakenAsGiven{false};
} // namespace

void setPathsTakenAsGiven(bool on)
{
    g_pathsTakenAsGiven = on;
}

QString resolvePath(const QString& path)
{
    if (path.isEmpty() || g_pathsTakenAsGiven)
        return path;
    if (lexists(encodeName(path)))
        return path;

    const bool absolute = path.startsWith(kSeparator);
    const QStringList parts = path.split(kSeparator, Qt::SkipEmptyParts);
    QString current = absolute ? kRootFolder : QString();
    bool lost = false; // once a component matches nothing, keep the rest as given
    for (const QString& part : parts) {
        QString next = current.isEmpty() ? part : joinPath(current, part);
        if (!lost && part != QLatin1String(".") && part != QLatin1String("..") &&
            !lexists(encodeName(next))) {
            const QString match = matchInFolder(current, part);
            if (match.isEmpty())
                lost = true;
            else
                next = current.isEmpty() ? match : joinPath(current, match);
        }
        current = next;
    }
    if (path.endsWith(kSeparator) && !current.endsWith(kSeparator))
        current += kSeparator;
    return current;
}

namespace {

FileStat statNative(const QByteArray& native, bool followLinks)
{
    struct stat st;
    const int rc = followLinks ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    if (rc != 0)
        return FileStat();
    return fromStat(st);
}

bool unlinkNative(const QByteArray& native)
{
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return ::unlink(native.constData()) == 0;
}

} // namespace

FileStat statPath(const QString& path, bool followLinks)
{
    return statNative(encodeName(path), followLinks);
}

bool exists(const QString& path)
{
    return statPath(path).ok;
}

bool isDirectory(const QString& path)
{
    return statPath(path).isDir;
}

bool isRegularFile(const QString& path)
{
    return statPath(path).isFile;
}

bool listDirectory(const QString& folder, std::vector<DirEntry>& out)
{
    out.clear();
    const QByteArray native = encodeName(folder);
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    errno = 0;
    while (dirent* ent = ::readdir(dir)) {
        const char* raw = ent->d_name;
        if (std::strcmp(raw, ".") == 0 || std::strcmp(raw, "..") == 0)
            continue;
        DirEntry entry;
        entry.name = decodeName(QByteArray(raw));
        unsigned char type = ent->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat st;
            if (::fstatat(fd, raw, &st, 0) == 0) {
                entry.isDir = S_ISDIR(st.st_mode);
                entry.isFile = S_ISREG(st.st_mode);
            }
        } else {
            entry.isDir = type == DT_DIR;
            entry.isFile = type == DT_REG;
        }
        out.push_back(std::move(entry));
        errno = 0;
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok;
}

bool resetAttributesForReplace(const QString& path)
{
    const QByteArray native = encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return false;
    if (!canKeepOwnership(st)) {
        errno = EPERM;
        return false;
    }
    if ((st.st_mode & S_IWUSR) != 0)
        return true;
    return ::chmod(native.constData(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool removeFile(const QString& path)
{
    return unlinkNative(encodeName(path));
}

namespace {

// Opens a regular file for reading; anything else fails (EISDIR for a
// folder, EINVAL otherwise). The open itself does not block: a named pipe
// put where a file was expected would otherwise wait for a writer forever.
int openRegularForReading(const QByteArray& native)
{
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = st.st_mode == 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    // O_NONBLOCK stays: regular files ignore it, and the few that only look
    // regular (/proc/kmsg) then answer EAGAIN instead of blocking for good.
    return fd;
}

} // namespace

int openRegularAt(int dirFd, const QByteArray& name)
{
    const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = st.st_mode == 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool mayFollow(const FolderItem& item)
{
    return !item.isLink || item.linkOwner == ::geteuid() ||
           (item.stat.ok && item.linkOwner == item.stat.owner);
}

int openListedFile(int dirFd, const FolderItem& item, qint64* size)
{
    if (!mayFollow(item)) {
        errno = EACCES;
        return -1;
    }
    const int fd =
        ::openat(dirFd, item.native.constData(),
                 O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (item.isLink ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !item.stat.ok ||
        st.st_dev != item.stat.device || st.st_ino != item.stat.inode) {
        ::close(fd);
        errno = ESTALE; // not the file the folder read saw
        return -1;
    }
    if (size)
        *size = qint64(st.st_size);
    return fd;
}

int openFolderAt(int dirFd, const QByteArray& name, bool followLinks)
{
    return ::openat(dirFd, name.constData(),
                    O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC |
                        (followLinks ? 0 : O_NOFOLLOW));
}

bool readFolderAt(int dirFd, std::vector<FolderItem>& out)
{
    out.clear();
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        const int error = errno;
        if (listFd >= 0)
            ::close(listFd);
        errno = error;
        return false;
    }
    errno = 0;
    while (dirent* ent = ::readdir(dir)) {
        const char* name = ent->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            errno = 0;
            continue;
        }
        FolderItem item;
        item.native = QByteArray(name);
        item.name = decodeName(item.native);
        struct stat st;
        // One look at each entry, links followed; only a link that leads
        // nowhere is asked about itself.
        if (::fstatat(dirFd, name, &st, 0) == 0)
            item.stat = fromStat(st);
        if (ent->d_type == DT_LNK || ent->d_type == DT_UNKNOWN || !item.stat.ok) {
            // Links are few: their owner decides whether they are followed.
            struct stat self;
            if (::fstatat(dirFd, name, &self, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(self.st_mode)) {
                item.isLink = true;
                item.linkOwner = self.st_uid;
            }
        }
        out.push_back(std::move(item));
        errno = 0;
    }
    const bool ok = errno == 0;
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return ok;
}

int readFileUpTo(const QString& path, QByteArray& out, qint64 maxBytes)
{
    out.clear();
    const int fd = openRegularForReading(encodeName(path));
    if (fd < 0)
        return errno ? errno : EIO;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (got == 0)
            break;
        if (out.size() + got > maxBytes) {
            ::close(fd);
            return EFBIG;
        }
        out.append(buffer, got);
    }
    ::close(fd);
    return 0;
}

bool readFile(const QString& path, QByteArray& out, qint64 maxBytes)
{
    return readFileUpTo(path, out, maxBytes) == 0;
}

bool readFileStart(const QString& path, QByteArray& out, qint64 limit)
{
    out.clear();
    const int fd = openRegularForReading(encodeName(path));
    if (fd < 0)
        return false;
    out.resize(qsizetype(limit));
    qint64 have = 0;
    while (have < limit) {
        const ssize_t got = ::read(fd, out.data() + have, size_t(limit - have));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            out.clear();
            return false;
        }
        if (got == 0)
            break;
        have += got;
    }
    ::close(fd);
    out.resize(qsizetype(have));
    return true;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, size_t(left));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += put;
        left -= put;
    }
    return true;
}

int writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray native = encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    const int written = writeAll(fd, bytes) ? 0 : errno;
    if (::close(fd) != 0 && written == 0)
        return errno;
    return written;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    return writeWholeFile(path, bytes) == 0;
}

int writeOwnFile(const QString& path, const QByteArray& bytes)
{
    if (path.isEmpty())
        return ENOENT;
    // Not truncated on opening: what the name holds is judged by the open
    // descriptor first, and only a file of ours is emptied. O_NONBLOCK keeps
    // a pipe without a reader from holding us up.
    const QByteArray native = encodeName(path);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    else if (st.st_uid != ::getuid())
        error = EPERM;
    else if (::ftruncate(fd, 0) != 0 || !writeAll(fd, bytes))
        error = errno;
    if (::close(fd) != 0 && error == 0)
        return errno;
    return error;
}

bool writeFileAtomic(const QString& path, const QByteArray& bytes)
{
    QByteArray pattern = encodeName(path) + ".vx-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok) {
        ::chmod(
            pattern.constData(), 0666 & ~[] {
                const mode_t mask = ::umask(0);
                ::umask(mask);
                return mask;
            }());
        ok = ::rename(pattern.constData(), encodeName(path).constData()) == 0;
        saved = errno;
    }
    if (!ok) {
        ::unlink(pattern.constData());
        errno = saved;
        return false;
    }
    syncFileAndFolder(path);
    return true;
}

bool syncFileAndFolder(const QString& path)
{
    bool ok = true;
    const int fd = ::open(encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ok = ::fsync(fd) == 0;
    ::close(fd);
    QString folder = parentPath(path);
    if (folder.isEmpty())
        folder = QStringLiteral(".");
    const int dfd = ::open(encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        if (::fsync(dfd) != 0)
            ok = false;
        ::close(dfd);
    }
    return ok;
}

bool isWritableFolder(const QString& folder)
{
    const QByteArray native = encodeName(folder);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return ::access(native.constData(), W_OK | X_OK) == 0;
}

bool copyFileRange(int from, quint64 fromOffset, int to, quint64 toOffset, quint64 length)
{
    off_t inAt = off_t(fromOffset);
    off_t outAt = off_t(toOffset);
    quint64 left = length;
    bool kernel = true;
    std::vector<char> buffer;
    while (left > 0) {
        const size_t want = size_t(std::min<quint64>(left, quint64(1) << 30));
        if (kernel) {
            const ssize_t n = ::copy_file_range(from, &inAt, to, &outAt, want, 0);
            if (n > 0) {
                left -= quint64(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0) {
                errno = EIO; // the source ended early
                return false;
            }
            if (errno != ENOSYS && errno != EXDEV && errno != EOPNOTSUPP && errno != EINVAL)
                return false;
            kernel = false; // not between these files: through a buffer
            buffer.resize(size_t(1) << 20);
            continue;
        }
        const ssize_t got = ::pread(from, buffer.data(), std::min(want, buffer.size()), inAt);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        if (!writeAllAt(to, QByteArray::fromRawData(buffer.data(), qsizetype(got)), quint64(outAt)))
            return false;
        inAt += got;
        outAt += got;
        left -= quint64(got);
    }
    return true;
}

bool writeAllAt(int fd, const QByteArray& bytes, quint64 offset)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done),
                                     off_t(offset + quint64(done)));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        done += put;
    }
    return true;
}

void settleLocalTimeZone()
{
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString lastErrorText()
{
    return errorText(errno);
}

} // namespace vexlo::platform
