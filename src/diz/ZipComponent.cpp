#include "diz/ZipComponent.h"

#include "diz/ArchiveFileSource.h"
#include "diz/StrayUpdateFiles.h"

#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QStringList>

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexlo::diz {

namespace {

struct ArchiveDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
// An open archive that is dropped unless committed: zip_discard throws away
// every pending change and libzip's temporary file with it.
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscard>;

struct MemberClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using MemberPtr = std::unique_ptr<zip_file_t, MemberClose>;

struct SourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using SourcePtr = std::unique_ptr<zip_source_t, SourceFree>;

struct CFree {
    void operator()(char* p) const { std::free(p); }
};

// Members are read in chunks so that Status fires, and an abort set from its
// slot is seen, while a large member is being read.
constexpr qint64 kChunkSize = 32 * 1024;

// A name we are willing to use as a member name at the archive root and as a
// file name in the target folder: no folder part of either kind of
// separator, and neither "." nor "..".
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(0));
}

// Root level means no folder part: archives made on DOS and Windows may use
// "\" as their separator, so it counts as one too.
bool isRootLevel(const char* name)
{
    return *name != '\0' && std::strchr(name, '/') == nullptr && std::strchr(name, '\\') == nullptr;
}

// The first root-level member whose name (as libzip gives it, UTF-8 after its
// encoding guess) equals name without regard to letter case; -1 if none.
zip_int64_t findRootMember(zip_t* archive, const QString& name)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* stored = zip_get_name(archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        if (!stored || !isRootLevel(stored))
            continue; // deleted entries and members in folders never match
        if (QString::fromUtf8(stored).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// libzip says "not a zip archive" both for a file that never was one and for
// one whose end (the central directory) is missing. A file that starts like
// a ZIP archive is a damaged one.
bool startsLikeZip(const QByteArray& native)
{
    SourcePtr source(zip_source_file_create(native.constData(), 0, 4, nullptr));
    if (!source || zip_source_open(source.get()) != 0)
        return false;
    char head[4] = {};
    const zip_int64_t got = zip_source_read(source.get(), head, sizeof head);
    zip_source_close(source.get());
    return got == 4 && head[0] == 'P' && head[1] == 'K' &&
           ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6) ||
            (head[2] == 7 && head[3] == 8));
}

qint16 statusForOpenError(int code, const QByteArray& native)
{
    switch (code) {
    case ZIP_ER_NOZIP:
        return startsLikeZip(native) ? ZipStatus::CorruptArchive : ZipStatus::NotAZipArchive;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
    case ZIP_ER_CRC:
    case ZIP_ER_MULTIDISK: // one part of a split archive is incomplete on its own
        return ZipStatus::CorruptArchive;
    default: // missing, unreadable, out of memory
        return ZipStatus::CannotOpenArchive;
    }
}

qint16 statusForMemberError(int code)
{
    switch (code) {
    case ZIP_ER_CRC:
        return ZipStatus::CrcError;
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_ENCRNOTSUPP:
        return ZipStatus::EncryptedMember;
    case ZIP_ER_COMPNOTSUPP:
        return ZipStatus::UnsupportedMethod;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return ZipStatus::CorruptArchive;
    default:
        return ZipStatus::CannotReadMember;
    }
}

// Opens an archive that must already exist as a regular file. A 0-byte file
// would be taken by libzip as an empty archive in write mode; it is no
// archive, and an update must never turn it into one.
ArchivePtr openArchive(const QString& realPath, int flags, qint16& status)
{
    const platform::FileStat st = platform::statReal(realPath); // resolved by every caller
    if (!st.ok || !st.isFile) {
        status = ZipStatus::CannotOpenArchive;
        return ArchivePtr();
    }
    if (st.size == 0) {
        status = ZipStatus::NotAZipArchive;
        return ArchivePtr();
    }
    const QByteArray native = platform::encodeName(realPath);
    int error = ZIP_ER_OK;
    // No ZIP_CHECKCONS: it rejects archives that common packers write with
    // small header differences; the CRC check while reading guards the data.
    // An update goes through our own file source, which flushes the new
    // archive to the disk before renaming it over the old one.
    zip_t* archive = (flags & ZIP_RDONLY) ? zip_open(native.constData(), flags, &error)
                                          : openArchiveFile(native, flags, &error);
    if (!archive) {
        status = statusForOpenError(error, native);
        return ArchivePtr();
    }
    status = ZipStatus::Success;
    return ArchivePtr(archive);
}

// The path of the file a link chain ends at, so that an update replaces the
// archive itself and a link to it stays a link.
bool linkTarget(const QString& path, QString& out)
{
    std::unique_ptr<char, CFree> real(::realpath(platform::encodeName(path).constData(), nullptr));
    if (!real)
        return false;
    out = platform::decodeName(QByteArray(real.get()));
    return true;
}

struct SourceFile {
    QString name;    // as the file is called: its last path component
    QByteArray data; // read in full before the archive is touched
    time_t modified = 0;
};

} // namespace

// One running call: the abort mark taken at its start, and the progress it
// reports. Lives on the stack of the public method.
class ZipRunningCall {
public:
    explicit ZipRunningCall(ZipComponent& component)
        : m_component(component), m_mark(component.m_abortRequests)
    {
    }

    bool aborted() const { return m_component.m_abortRequests != m_mark; }

    void reportStatus(int completion) { emit m_component.Status(completion); }

    void reportAdding(int completion)
    {
        if (completion == m_lastAdding)
            return;
        m_lastAdding = completion;
        emit m_component.Adding(completion);
    }

    qint16 readRootMember(const QString& archivePath, const QString& name, QByteArray& out);
    qint16 update(const std::vector<SourceFile>& sources);
    qint16 readMemberData(zip_t* archive, zip_uint64_t index, QByteArray& out);

    static void onProgress(zip_t*, double done, void* self);
    static int onCancel(zip_t*, void* self);

private:
    ZipComponent& m_component;
    const quint64 m_mark;
    int m_lastAdding = -1;
};

qint16 ZipRunningCall::readRootMember(const QString& archivePath, const QString& name,
                                      QByteArray& out)
{
    out.clear();
    qint16 status = ZipStatus::Success;
    ArchivePtr archive = openArchive(platform::resolvePath(archivePath), ZIP_RDONLY, status);
    if (!archive)
        return status;
    const zip_int64_t index = findRootMember(archive.get(), name);
    if (index < 0)
        return ZipStatus::NothingMatched;
    if (aborted())
        return ZipStatus::Aborted;
    status = readMemberData(archive.get(), zip_uint64_t(index), out);
    if (status != ZipStatus::Success)
        out.clear();
    return status;
}

qint16 ZipRunningCall::readMemberData(zip_t* archive, zip_uint64_t index, QByteArray& out)
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, index, 0, &st) != 0)
        return ZipStatus::CorruptArchive;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return ZipStatus::EncryptedMember;
    if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0))
        return ZipStatus::UnsupportedMethod;
    const bool sized = (st.valid & ZIP_STAT_SIZE) != 0;
    if (sized && st.size > zip_uint64_t(kMaxMemberSize))
        return ZipStatus::MemberTooLarge;

    MemberPtr file(zip_fopen_index(archive, index, 0));
    if (!file)
        return statusForMemberError(zip_error_code_zip(zip_get_error(archive)));

    // The declared size may lie: whatever it says, never take in more than
    // one byte past the limit. libzip checks the CRC only when the member is
    // read to its end, so the loop goes on until zip_fread returns 0.
    out.reserve(sized ? qsizetype(st.size) : 0);
    std::vector<char> buffer(static_cast<size_t>(kChunkSize));
    for (;;) {
        const qint64 room = kMaxMemberSize + 1 - out.size();
        const zip_int64_t got =
            zip_fread(file.get(), buffer.data(), zip_uint64_t(std::min(kChunkSize, room)));
        if (got < 0)
            return statusForMemberError(zip_error_code_zip(zip_file_get_error(file.get())));
        if (got == 0)
            break;
        out.append(buffer.data(), qsizetype(got));
        if (out.size() > kMaxMemberSize)
            return ZipStatus::MemberTooLarge;
        // 100 is kept for the end of the whole call.
        const qint64 total = sized && st.size > 0 ? qint64(st.size) : out.size();
        reportStatus(int(std::min<qint64>(99, out.size() * 100 / std::max<qint64>(1, total))));
        if (aborted())
            return ZipStatus::Aborted;
    }
    if (zip_fclose(file.release()) != 0)
        return ZipStatus::CannotReadMember;
    if (sized && zip_uint64_t(out.size()) != st.size)
        return ZipStatus::CorruptArchive;
    return ZipStatus::Success;
}

void ZipRunningCall::onProgress(zip_t*, double done, void* self)
{
    // 100 is reported only once the new archive is on the disk.
    static_cast<ZipRunningCall*>(self)->reportAdding(std::clamp(int(done * 100.0), 0, 99));
}

int ZipRunningCall::onCancel(zip_t*, void* self)
{
    return static_cast<ZipRunningCall*>(self)->aborted() ? 1 : 0;
}

ZipComponent::ZipComponent(QObject* parent) : QObject(parent) {}

qint16 ZipComponent::ExtractMembers(int)
{
    ZipRunningCall call(*this);
    const QString name = m_memberMask;
    if (m_archivePath.isEmpty() || m_targetFolder.isEmpty() || !isPlainName(name))
        return ZipStatus::BadArguments;

    QByteArray data;
    const qint16 status = call.readRootMember(m_archivePath, name, data);
    if (status != ZipStatus::Success)
        return status;
    if (call.aborted())
        return ZipStatus::Aborted;

    // The one file we write is the fixed name in the target folder, whatever
    // path the member had in the archive. A temporary file renamed over it
    // means a reader sees the earlier file or the whole new one.
    const QString folder = platform::resolvePath(m_targetFolder);
    if (!platform::isDirectory(folder))
        return ZipStatus::CannotWriteTarget;
    if (!platform::writeFileAtomic(platform::joinPath(folder, name), data))
        return ZipStatus::CannotWriteTarget;
    call.reportStatus(100);
    return ZipStatus::Success;
}

qint16 ZipComponent::ReadMember(const QString& archive, const QString& memberName, QByteArray& out)
{
    ZipRunningCall call(*this);
    out.clear();
    if (archive.isEmpty() || !isPlainName(memberName))
        return ZipStatus::BadArguments;
    const qint16 status = call.readRootMember(archive, memberName, out);
    if (status == ZipStatus::Success)
        call.reportStatus(100);
    return status;
}

qint16 ZipComponent::UpdateMembers(int)
{
    ZipRunningCall call(*this);
    if (m_archivePath.isEmpty())
        return ZipStatus::BadArguments;

    // Every file to store is read into memory first, size-limited: a file
    // that changes or vanishes while libzip writes cannot spoil the archive.
    std::vector<SourceFile> sources;
    const QStringList paths = m_memberMask.split(u'\r');
    for (QString path : paths) {
        while (path.startsWith(u'\n'))
            path.remove(0, 1);
        while (path.endsWith(u'\n'))
            path.chop(1);
        if (path.isEmpty())
            continue;
        const QString real = platform::resolvePath(path);
        const platform::FileStat st = platform::statPath(real);
        SourceFile source;
        source.name = platform::lastComponent(real);
        if (!st.ok || !st.isFile || !isPlainName(source.name))
            return ZipStatus::CannotReadSource;
        if (!platform::readFile(real, source.data, kMaxMemberSize))
            return errno == EFBIG ? ZipStatus::MemberTooLarge : ZipStatus::CannotReadSource;
        source.modified = time_t(st.modified.toSecsSinceEpoch());
        sources.push_back(std::move(source));
    }
    if (sources.empty())
        return ZipStatus::BadArguments;
    return call.update(sources);
}

qint16 ZipComponent::UpdateMemberData(const QString& memberName, const QByteArray& data)
{
    ZipRunningCall call(*this);
    if (m_archivePath.isEmpty() || !isPlainName(memberName))
        return ZipStatus::BadArguments;
    if (data.size() > kMaxMemberSize)
        return ZipStatus::MemberTooLarge;
    SourceFile source;
    source.name = memberName;
    source.data = data;
    source.modified = ::time(nullptr);
    return call.update({source});
}

// The update itself, once every member to store is in memory.
qint16 ZipRunningCall::update(const std::vector<SourceFile>& sources)
{
    const QString& archivePath = m_component.m_archivePath;
    StrayUpdateCleaner& strays = m_component.m_strays;
    if (aborted())
        return ZipStatus::Aborted;

    QString real;
    if (!linkTarget(platform::resolvePath(archivePath), real))
        return ZipStatus::CannotOpenArchive;
    const QByteArray native = platform::encodeName(real);
    struct stat before;
    if (::stat(native.constData(), &before) != 0)
        return ZipStatus::CannotOpenArchive;
    // What a killed earlier update of this archive left beside it.
    strays.removeFor(real);

    // No ZIP_CREATE: an update never makes an archive where there was none.
    qint16 status = ZipStatus::Success;
    ArchivePtr archive = openArchive(real, 0, status);
    if (!archive)
        return status;

    for (const SourceFile& source : sources) {
        SourcePtr data(zip_source_buffer(archive.get(), source.data.constData(),
                                         zip_uint64_t(source.data.size()), 0));
        if (!data)
            return ZipStatus::CannotWriteArchive;
        zip_int64_t index = findRootMember(archive.get(), source.name);
        if (index >= 0) {
            // Replacing keeps the member's stored name, letter case and all.
            if (zip_file_replace(archive.get(), zip_uint64_t(index), data.get(), 0) != 0)
                return ZipStatus::CannotWriteArchive;
            data.release(); // the archive owns the source now
        } else {
            const QByteArray name = platform::encodeName(source.name);
            index = zip_file_add(archive.get(), name.constData(), data.get(), ZIP_FL_ENC_GUESS);
            if (index < 0)
                return ZipStatus::CannotWriteArchive;
            data.release();
            // A plain file readable by all, for the unpackers that apply
            // the stored Unix mode.
            if (zip_file_set_external_attributes(archive.get(), zip_uint64_t(index), 0,
                                                 ZIP_OPSYS_UNIX,
                                                 zip_uint32_t(S_IFREG | 0644) << 16) != 0)
                return ZipStatus::CannotWriteArchive;
        }
        if (zip_file_set_mtime(archive.get(), zip_uint64_t(index), source.modified, 0) != 0)
            return ZipStatus::CannotWriteArchive;
    }

    // zip_close writes a temporary file beside the archive, copying the
    // unchanged members raw, and renames it over the archive; the cancel
    // callback lets an abort set from an Adding slot stop it.
    if (zip_register_progress_callback_with_state(archive.get(), 0.01, &ZipRunningCall::onProgress,
                                                  nullptr, this) != 0 ||
        zip_register_cancel_callback_with_state(archive.get(), &ZipRunningCall::onCancel, nullptr,
                                                this) != 0)
        return ZipStatus::CannotWriteArchive;
    if (aborted())
        return ZipStatus::Aborted;
    const int closed = zip_close(archive.get());
    // The temporary file, and the rename when it came to that, were ours.
    strays.noteOwnChange(real);
    if (closed != 0) {
        // The archive is still open: discarding it (the deleter) removes
        // libzip's temporary file; the original was never touched.
        const int code = zip_error_code_zip(zip_get_error(archive.get()));
        return code == ZIP_ER_CANCELLED || aborted() ? ZipStatus::Aborted
                                                          : ZipStatus::CannotWriteArchive;
    }
    // Committed. An abort that arrived after libzip's last cancel check is
    // too late to undo anything, so the call reports what happened: success.
    archive.release(); // zip_close has freed it

    // The new file was created by us: give it back the archive's owner (only
    // possible, and only needed, when we run as root; a refusal leaves it
    // ours) and its permission bits, which libzip may not copy.
    struct stat after;
    if (::stat(native.constData(), &after) != 0)
        return ZipStatus::CannotWriteArchive;
    if (after.st_uid != before.st_uid || after.st_gid != before.st_gid) {
        if (::chown(native.constData(), before.st_uid, before.st_gid) != 0) {
            // Best effort: ownership is not ours to insist on.
        }
    }
    const mode_t wanted = before.st_mode & 07777;
    if ((after.st_mode & 07777) != wanted || after.st_uid != before.st_uid) {
        if (::chmod(native.constData(), wanted) != 0)
            return ZipStatus::CannotWriteArchive;
    }
    // Nothing more to flush: the archive file source wrote the new archive to
    // the disk before renaming it over the old one, and flushed the folder
    // after, so a crash leaves either archive whole, never an empty one.
    reportAdding(100);
    return ZipStatus::Success;
}

} // namespace vexlo::diz
