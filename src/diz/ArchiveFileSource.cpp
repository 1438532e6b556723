#include "diz/ArchiveFileSource.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexlo::diz {

namespace {

// The temporary name's letters, as libzip makes them (and as the clean-up of
// a killed update's leftovers expects them).
constexpr char kTempLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kTempLetterCount = 6;
constexpr int kTempAttempts = 100;

// libzip copies members in 8 KiB pieces; gathering them into large reads and
// writes is what makes an update cost about as much as copying the file.
//
// A 1 MiB buffer, kept for the next archive when let go: fresh memory of
// that size is zeroed page by page by the kernel, which cost more than all
// the copying of an update. Uninitialised on purpose.
class Block {
public:
    static constexpr size_t kSize = size_t(1) << 20;

    Block() = default;
    ~Block() { release(); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    bool empty() const { return !m_data; }
    char* data() const { return m_data.get(); }

    void acquire()
    {
        if (m_data)
            return;
        std::vector<std::unique_ptr<char[]>>& pool = spare();
        if (pool.empty()) {
            m_data.reset(new char[kSize]);
        } else {
            m_data = std::move(pool.back());
            pool.pop_back();
        }
    }
    void release()
    {
        if (!m_data)
            return;
        std::vector<std::unique_ptr<char[]>>& pool = spare();
        if (pool.size() < kKept)
            pool.push_back(std::move(m_data));
        m_data.reset();
    }

private:
    static constexpr size_t kKept = 2; // one source's read and write buffers

    static std::vector<std::unique_ptr<char[]>>& spare()
    {
        thread_local std::vector<std::unique_ptr<char[]>> blocks;
        return blocks;
    }

    std::unique_ptr<char[]> m_data;
};

class ArchiveFileSource {
public:
    explicit ArchiveFileSource(const QByteArray& path) : m_path(path)
    {
        zip_error_init(&m_error);
        const qsizetype slash = path.lastIndexOf('/');
        m_folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    }
    ~ArchiveFileSource()
    {
        closeRead();
        discardWrite();
        zip_error_fini(&m_error);
    }
    ArchiveFileSource(const ArchiveFileSource&) = delete;
    ArchiveFileSource& operator=(const ArchiveFileSource&) = delete;

    static zip_int64_t callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd);

private:
    zip_int64_t handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd);

    zip_int64_t fail(int zipCode, int sysErrno = errno)
    {
        zip_error_set(&m_error, zipCode, sysErrno);
        return -1;
    }

    // Reading.
    zip_int64_t open();
    zip_int64_t read(char* out, zip_uint64_t len);
    zip_int64_t stat(void* data, zip_uint64_t len);
    zip_int64_t seek(void* data, zip_uint64_t len);
    void closeRead();

    // Writing.
    zip_int64_t beginWrite();
    zip_int64_t beginWriteCloning(zip_uint64_t keep);
    bool copyStart(zip_uint64_t keep);
    zip_int64_t write(const char* in, zip_uint64_t len);
    zip_int64_t seekWrite(void* data, zip_uint64_t len);
    zip_int64_t commitWrite();
    bool flushWrite();
    void discardWrite();

    QByteArray m_path;
    QByteArray m_folder;
    zip_error_t m_error;

    int m_readFd = -1;
    zip_uint64_t m_size = 0; // of the archive as opened for reading
    zip_uint64_t m_readPos = 0;
    Block m_readBuffer;
    zip_uint64_t m_readBufferStart = 0; // file offset of m_readBuffer[0]
    size_t m_readBufferLength = 0;      // valid bytes in m_readBuffer

    int m_writeFd = -1;
    QByteArray m_tempPath;
    struct stat m_original {};
    Block m_writeBuffer; // holds bytes for m_writeBufferStart onwards
    zip_uint64_t m_writeBufferStart = 0;
    size_t m_writeBufferLength = 0;
    zip_uint64_t m_writePos = 0;
    zip_uint64_t m_writeEnd = 0; // size of the new file, buffered bytes counted
};

zip_int64_t ArchiveFileSource::callback(void* self, void* data, zip_uint64_t len,
                                        zip_source_cmd_t cmd)
{
    auto* source = static_cast<ArchiveFileSource*>(self);
    if (cmd == ZIP_SOURCE_FREE) {
        // Also what removes a temporary file that was neither committed nor
        // rolled back.
        delete source;
        return 0;
    }
    return source->handle(data, len, cmd);
}

zip_int64_t ArchiveFileSource::handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        return open();
    case ZIP_SOURCE_READ:
        return read(static_cast<char*>(data), len);
    case ZIP_SOURCE_CLOSE:
        closeRead();
        return 0;
    case ZIP_SOURCE_STAT:
        return stat(data, len);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&m_error, data, len);
    case ZIP_SOURCE_SEEK:
        return seek(data, len);
    case ZIP_SOURCE_TELL:
        return zip_int64_t(m_readPos);
    case ZIP_SOURCE_BEGIN_WRITE:
        return beginWrite();
    case ZIP_SOURCE_BEGIN_WRITE_CLONING:
        return beginWriteCloning(len);
    case ZIP_SOURCE_WRITE:
        return write(static_cast<const char*>(data), len);
    case ZIP_SOURCE_SEEK_WRITE:
        return seekWrite(data, len);
    case ZIP_SOURCE_TELL_WRITE:
        return zip_int64_t(m_writePos);
    case ZIP_SOURCE_COMMIT_WRITE:
        return commitWrite();
    case ZIP_SOURCE_ROLLBACK_WRITE:
        discardWrite();
        return 0;
    case ZIP_SOURCE_REMOVE:
        // What zip_close asks for when no member is left: the archive goes.
        if (::unlink(m_path.constData()) != 0 && errno != ENOENT)
            return fail(ZIP_ER_REMOVE);
        return 0;
    case ZIP_SOURCE_ACCEPT_EMPTY:
        // An empty file is no archive: never let libzip take it for one.
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
            ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_BEGIN_WRITE_CLONING, ZIP_SOURCE_COMMIT_WRITE,
            ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
            ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, ZIP_SOURCE_ACCEPT_EMPTY,
            zip_source_cmd_t(-1));
    default:
        return fail(ZIP_ER_OPNOTSUPP, 0);
    }
}

// --- reading ---------------------------------------------------------------

zip_int64_t ArchiveFileSource::open()
{
    closeRead();
    // O_NONBLOCK: a named pipe put where the archive was never blocks us; a
    // regular file ignores the flag.
    m_readFd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_readFd < 0)
        return fail(ZIP_ER_OPEN);
    struct stat st {};
    if (::fstat(m_readFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int saved = errno;
        const bool regular = S_ISREG(st.st_mode);
        closeRead();
        return fail(ZIP_ER_OPEN, regular ? saved : EINVAL);
    }
    m_size = zip_uint64_t(st.st_size);
    m_readPos = 0;
    return 0;
}

void ArchiveFileSource::closeRead()
{
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_readFd = -1;
    m_readBufferLength = 0;
    m_readBuffer.release();
}

zip_int64_t ArchiveFileSource::read(char* out, zip_uint64_t len)
{
    if (m_readFd < 0)
        return fail(ZIP_ER_INTERNAL, 0);
    if (len > zip_uint64_t(INT64_MAX))
        len = zip_uint64_t(INT64_MAX);
    zip_uint64_t done = 0;
    while (done < len) {
        const zip_uint64_t pos = m_readPos;
        if (pos >= m_readBufferStart && pos < m_readBufferStart + m_readBufferLength) {
            const size_t at = size_t(pos - m_readBufferStart);
            const size_t n = size_t(std::min<zip_uint64_t>(len - done, m_readBufferLength - at));
            std::memcpy(out + done, m_readBuffer.data() + at, n);
            done += n;
            m_readPos += n;
            continue;
        }
        if (len - done >= Block::kSize) {
            // Large enough to go straight to the caller's memory.
            const ssize_t got = ::pread(m_readFd, out + done, size_t(len - done), off_t(pos));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return fail(ZIP_ER_READ);
            }
            if (got == 0)
                break;
            done += zip_uint64_t(got);
            m_readPos += zip_uint64_t(got);
            continue;
        }
        m_readBuffer.acquire();
        ssize_t got;
        do
            got = ::pread(m_readFd, m_readBuffer.data(), Block::kSize, off_t(pos));
        while (got < 0 && errno == EINTR);
        if (got < 0)
            return fail(ZIP_ER_READ);
        m_readBufferStart = pos;
        m_readBufferLength = size_t(got);
        if (got == 0)
            break; // the end of the file
    }
    return zip_int64_t(done);
}

zip_int64_t ArchiveFileSource::stat(void* data, zip_uint64_t len)
{
    auto* out = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &m_error);
    if (!out)
        return -1;
    struct stat st {};
    const int rc = m_readFd >= 0 ? ::fstat(m_readFd, &st) : ::stat(m_path.constData(), &st);
    if (rc != 0)
        return fail(ZIP_ER_READ);
    zip_stat_init(out);
    out->size = zip_uint64_t(st.st_size);
    out->mtime = st.st_mtime;
    out->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
    return sizeof(zip_stat_t);
}

zip_int64_t ArchiveFileSource::seek(void* data, zip_uint64_t len)
{
    const zip_int64_t to = zip_source_seek_compute_offset(m_readPos, m_size, data, len, &m_error);
    if (to < 0)
        return -1;
    m_readPos = zip_uint64_t(to);
    return 0;
}

// --- writing ---------------------------------------------------------------

// Whether libzip's strict check accepts the archive at path: every member's
// local header is where the directory says and agrees with it.
bool isConsistentArchive(const QByteArray& path)
{
    int error = ZIP_ER_OK;
    zip_t* archive = zip_open(path.constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        return false;
    zip_discard(archive);
    return true;
}

zip_int64_t ArchiveFileSource::beginWrite()
{
    if (m_writeFd >= 0)
        return fail(ZIP_ER_INTERNAL, 0);
    // The permissions and owner the new file is to have.
    if (::stat(m_path.constData(), &m_original) != 0)
        return fail(ZIP_ER_TMPOPEN);
    // Like mkstemp, but with libzip's letters: glibc's mkstemp also uses
    // capitals, which the clean-up of leftovers would not recognise.
    QRandomGenerator* random = QRandomGenerator::global();
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        QByteArray name = m_path + '.';
        for (int i = 0; i < kTempLetterCount; ++i)
            name += kTempLetters[random->bounded(int(sizeof kTempLetters - 1))];
        const int fd =
            ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            m_writeFd = fd;
            m_tempPath = name;
            break;
        }
        if (errno != EEXIST)
            return fail(ZIP_ER_TMPOPEN);
    }
    if (m_writeFd < 0)
        return fail(ZIP_ER_TMPOPEN, EEXIST);
    m_writeBuffer.acquire();
    m_writeBufferStart = 0;
    m_writeBufferLength = 0;
    m_writePos = 0;
    m_writeEnd = 0;
    return 0;
}

// libzip asks for this when the members up to keep stay as they are (an
// update of the last members, the usual place of a description): the new
// file starts as a copy of the old one's first bytes, made by the kernel
// without passing through our memory (and shared, not copied, on file
// systems that can), and libzip writes only what follows.
//
// The kept bytes are taken as they are, so this is only safe for an archive
// whose members sit where its directory says. An archive that passes libzip
// only because it is lenient (a member whose local header is elsewhere or
// missing) is written out in full instead, which rebuilds every header; a
// refusal here is what makes libzip do that.
zip_int64_t ArchiveFileSource::beginWriteCloning(zip_uint64_t keep)
{
    if (!isConsistentArchive(m_path))
        return fail(ZIP_ER_OPNOTSUPP, 0);
    if (beginWrite() != 0)
        return -1;
    if (!copyStart(keep)) {
        const int sysErrno = zip_error_code_system(&m_error);
        discardWrite();
        return fail(ZIP_ER_WRITE, sysErrno);
    }
    m_writeBufferStart = keep;
    m_writePos = keep;
    m_writeEnd = keep;
    return 0;
}

bool ArchiveFileSource::copyStart(zip_uint64_t keep)
{
    const int in = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) {
        zip_error_set(&m_error, ZIP_ER_READ, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || zip_uint64_t(st.st_size) < keep) {
        ::close(in);
        zip_error_set(&m_error, ZIP_ER_READ, EINVAL);
        return false;
    }
    off_t inAt = 0;
    off_t outAt = 0;
    bool kernelCopy = true;
    bool ok = true;
    while (ok && zip_uint64_t(outAt) < keep) {
        const size_t want = size_t(std::min<zip_uint64_t>(keep - zip_uint64_t(outAt), 1 << 30));
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, &inAt, m_writeFd, &outAt, want, 0);
            if (n > 0)
                continue;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && outAt == 0 &&
                (errno == ENOSYS || errno == EXDEV || errno == EOPNOTSUPP || errno == EINVAL)) {
                kernelCopy = false; // not here: through our buffer instead
                continue;
            }
            zip_error_set(&m_error, ZIP_ER_WRITE, n < 0 ? errno : EIO);
            ok = false;
            break;
        }
        const ssize_t got = ::pread(in, m_writeBuffer.data(), std::min(want, Block::kSize), inAt);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            zip_error_set(&m_error, ZIP_ER_READ, got < 0 ? errno : EIO);
            ok = false;
            break;
        }
        m_writeBufferStart = zip_uint64_t(outAt);
        m_writeBufferLength = size_t(got);
        ok = flushWrite();
        inAt += got;
        outAt += got;
    }
    ::close(in);
    return ok;
}

bool ArchiveFileSource::flushWrite()
{
    size_t done = 0;
    while (done < m_writeBufferLength) {
        const ssize_t put = ::pwrite(m_writeFd, m_writeBuffer.data() + done,
                                     m_writeBufferLength - done, off_t(m_writeBufferStart + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            zip_error_set(&m_error, ZIP_ER_WRITE, errno);
            return false;
        }
        if (put == 0) {
            zip_error_set(&m_error, ZIP_ER_WRITE, ENOSPC);
            return false;
        }
        done += size_t(put);
    }
    m_writeBufferStart += m_writeBufferLength;
    m_writeBufferLength = 0;
    return true;
}

zip_int64_t ArchiveFileSource::write(const char* in, zip_uint64_t len)
{
    if (m_writeFd < 0)
        return fail(ZIP_ER_INTERNAL, 0);
    if (len > zip_uint64_t(INT64_MAX))
        return fail(ZIP_ER_INVAL, 0);
    zip_uint64_t done = 0;
    while (done < len) {
        // The buffer holds one run of bytes: a write elsewhere (after a seek)
        // first puts the run on the disk.
        if (m_writeBufferLength > 0 && m_writePos != m_writeBufferStart + m_writeBufferLength) {
            if (!flushWrite())
                return -1;
        }
        if (m_writeBufferLength == 0)
            m_writeBufferStart = m_writePos;
        const size_t n =
            size_t(std::min<zip_uint64_t>(len - done, Block::kSize - m_writeBufferLength));
        std::memcpy(m_writeBuffer.data() + m_writeBufferLength, in + done, n);
        m_writeBufferLength += n;
        done += n;
        m_writePos += n;
        m_writeEnd = std::max(m_writeEnd, m_writePos);
        if (m_writeBufferLength == Block::kSize && !flushWrite())
            return -1;
    }
    return zip_int64_t(done);
}

zip_int64_t ArchiveFileSource::seekWrite(void* data, zip_uint64_t len)
{
    if (m_writeFd < 0)
        return fail(ZIP_ER_INTERNAL, 0);
    const zip_int64_t to =
        zip_source_seek_compute_offset(m_writePos, m_writeEnd, data, len, &m_error);
    if (to < 0)
        return -1;
    m_writePos = zip_uint64_t(to);
    return 0;
}

zip_int64_t ArchiveFileSource::commitWrite()
{
    if (m_writeFd < 0)
        return fail(ZIP_ER_INTERNAL, 0);
    // Any failure before the rename leaves the archive as it was; the
    // temporary file goes, and a rollback that follows has nothing to do.
    auto abandon = [this](int zipCode, int sysErrno) {
        discardWrite();
        return fail(zipCode, sysErrno);
    };
    if (!flushWrite()) {
        const int sysErrno = zip_error_code_system(&m_error);
        return abandon(ZIP_ER_WRITE, sysErrno);
    }
    // A file left longer than what was written (a seek past the end and no
    // write) would not be the archive libzip meant.
    struct stat written;
    if (::fstat(m_writeFd, &written) != 0)
        return abandon(ZIP_ER_WRITE, errno);
    if (zip_uint64_t(written.st_size) != m_writeEnd &&
        ::ftruncate(m_writeFd, off_t(m_writeEnd)) != 0)
        return abandon(ZIP_ER_WRITE, errno);
    // The owner first: changing it clears the set-id bits that fchmod then
    // sets. Only root may give a file away; a refusal leaves it ours.
    if ((written.st_uid != m_original.st_uid || written.st_gid != m_original.st_gid) &&
        ::fchown(m_writeFd, m_original.st_uid, m_original.st_gid) != 0) {
        // Best effort: ownership is not ours to insist on.
    }
    if (::fchmod(m_writeFd, m_original.st_mode & 07777) != 0)
        return abandon(ZIP_ER_WRITE, errno);
    // The last word before the old archive goes: what libzip wrote must open
    // again as a consistent archive, or the update is refused.
    if (!isConsistentArchive(m_tempPath))
        return abandon(ZIP_ER_INCONS, 0);
    // The data must be on the disk before the name points at it, or a crash
    // could leave an empty or torn archive behind the old name.
    if (::fsync(m_writeFd) != 0)
        return abandon(ZIP_ER_WRITE, errno);
    const int fd = m_writeFd;
    m_writeFd = -1;
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(m_tempPath.constData());
        m_tempPath.clear();
        m_writeBuffer.release();
        return fail(ZIP_ER_WRITE, saved);
    }
    if (::rename(m_tempPath.constData(), m_path.constData()) != 0) {
        const int saved = errno;
        ::unlink(m_tempPath.constData());
        m_tempPath.clear();
        m_writeBuffer.release();
        return fail(ZIP_ER_RENAME, saved);
    }
    m_tempPath.clear();
    m_writeBuffer.release();
    // The rename itself lives in the folder.
    const int folder = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return fail(ZIP_ER_WRITE);
    const bool synced = ::fsync(folder) == 0;
    const int saved = errno;
    ::close(folder);
    if (!synced)
        return fail(ZIP_ER_WRITE, saved);
    return 0;
}

void ArchiveFileSource::discardWrite()
{
    if (m_writeFd >= 0)
        ::close(m_writeFd);
    m_writeFd = -1;
    if (!m_tempPath.isEmpty())
        ::unlink(m_tempPath.constData());
    m_tempPath.clear();
    m_writeBuffer.release();
    m_writeBufferLength = 0;
}

} // namespace

zip_source_t* createArchiveFileSource(const QByteArray& nativePath, zip_error_t* error)
{
    auto source = std::make_unique<ArchiveFileSource>(nativePath);
    zip_source_t* out =
        zip_source_function_create(&ArchiveFileSource::callback, source.get(), error);
    if (out)
        source.release(); // freed by its ZIP_SOURCE_FREE
    return out;
}

zip_t* openArchiveFile(const QByteArray& nativePath, int flags, int* errorCode)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = createArchiveFileSource(nativePath, &error);
    zip_t* archive = source ? zip_open_from_source(source, flags, &error) : nullptr;
    if (!archive) {
        if (source)
            zip_source_free(source); // still ours when the open failed
        if (errorCode)
            *errorCode = zip_error_code_zip(&error);
    }
    zip_error_fini(&error);
    return archive;
}

} // namespace vexlo::diz
