// SPDX-License-Identifier: MIT
#include "diz/ZipComponent.h"

#include "diz/ArchiveKinds.h"
#include "diz/DescriptorSource.h"
#include "diz/LegacyExpander.h"
#include "diz/StrayUpdateFiles.h"
#include "diz/ZipLayout.h"
#include "diz/ZipSplice.h"

#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/UniqueFd.h"

#include <QStringList>

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexlo::diz {

namespace {

struct ArchiveDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
// libzip reads archives only: updates are written by our own splice.
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscard>;

struct MemberClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using MemberPtr = std::unique_ptr<zip_file_t, MemberClose>;

struct CFree {
    void operator()(char* p) const { std::free(p); }
};

// Members are read in chunks so that Status fires, and an abort set from its
// slot is seen, while a large member is being read.
constexpr qint64 kChunkSize = 32 * 1024;

// An update waits this long for another one of the same archive to end, and
// opens the archive again at most so many times when that one replaced it.
constexpr int kLockWaitMs = 10000;
constexpr int kOpenAttempts = 5;
// Unchanged bytes are copied in steps of this size, an abort seen between.
constexpr quint64 kCopyStep = quint64(64) << 20;

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

ZipStatus statusForOpenError(int code, int fd)
{
    switch (code) {
    case ZIP_ER_NOZIP:
        // libzip says so both for a file that never was an archive and for
        // one whose end (the central directory) is missing. A file that
        // starts like a ZIP archive is a damaged one.
        return kindOf(fd) == ArchiveKind::Zip ? ZipStatus::CorruptArchive
                                              : ZipStatus::NotAZipArchive;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
    case ZIP_ER_CRC:
    case ZIP_ER_MULTIDISK: // one part of a split archive is incomplete on its own
        return ZipStatus::CorruptArchive;
    default: // unreadable, out of memory
        return ZipStatus::CannotOpenArchive;
    }
}

ZipStatus statusForMemberError(int code)
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

// Opens an archive to read: a regular file (never a FIFO we would wait on).
// A 0-byte file is no archive, though libzip would take it for an empty one.
int openForReading(const QString& realPath, ZipStatus& status, qint64& size)
{
    const QByteArray native = platform::encodeName(realPath);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        status = ZipStatus::CannotOpenArchive;
        return -1;
    }
    if (st.st_size == 0) {
        ::close(fd);
        status = ZipStatus::NotAZipArchive;
        return -1;
    }
    status = ZipStatus::Success;
    size = qint64(st.st_size);
    return fd;
}

// libzip over an archive we hold open. No ZIP_CHECKCONS unless asked: it
// rejects archives that common packers write with small header differences;
// the CRC check while reading guards the data. An archive whose offsets do
// not count the stub in front of it (a self-extractor never adjusted, which
// unzip reads with a warning) is opened past the stub. prefix: where libzip's
// view of the file starts.
// knownSize: fd's size from the caller's fstat, or -1.
ArchivePtr openHeld(int fd, int flags, ZipStatus& status, quint64& prefix, qint64 knownSize = -1)
{
    prefix = 0;
    int error = ZIP_ER_OK;
    zip_t* archive = openArchiveAt(fd, 0, flags, &error, knownSize);
    if (!archive && (error == ZIP_ER_NOZIP || error == ZIP_ER_INCONS)) {
        const DescriptorBytes bytes(fd);
        quint64 found = 0;
        int again = ZIP_ER_OK;
        if (bytes.ok() && findArchivePrefix(bytes, found) && found > 0 &&
            (archive = openArchiveAt(fd, found, flags, &again)) != nullptr)
            prefix = found;
    }
    if (!archive) {
        status = statusForOpenError(error, fd);
        return ArchivePtr();
    }
    status = ZipStatus::Success;
    return ArchivePtr(archive);
}

// The path of the file a link chain ends at, so that an update replaces the
// archive itself and a link to it stays a link.
bool linkTarget(const QString& path, QString& out)
{
    struct stat st;
    if (::lstat(platform::encodeName(path).constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        out = path; // no link at the name: the path is the archive's
        return true;
    }
    std::unique_ptr<char, CFree> real(::realpath(platform::encodeName(path).constData(), nullptr));
    if (!real)
        return false;
    out = platform::decodeName(QByteArray(real.get()));
    return true;
}

ZipStatus statusForReplacement(platform::FileReplacement::Result result)
{
    using Result = platform::FileReplacement::Result;
    switch (result) {
    case Result::Ok:
        return ZipStatus::Success;
    case Result::CannotOpen:
    case Result::NotRegular:
        return ZipStatus::CannotOpenArchive;
    case Result::HardLinked:
        return ZipStatus::ArchiveHardLinked;
    case Result::NotPermitted:
        return ZipStatus::ArchiveNotPermitted;
    case Result::Busy:
        return ZipStatus::ArchiveBusy;
    case Result::Moved:
    case Result::Changed:
        return ZipStatus::ArchiveChanged;
    case Result::NotFlushed:
        return ZipStatus::ArchiveNotFlushed;
    case Result::Conflict:
        return ZipStatus::ArchiveConflict;
    case Result::CannotWrite:
        break;
    }
    return ZipStatus::CannotWriteArchive;
}

ZipStatus statusForLayout(LayoutStatus status)
{
    switch (status) {
    case LayoutStatus::Ok:
        return ZipStatus::Success;
    case LayoutStatus::NotAZip:
        return ZipStatus::NotAZipArchive;
    case LayoutStatus::Damaged:
        return ZipStatus::CorruptArchive;
    case LayoutStatus::Overlapping:
        return ZipStatus::OverlappingMembers;
    case LayoutStatus::Disagreeing:
        return ZipStatus::InconsistentRecords;
    case LayoutStatus::TooLarge:
        break;
    }
    return ZipStatus::CannotWriteArchive;
}

// libzip and our own reading must see the same directory: the same members
// in the same order, with the same names and sizes. Otherwise which member
// is the description, and what the update keeps, would be in doubt.
bool sameDirectory(zip_t* archive, const ZipLayout& layout)
{
    if (zip_get_num_entries(archive, 0) != zip_int64_t(layout.entries.size()))
        return false;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const ZipEntryRecord& entry = layout.entries[i];
        const char* raw = zip_get_name(archive, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        zip_stat_t st;
        zip_stat_init(&st);
        // libzip gives a Unicode path field's name in place of the stored one.
        const bool sameName = raw && (entry.hasUnicodeName || QByteArray(raw) == entry.name);
        const zip_uint64_t wanted = ZIP_STAT_COMP_SIZE | ZIP_STAT_SIZE | ZIP_STAT_CRC;
        if (!sameName || zip_stat_index(archive, i, 0, &st) != 0 || (st.valid & wanted) != wanted ||
            st.comp_size != entry.compressedSize || st.size != entry.size || st.crc != entry.crc)
            return false;
    }
    return true;
}

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

    ZipStatus readRootMember(const QString& archivePath, const QString& name, QByteArray& out);
    ZipStatus readRootMemberOf(int fd, qint64 size, const QString& name, QByteArray& out);
    ZipStatus update(const QString& archivePath, const std::vector<RootMember>& sources);

private:
    enum class Progress { Report, Quiet };
    ZipStatus readMemberData(zip_t* archive, zip_uint64_t index, QByteArray& out, qint64 limit,
                             Progress progress);
    ZipStatus readLegacyMemberData(zip_t* archive, zip_uint64_t index, const zip_stat_t& st,
                                   QByteArray& out, qint64 limit, Progress progress);
    ZipStatus updateHeld(platform::FileReplacement& file, const std::vector<RootMember>& sources);
    ZipStatus writeSpliced(platform::FileReplacement& file, const SplicePlan& plan);
    ZipStatus checkResult(platform::FileReplacement& file, quint64 prefix, const SplicePlan& plan,
                          const std::vector<RootMember>& sources,
                          const std::vector<zip_int64_t>& indices);

    ZipComponent& m_component;
    const quint64 m_mark;
    int m_lastAdding = -1;
};

ZipStatus ZipRunningCall::readRootMember(const QString& archivePath, const QString& name,
                                         QByteArray& out)
{
    out.clear();
    ZipStatus status = ZipStatus::Success;
    qint64 size = 0;
    const platform::UniqueFd fd(openForReading(archivePath, status, size));
    if (fd.get() < 0)
        return status;
    return readRootMemberOf(fd.get(), size, name, out);
}

// size: what fstat said of the regular file fd.
ZipStatus ZipRunningCall::readRootMemberOf(int fd, qint64 size, const QString& name,
                                           QByteArray& out)
{
    out.clear();
    ZipStatus status = ZipStatus::Success;
    quint64 prefix = 0;
    ArchivePtr archive = openHeld(fd, 0, status, prefix, size);
    if (!archive)
        return status;
    const zip_int64_t index = findRootMember(archive.get(), name);
    if (index < 0)
        return ZipStatus::NothingMatched;
    if (aborted())
        return ZipStatus::Aborted;
    status =
        readMemberData(archive.get(), zip_uint64_t(index), out, kMaxMemberSize, Progress::Report);
    if (status != ZipStatus::Success)
        out.clear();
    return status;
}

ZipStatus ZipRunningCall::readMemberData(zip_t* archive, zip_uint64_t index, QByteArray& out,
                                         qint64 limit, Progress progress)
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, index, 0, &st) != 0)
        return ZipStatus::CorruptArchive;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return ZipStatus::EncryptedMember;
    const bool legacy = (st.valid & ZIP_STAT_COMP_METHOD) && isLegacyMethod(st.comp_method);
    if ((st.valid & ZIP_STAT_COMP_METHOD) && !legacy &&
        !zip_compression_method_supported(st.comp_method, 0))
        return ZipStatus::UnsupportedMethod;
    const bool sized = (st.valid & ZIP_STAT_SIZE) != 0;
    if (sized && st.size > zip_uint64_t(limit))
        return ZipStatus::MemberTooLarge;
    if (legacy)
        return readLegacyMemberData(archive, index, st, out, limit, progress);

    MemberPtr file(zip_fopen_index(archive, index, 0));
    if (!file)
        return statusForMemberError(zip_error_code_zip(zip_get_error(archive)));

    // The declared size may lie: whatever it says, never take in more than
    // one byte past the limit. libzip checks the CRC only when the member is
    // read to its end, so the loop goes on until zip_fread returns 0.
    out.reserve(sized ? qsizetype(st.size) : 0);
    std::vector<char> buffer(static_cast<size_t>(kChunkSize));
    for (;;) {
        const qint64 room = limit + 1 - out.size();
        const zip_int64_t got =
            zip_fread(file.get(), buffer.data(), zip_uint64_t(std::min(kChunkSize, room)));
        if (got < 0)
            return statusForMemberError(zip_error_code_zip(zip_file_get_error(file.get())));
        if (got == 0)
            break;
        out.append(buffer.data(), qsizetype(got));
        if (out.size() > limit)
            return ZipStatus::MemberTooLarge;
        if (progress == Progress::Report) {
            // 100 is kept for the end of the whole call.
            const qint64 total = sized && st.size > 0 ? qint64(st.size) : out.size();
            reportStatus(int(std::min<qint64>(99, out.size() * 100 / std::max<qint64>(1, total))));
        }
        if (aborted())
            return ZipStatus::Aborted;
    }
    if (zip_fclose(file.release()) != 0)
        return ZipStatus::CannotReadMember;
    if (sized && zip_uint64_t(out.size()) != st.size)
        return ZipStatus::CorruptArchive;
    return ZipStatus::Success;
}

// A member packed by PKZIP 1.x (LegacyExpander.h): libzip gives its raw
// bytes, expanded here under the same limit; libzip checks no CRC for raw
// bytes, so the expanded ones are checked against the directory's here.
ZipStatus ZipRunningCall::readLegacyMemberData(zip_t* archive, zip_uint64_t index,
                                               const zip_stat_t& st, QByteArray& out, qint64 limit,
                                               Progress progress)
{
    ExpandJob job;
    job.method = st.comp_method;
    job.expectedSize = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : -1;
    job.limit = limit;
    if (job.method == ZIP_CM_IMPLODE) {
        // Its window and its codes follow from the general purpose flags,
        // which libzip tells through a source over the member.
        zip_source_t* member = zip_source_zip(archive, archive, index, ZIP_FL_COMPRESSED, 0, -1);
        zip_file_attributes_t attributes;
        zip_file_attributes_init(&attributes);
        const bool told = member && zip_source_get_file_attributes(member, &attributes) == 0 &&
                          (attributes.valid & ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS) &&
                          (attributes.general_purpose_bit_mask & 6) == 6;
        if (member)
            zip_source_free(member);
        if (!told)
            return ZipStatus::CannotReadMember;
        job.flags = attributes.general_purpose_bit_flags;
    }
    MemberPtr file(zip_fopen_index(archive, index, ZIP_FL_COMPRESSED));
    if (!file)
        return statusForMemberError(zip_error_code_zip(zip_get_error(archive)));

    bool stopped = false;
    job.read = [&](char* into, qint64 max) -> qint64 {
        stopped = aborted();
        return stopped ? -1 : zip_fread(file.get(), into, zip_uint64_t(max));
    };
    job.progress = [&](qint64 made) {
        if (progress == Progress::Report && job.expectedSize > 0)
            reportStatus(int(std::min<qint64>(99, made * 100 / job.expectedSize)));
        stopped = aborted();
        return !stopped;
    };
    switch (expandLegacyMember(job, out)) {
    case ExpandResult::Done:
        break;
    case ExpandResult::Damaged:
        return ZipStatus::CorruptArchive;
    case ExpandResult::TooLarge:
        return ZipStatus::MemberTooLarge;
    case ExpandResult::Stopped:
        return ZipStatus::Aborted;
    case ExpandResult::InputFailed:
        return stopped ? ZipStatus::Aborted
                       : statusForMemberError(zip_error_code_zip(zip_file_get_error(file.get())));
    }
    if (aborted())
        return ZipStatus::Aborted;
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(out.constData()),
                            uInt(out.size()));
    if ((st.valid & ZIP_STAT_CRC) && crc != st.crc)
        return ZipStatus::CrcError;
    return ZipStatus::Success;
}

ZipComponent::ZipComponent(QObject* parent) : QObject(parent) {}

ZipComponent::~ZipComponent()
{
    FlushUpdates();
}

// Flushes the folder of earlier updates, unless it is the one open as
// sameAsFd (whose updates go on; -1: flush in any case).
void ZipComponent::flushFolderUnless(int sameAsFd)
{
    if (m_unflushedFolder < 0)
        return;
    struct stat a, b;
    if (sameAsFd >= 0 && ::fstat(m_unflushedFolder, &a) == 0 && ::fstat(sameAsFd, &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return;
    if (!platform::flushFolder(m_unflushedFolder))
        m_flushFailed = true;
    ::close(m_unflushedFolder);
    m_unflushedFolder = -1;
}

bool ZipComponent::FlushUpdates()
{
    flushFolderUnless(-1);
    const bool ok = !m_flushFailed;
    m_flushFailed = false;
    return ok;
}

ZipStatus ZipComponent::extractRootMember(const QString& archivePath, const QString& name,
                                          const QString& targetFolder)
{
    ZipRunningCall call(*this);
    if (archivePath.isEmpty() || targetFolder.isEmpty() || !isPlainName(name))
        return ZipStatus::BadArguments;

    QByteArray data;
    const ZipStatus status = call.readRootMember(archivePath, name, data);
    if (status != ZipStatus::Success)
        return status;
    if (call.aborted())
        return ZipStatus::Aborted;

    // The one file we write is the fixed name in the target folder, whatever
    // path the member had in the archive. A temporary file renamed over it
    // means a reader sees the earlier file or the whole new one.
    if (!platform::isDirectory(targetFolder))
        return ZipStatus::CannotWriteTarget;
    if (!platform::writeFileAtomic(platform::joinPath(targetFolder, name), data))
        return ZipStatus::CannotWriteTarget;
    call.reportStatus(100);
    return ZipStatus::Success;
}

ZipStatus ZipComponent::readRootMember(const QString& archivePath, const QString& name,
                                       QByteArray& out)
{
    ZipRunningCall call(*this);
    out.clear();
    if (archivePath.isEmpty() || !isPlainName(name))
        return ZipStatus::BadArguments;
    const ZipStatus status = call.readRootMember(archivePath, name, out);
    if (status == ZipStatus::Success)
        call.reportStatus(100);
    return status;
}

ZipStatus sizeOfHeldArchive(int fd, qint64& knownSize)
{
    if (knownSize < 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            return ZipStatus::CannotOpenArchive;
        knownSize = qint64(st.st_size);
    }
    if (knownSize == 0)
        return ZipStatus::NotAZipArchive;
    return ZipStatus::Success;
}

ZipStatus ZipComponent::readRootMemberFrom(int fd, const QString& name, QByteArray& out,
                                           qint64 knownSize)
{
    ZipRunningCall call(*this);
    out.clear();
    if (fd < 0 || !isPlainName(name))
        return ZipStatus::BadArguments;
    if (const ZipStatus held = sizeOfHeldArchive(fd, knownSize); held != ZipStatus::Success)
        return held;
    const ZipStatus status = call.readRootMemberOf(fd, knownSize, name, out);
    if (status == ZipStatus::Success)
        call.reportStatus(100);
    return status;
}

ZipStatus ZipComponent::readRootFiles(const QStringList& paths, std::vector<RootMember>& out)
{
    // Every file to store is read into memory first, size-limited: a file
    // that changes or vanishes while the archive is written cannot spoil it.
    out.clear();
    for (QString path : paths) {
        while (path.startsWith(u'\n'))
            path.remove(0, 1);
        while (path.endsWith(u'\n'))
            path.chop(1);
        if (path.isEmpty())
            continue;
        const platform::FileStat st = platform::statPath(path);
        RootMember source;
        source.name = platform::lastComponent(path);
        if (!st.ok || !st.isFile || !isPlainName(source.name))
            return ZipStatus::CannotReadSource;
        const int error = platform::readFileUpTo(path, source.data, kMaxStoredMemberSize);
        if (error != 0)
            return error == EFBIG ? ZipStatus::MemberTooLarge : ZipStatus::CannotReadSource;
        source.modified = time_t(st.modified.toSecsSinceEpoch());
        out.push_back(std::move(source));
    }
    return ZipStatus::Success;
}

ZipStatus ZipComponent::storeRootMembers(const QString& archivePath,
                                         const std::vector<RootMember>& members)
{
    ZipRunningCall call(*this);
    if (archivePath.isEmpty() || members.empty())
        return ZipStatus::BadArguments;
    for (const RootMember& member : members) {
        if (!isPlainName(member.name))
            return ZipStatus::BadArguments;
        if (member.data.size() > kMaxStoredMemberSize)
            return ZipStatus::MemberTooLarge;
    }
    return call.update(archivePath, members);
}

ZipStatus ZipComponent::storeRootFiles(const QString& archivePath, const QStringList& files)
{
    if (archivePath.isEmpty())
        return ZipStatus::BadArguments;
    std::vector<RootMember> members;
    const ZipStatus read = readRootFiles(files, members);
    if (read != ZipStatus::Success)
        return read;
    return storeRootMembers(archivePath, members);
}

// The property front: the operations above, given what the properties hold.

ZipStatus ZipComponent::ExtractMembers(int)
{
    return extractRootMember(m_archivePath, m_memberMask, m_targetFolder);
}

ZipStatus ZipComponent::ReadMember(const QString& archive, const QString& memberName,
                                   QByteArray& out)
{
    return readRootMember(archive, memberName, out);
}

ZipStatus ZipComponent::ReadMemberFrom(int fd, const QString& memberName, QByteArray& out,
                                       qint64 knownSize)
{
    return readRootMemberFrom(fd, memberName, out, knownSize);
}

ZipStatus ZipComponent::UpdateMembers(int)
{
    return storeRootFiles(m_archivePath, m_memberMask.split(u'\r'));
}

ZipStatus ZipComponent::UpdateMemberData(const QString& memberName, const QByteArray& data)
{
    return storeRootMembers(m_archivePath, {RootMember{memberName, data, ::time(nullptr)}});
}

// The update itself, once every member to store is in memory.
ZipStatus ZipRunningCall::update(const QString& archivePath, const std::vector<RootMember>& sources)
{
    StrayUpdateCleaner& strays = m_component.m_strays;
    if (aborted())
        return ZipStatus::Aborted;

    QString real;
    if (!linkTarget(archivePath, real))
        return ZipStatus::CannotOpenArchive;
    // What a killed earlier update of this archive left beside it.
    strays.removeFor(real);

    // The archive is opened once and held: everything read comes from that
    // one open file. Another update that held it while we waited may have
    // put a new version in place; that one is then opened in its turn.
    platform::FileReplacement file;
    platform::FileReplacement::Result opened = platform::FileReplacement::Result::Moved;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        opened = file.open(platform::encodeName(real), kLockWaitMs);
        if (opened != platform::FileReplacement::Result::Moved)
            break;
    }
    if (opened != platform::FileReplacement::Result::Ok)
        return statusForReplacement(opened);
    const ZipStatus status = updateHeld(file, sources);
    file.discard();
    // The new file, and the exchange when it came to that, were ours.
    strays.noteOwnChange(real);
    if (status == ZipStatus::Success)
        reportAdding(100);
    return status;
}

ZipStatus ZipRunningCall::updateHeld(platform::FileReplacement& file,
                                     const std::vector<RootMember>& sources)
{
    if (file.original().st_size == 0)
        return ZipStatus::NotAZipArchive; // never made into an archive
    ZipStatus status = ZipStatus::Success;
    quint64 prefix = 0;
    ArchivePtr archive = openHeld(file.fd(), 0, status, prefix);
    if (!archive)
        return status;
    const DescriptorBytes bytes(file.fd());
    ZipLayout layout;
    if (!bytes.ok())
        return ZipStatus::CannotOpenArchive;
    status = statusForLayout(readZipLayout(bytes, layout));
    if (status != ZipStatus::Success)
        return status;
    if (layout.prefix != prefix || !sameDirectory(archive.get(), layout))
        return ZipStatus::InconsistentRecords;

    // Each source replaces the member libzip finds by its name (so the same
    // rule as when reading picks the description), or is added; a later
    // source of the same name takes the place of an earlier one.
    std::vector<NewMember> members;
    std::vector<RootMember> stored;   // what each member holds, to read back
    std::vector<zip_int64_t> indices; // where each member will be in the new directory
    zip_int64_t next = zip_int64_t(layout.entries.size());
    for (const RootMember& source : sources) {
        const zip_int64_t found = findRootMember(archive.get(), source.name);
        NewMember member = encodeMember(found >= 0 ? layout.entries[size_t(found)].name
                                                   : platform::encodeName(source.name),
                                        source.data, source.modified);
        member.replaces = int(found);
        size_t same = 0;
        while (same < members.size() &&
               !(found >= 0 ? members[same].replaces == found
                            : members[same].replaces < 0 &&
                                  stored[same].name.compare(source.name, Qt::CaseInsensitive) == 0))
            ++same;
        if (same < members.size()) {
            members[same] = member;
            stored[same] = source;
            continue;
        }
        members.push_back(member);
        stored.push_back(source);
        indices.push_back(found >= 0 ? found : next++);
    }
    archive.reset();

    const SplicePlan plan = planSplice(layout, members);
    if (plan.pieces.empty() || plan.entries != size_t(next))
        return ZipStatus::CannotWriteArchive;
    if (aborted())
        return ZipStatus::Aborted;
    if (file.beginWrite() != platform::FileReplacement::Result::Ok)
        return ZipStatus::CannotWriteArchive;
    status = writeSpliced(file, plan);
    if (status != ZipStatus::Success)
        return status;
    // The disk may start on the new archive while it is checked; the flush
    // before it takes the old one's place then has less to wait for.
    ::sync_file_range(file.writeFd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    status = checkResult(file, prefix, plan, stored, indices);
    if (status != ZipStatus::Success)
        return status;
    // The last moment an abort can stop the update.
    if (aborted())
        return ZipStatus::Aborted;
    int folder = -1;
    status = statusForReplacement(file.commit(&folder));
    if (folder >= 0) {
        m_component.flushFolderUnless(folder);
        if (m_component.m_unflushedFolder < 0)
            m_component.m_unflushedFolder = folder;
        else
            ::close(folder); // the same folder, already waiting for its flush
    }
    return status;
}

ZipStatus ZipRunningCall::writeSpliced(platform::FileReplacement& file, const SplicePlan& plan)
{
    const quint64 total = std::max<quint64>(1, plan.size);
    quint64 at = 0;
    for (const SplicePiece& piece : plan.pieces) {
        if (!piece.bytes.isEmpty()) {
            if (!platform::writeAllAt(file.writeFd(), piece.bytes, at))
                return ZipStatus::CannotWriteArchive;
            at += quint64(piece.bytes.size());
        } else {
            // In steps, so that an abort is seen during a large copy.
            for (quint64 done = 0; done < piece.length;) {
                const quint64 step = std::min<quint64>(piece.length - done, kCopyStep);
                if (!platform::copyFileRange(file.fd(), piece.from + done, file.writeFd(), at,
                                             step))
                    return ZipStatus::CannotWriteArchive;
                done += step;
                at += step;
                reportAdding(int(std::min<quint64>(98, at * 100 / total)));
                if (aborted())
                    return ZipStatus::Aborted;
            }
        }
    }
    return ZipStatus::Success;
}

// The last word before the old archive goes: what was written must parse as
// the archive it was meant to be (its directory and end record where they
// were put), open strictly when the old archive did, and libzip, opening it
// as every later read will, must see the same directory and read every
// stored member back.
ZipStatus ZipRunningCall::checkResult(platform::FileReplacement& file, quint64 prefix,
                                      const SplicePlan& plan,
                                      const std::vector<RootMember>& sources,
                                      const std::vector<zip_int64_t>& indices)
{
    const DescriptorBytes bytes(file.writeFd());
    ZipLayout written;
    if (!bytes.ok() || bytes.size() != plan.size ||
        readZipLayout(bytes, written) != LayoutStatus::Ok || written.prefix != prefix ||
        written.directoryStart != plan.directoryStart ||
        written.directoryEnd != plan.directoryEnd || written.tailStart != plan.tailStart ||
        written.entries.size() != plan.entries)
        return ZipStatus::CannotWriteArchive;
    // Only an archive that was no more consistent before may be so after.
    int error = ZIP_ER_OK;
    if (!ArchivePtr(openArchiveAt(file.writeFd(), prefix, ZIP_CHECKCONS, &error)) &&
        ArchivePtr(openArchiveAt(file.fd(), prefix, ZIP_CHECKCONS, &error)))
        return ZipStatus::CannotWriteArchive;
    // The new archive as a later read will open it: it must be the one
    // written. libzip, not checking consistency, may settle on another end
    // record than the one the update kept: an archive whose records
    // contradict each other so is left as it is.
    ZipStatus status = ZipStatus::Success;
    quint64 readPrefix = 0;
    ArchivePtr archive = openHeld(file.writeFd(), 0, status, readPrefix);
    if (!archive || readPrefix != prefix || !sameDirectory(archive.get(), written))
        return ZipStatus::InconsistentRecords;
    for (size_t k = 0; k < sources.size(); ++k) {
        QByteArray back;
        if (findRootMember(archive.get(), sources[k].name) != indices[k] ||
            readMemberData(archive.get(), zip_uint64_t(indices[k]), back, kMaxStoredMemberSize,
                           Progress::Quiet) != ZipStatus::Success ||
            back != sources[k].data)
            return ZipStatus::CannotWriteArchive;
    }
    reportAdding(99);
    return ZipStatus::Success;
}

} // namespace vexlo::diz
