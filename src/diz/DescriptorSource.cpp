// SPDX-License-Identifier: MIT
#include "diz/DescriptorSource.h"

#include "diz/ZipLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::diz {

namespace {

// What libzip reads of an archive is its tail (the end records, and in
// nearly every archive the whole directory with them), then one member's
// local header and data: the tail is kept, and a read beyond it reads this
// much ahead, so that a small member costs one read and a small archive one
// read in all.
constexpr size_t kReadAhead = 16 * 1024;

class DescriptorSource {
public:
    DescriptorSource(int fd, zip_uint64_t start, std::int64_t knownSize) : m_fd(fd), m_start(start)
    {
        zip_error_init(&m_error);
        if (knownSize >= 0)
            setSize(zip_uint64_t(knownSize));
    }
    ~DescriptorSource() { zip_error_fini(&m_error); }
    DescriptorSource(const DescriptorSource&) = delete;
    DescriptorSource& operator=(const DescriptorSource&) = delete;

    static zip_int64_t callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        auto* source = static_cast<DescriptorSource*>(self);
        if (cmd == ZIP_SOURCE_FREE) {
            delete source;
            return 0;
        }
        return source->handle(data, len, cmd);
    }

private:
    zip_int64_t fail(int zipCode, int sysErrno)
    {
        zip_error_set(&m_error, zipCode, sysErrno);
        return -1;
    }

    void setSize(zip_uint64_t size)
    {
        m_length = size > m_start ? size - m_start : 0;
        m_bytes.emplace(m_fd, size, kReadAhead);
    }

    // The length libzip sees: the file as it is when first asked about (or
    // as the caller's fstat found it), less the start. libzip asks often;
    // the file we hold does not move.
    bool measure()
    {
        if (m_bytes)
            return true;
        struct stat st {};
        if (::fstat(m_fd, &st) != 0)
            return false;
        if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return false;
        }
        setSize(zip_uint64_t(st.st_size));
        m_mtime = st.st_mtime;
        m_mtimeKnown = true;
        return true;
    }

    zip_int64_t handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            if (!measure())
                return fail(ZIP_ER_OPEN, errno);
            m_pos = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return read(static_cast<char*>(data), len);
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* out = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &m_error);
            if (!out)
                return -1;
            if (!measure())
                return fail(ZIP_ER_READ, errno);
            zip_stat_init(out);
            out->size = m_length;
            out->valid |= ZIP_STAT_SIZE;
            if (m_mtimeKnown) {
                out->mtime = m_mtime;
                out->valid |= ZIP_STAT_MTIME;
            }
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, len);
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t to =
                zip_source_seek_compute_offset(m_pos, m_length, data, len, &m_error);
            if (to < 0)
                return -1;
            m_pos = zip_uint64_t(to);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return zip_int64_t(m_pos);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                ZIP_SOURCE_SUPPORTS, zip_source_cmd_t(-1));
        default:
            return fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }

    zip_int64_t read(char* out, zip_uint64_t len)
    {
        if (m_pos >= m_length)
            return 0;
        if (len > m_length - m_pos)
            len = m_length - m_pos;
        if (m_bytes->readAt(m_start + m_pos, out, size_t(len))) {
            m_pos += len;
            return zip_int64_t(len);
        }
        // The file became shorter, or a read failed: what one more read
        // gives, so that libzip reports a short file as it would.
        zip_uint64_t done = 0;
        while (done < len) {
            const size_t want = size_t(std::min<zip_uint64_t>(len - done, SSIZE_MAX));
            const ssize_t got = ::pread(m_fd, out + done, want, off_t(m_start + m_pos + done));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return fail(ZIP_ER_READ, errno);
            }
            if (got == 0)
                break;
            done += zip_uint64_t(got);
        }
        m_pos += done;
        return zip_int64_t(done);
    }

    const int m_fd;
    const zip_uint64_t m_start;
    zip_uint64_t m_length = 0;
    zip_uint64_t m_pos = 0;
    std::optional<DescriptorBytes> m_bytes; // once the size is known
    time_t m_mtime = 0;
    bool m_mtimeKnown = false;
    zip_error_t m_error;
};

} // namespace

zip_source_t* createDescriptorSource(int fd, zip_uint64_t start, zip_error_t* error,
                                     std::int64_t knownSize)
{
    auto source = std::make_unique<DescriptorSource>(fd, start, knownSize);
    zip_source_t* out =
        zip_source_function_create(&DescriptorSource::callback, source.get(), error);
    if (out)
        source.release(); // freed by its ZIP_SOURCE_FREE
    return out;
}

zip_t* openArchiveAt(int fd, zip_uint64_t start, int flags, int* errorCode, std::int64_t knownSize)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = createDescriptorSource(fd, start, &error, knownSize);
    zip_t* archive = source ? zip_open_from_source(source, flags | ZIP_RDONLY, &error) : nullptr;
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
