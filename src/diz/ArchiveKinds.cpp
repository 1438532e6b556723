// SPDX-License-Identifier: MIT
#include "diz/ArchiveKinds.h"

#include "diz/DescriptionText.h"
#include "diz/ZipComponent.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <array>
#include <cerrno>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

namespace vexlo::diz {

namespace {

// The names of the kinds the readers read. ARC is not among them: no free
// reader reads it, and listing every ARC file as damaged would help nobody.
constexpr std::array kOtherKindSuffixes = {
    ".arj",    ".lzh",     ".lha",    ".rar",     ".7z",     ".cab",      ".iso",
    ".tar",    ".tgz",     ".tbz",    ".tbz2",    ".txz",    ".tzst",     ".tlz",
    ".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst", ".tar.lz", ".tar.lzma", ".tar.z",
};

// ZIP record signatures a ZIP archive starts with: a local header, the end
// record of an empty archive, or the mark of a split one.
bool startsLikeZip(const QByteArray& head)
{
    return head.size() >= 4 && head.at(0) == 'P' && head.at(1) == 'K' &&
           ((head.at(2) == 3 && head.at(3) == 4) || (head.at(2) == 5 && head.at(3) == 6) ||
            (head.at(2) == 7 && head.at(3) == 8));
}

// A data block is asked of libarchive at a time; the file is read with
// pread, so the caller's descriptor keeps its position and nothing else of it
// changes.
constexpr size_t kBlockSize = 64 * 1024;

struct HeldFile {
    int fd = -1;
    qint64 size = 0;
    qint64 position = 0;
    std::unique_ptr<char[]> block{new char[kBlockSize]};
};

la_ssize_t readBlock(archive* a, void* data, const void** buffer)
{
    auto* file = static_cast<HeldFile*>(data);
    for (;;) {
        const ssize_t got = ::pread(file->fd, file->block.get(), kBlockSize, file->position);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            archive_set_error(a, errno, "read error");
            return -1;
        }
        file->position += got;
        *buffer = file->block.get();
        return got;
    }
}

la_int64_t seekTo(archive*, void* data, la_int64_t offset, int whence)
{
    auto* file = static_cast<HeldFile*>(data);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = file->position;
    else if (whence == SEEK_END)
        base = file->size;
    const qint64 target = base + offset;
    if (target < 0)
        return ARCHIVE_FATAL;
    file->position = target;
    return target;
}

la_int64_t skipBy(archive*, void* data, la_int64_t request)
{
    auto* file = static_cast<HeldFile*>(data);
    const qint64 left = file->size > file->position ? file->size - file->position : 0;
    const qint64 skipped = request < left ? request : left;
    file->position += skipped;
    return skipped;
}

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
using ArchiveReadPtr = std::unique_ptr<archive, ArchiveFree>;

// The formats and filters asked for by name: the "all" calls would also take
// plain text for an mtree listing, and would start external programs (lzop,
// lrzip, grzip) for compressions the library does not hold itself.
void supportReadableKinds(archive* a)
{
    archive_read_support_format_7zip(a);
    archive_read_support_format_cab(a);
    archive_read_support_format_iso9660(a);
    archive_read_support_format_lha(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_zip(a); // a ZIP behind a stub, which our sniff passes on
    archive_read_support_filter_gzip(a);
    archive_read_support_filter_bzip2(a);
    archive_read_support_filter_xz(a);
    archive_read_support_filter_lzma(a);
    archive_read_support_filter_lzip(a);
    archive_read_support_filter_zstd(a);
    archive_read_support_filter_compress(a);
}

// A member name as the archive stores it, for matching: libarchive gives it
// in the locale's encoding, or failing that as UTF-8.
QString entryName(archive_entry* entry)
{
    if (const char* name = archive_entry_pathname(entry))
        return QString::fromLocal8Bit(name);
    if (const char* name = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(name);
    return QString();
}

// Root level: no folder part (DOS archivers wrote "\" as well). Archives made
// of a folder ("tar -C dir .") name its files "./name": still the root.
bool rootNameMatches(QString name, const QString& wanted)
{
    while (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    if (name.contains(u'/') || name.contains(u'\\'))
        return false;
    return name.compare(wanted, Qt::CaseInsensitive) == 0;
}

ZipStatus statusAfterFailure(archive* a, bool headerSeen)
{
    // Before a format is chosen there is none to ask about encryption (and
    // libarchive 3.6 would follow a null pointer if asked).
    if (archive_format(a) == 0) {
        // Nothing recognised at all: not an archive of any kind we read
        // (libarchive tells "unrecognised format" by EILSEQ on Linux).
        // Anything else, a compression cut short among them, is damage.
        return !headerSeen && archive_errno(a) == EILSEQ ? ZipStatus::NotAZipArchive
                                                         : ZipStatus::CorruptArchive;
    }
    if (archive_read_has_encrypted_entries(a) > 0)
        return ZipStatus::EncryptedMember;
    return ZipStatus::CorruptArchive;
}

// Reads the member's data, at most the limit and one byte more: a member's
// declared size is never trusted, what it gives is counted.
ZipStatus readEntryData(archive* a, QByteArray& out)
{
    out.clear();
    char buffer[16384];
    for (;;) {
        const la_ssize_t got = archive_read_data(a, buffer, sizeof buffer);
        if (got == 0)
            return ZipStatus::Success;
        if (got < 0) {
            out.clear();
            return archive_read_has_encrypted_entries(a) > 0 ? ZipStatus::EncryptedMember
                                                             : ZipStatus::CorruptArchive;
        }
        if (out.size() + got > kMaxMemberSize) {
            out.clear();
            return ZipStatus::MemberTooLarge;
        }
        out.append(buffer, got);
    }
}

} // namespace

ArchiveKind kindFromHead(const QByteArray& head)
{
    if (startsLikeZip(head))
        return ArchiveKind::Zip;
    if (head.size() >= 2 && quint8(head.at(0)) == 0x60 && quint8(head.at(1)) == 0xEA)
        return ArchiveKind::Arj;
    return ArchiveKind::Other;
}

ArchiveKind kindOf(int fd)
{
    char head[4] = {};
    ssize_t got;
    do
        got = ::pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    return kindFromHead(QByteArray(head, got > 0 ? int(got) : 0));
}

bool hasOtherKindName(const QString& name)
{
    for (const char* suffix : kOtherKindSuffixes) {
        if (name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive) &&
            name.size() > qsizetype(qstrlen(suffix)))
            return true;
    }
    return false;
}

bool isArchiveName(const QString& name, bool allKinds)
{
    return endsInZip(name) || (allKinds && hasOtherKindName(name));
}

ZipStatus readLibarchiveMember(int fd, const QString& memberName, QByteArray& out, qint64 knownSize)
{
    out.clear();
    if (const ZipStatus held = sizeOfHeldArchive(fd, knownSize); held != ZipStatus::Success)
        return held;

    ArchiveReadPtr a(archive_read_new());
    if (!a)
        return ZipStatus::CannotOpenArchive;
    supportReadableKinds(a.get());
    HeldFile file;
    file.fd = fd;
    file.size = knownSize;
    archive_read_set_read_callback(a.get(), readBlock);
    archive_read_set_seek_callback(a.get(), seekTo);
    archive_read_set_skip_callback(a.get(), skipBy);
    archive_read_set_callback_data(a.get(), &file);
    if (archive_read_open1(a.get()) != ARCHIVE_OK)
        return statusAfterFailure(a.get(), false);

    bool headerSeen = false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            return ZipStatus::NothingMatched;
        // A warning (an odd header field, a name in another encoding) still
        // gives the entry.
        if (r < ARCHIVE_WARN)
            return statusAfterFailure(a.get(), headerSeen);
        headerSeen = true;
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) ||
            !rootNameMatches(entryName(entry), memberName))
            continue;
        if (archive_entry_is_encrypted(entry))
            return ZipStatus::EncryptedMember;
        return readEntryData(a.get(), out);
    }
}

// ARJ: the arj program, when installed.

namespace {

// What arj may take: a listing of a few thousand members is far below this.
constexpr qint64 kArjOutputCap = qint64(4) << 20;
constexpr int kArjTimeoutMs = 20000;

QString arjProgram()
{
    static const QString found = QStandardPaths::findExecutable(QStringLiteral("arj"));
    return found;
}

// Runs arj in folder with words; its standard output (at most the cap) in
// output. The child may write no file larger than a description may be, and
// gets no input, so a question (a password, an overwrite) ends it at once.
// arj's exit code, or -1 when it did not end by itself in time.
int runArj(const QString& folder, const QStringList& words, QByteArray* output)
{
    QProcess arj;
    arj.setProgram(arjProgram());
    arj.setArguments(words);
    arj.setWorkingDirectory(folder);
    arj.setStandardInputFile(QProcess::nullDevice());
    arj.setStandardErrorFile(QProcess::nullDevice());
    if (!output)
        arj.setStandardOutputFile(QProcess::nullDevice());
    arj.setChildProcessModifier([] {
        const rlimit size{rlim_t(kMaxMemberSize + 1), rlim_t(kMaxMemberSize + 1)};
        ::setrlimit(RLIMIT_FSIZE, &size);
    });
    arj.start();
    if (!arj.waitForStarted(kArjTimeoutMs))
        return -1;
    if (!output) {
        if (!arj.waitForFinished(kArjTimeoutMs)) {
            arj.kill();
            arj.waitForFinished(-1);
            return -1;
        }
        return arj.exitStatus() == QProcess::NormalExit ? arj.exitCode() : -1;
    }
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (arj.state() != QProcess::NotRunning) {
        const qint64 left = kArjTimeoutMs - clock.elapsed();
        if (left <= 0 || got.size() > kArjOutputCap) {
            arj.kill();
            arj.waitForFinished(-1);
            return -1;
        }
        if (!arj.waitForReadyRead(int(qMin<qint64>(left, 1000))))
            arj.waitForFinished(int(qMin<qint64>(left, 50)));
        got.append(arj.readAllStandardOutput());
    }
    got.append(arj.readAllStandardOutput());
    if (got.size() > kArjOutputCap)
        return -1;
    *output = got;
    return arj.exitStatus() == QProcess::NormalExit ? arj.exitCode() : -1;
}

} // namespace

bool arjAvailable()
{
    return !arjProgram().isEmpty();
}

namespace {

// An ARJ archive opens with its main header: the two marker bytes, the
// header's length (at most 2600), the header and its CRC-32. Checked here,
// so that a file that only starts like one (collections hold plenty) costs
// no run of arj, which takes far longer than reading the header.
bool startsWithArjMainHeader(int fd)
{
    constexpr int kMaxBasicHeader = 2600;
    char head[4 + kMaxBasicHeader + 4];
    ssize_t got;
    do
        got = ::pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got < 4 || quint8(head[0]) != 0x60 || quint8(head[1]) != 0xEA)
        return false;
    const int size = quint8(head[2]) | quint8(head[3]) << 8;
    if (size == 0 || size > kMaxBasicHeader || got < 4 + size + 4)
        return false;
    const uchar* basic = reinterpret_cast<const uchar*>(head + 4);
    const uchar* crc = basic + size;
    const quint32 stored =
        quint32(crc[0]) | quint32(crc[1]) << 8 | quint32(crc[2]) << 16 | quint32(crc[3]) << 24;
    return stored == quint32(::crc32(::crc32(0, nullptr, 0), basic, uInt(size)));
}

} // namespace

ZipStatus readArjMember(int fd, const QString& memberName, QByteArray& out)
{
    out.clear();
    if (!arjAvailable())
        return ZipStatus::NothingMatched;
    if (!startsWithArjMainHeader(fd))
        return ZipStatus::CorruptArchive;
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/vexlo32-arj-XXXXXX"));
    if (!folder.isValid())
        return ZipStatus::CannotReadMember;
    // arj gets the file we hold open, by a name of our own in our folder: no
    // other file swapped in under the archive's name, no name arj could take
    // for a switch, and the ".arj" it wants.
    const QString archiveLink = folder.filePath(QStringLiteral("archive.arj"));
    const QString held = QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(fd);
    if (!QFile::link(held, archiveLink))
        return ZipStatus::CannotReadMember;

    QByteArray listing;
    // 0: listed; anything else (an archive cut short, no ARJ after all).
    if (runArj(folder.path(), {QStringLiteral("v"), QStringLiteral("archive.arj")}, &listing) != 0)
        return ZipStatus::CorruptArchive;
    // "001) PATH" starts each member of the verbose listing.
    static const QRegularExpression memberLine(QStringLiteral("^\\d{3,}\\) (.*)$"),
                                               QRegularExpression::MultilineOption);
    QString stored;
    auto lines = memberLine.globalMatch(QString::fromLocal8Bit(listing));
    while (lines.hasNext()) {
        const QString name = lines.next().captured(1).trimmed();
        if (rootNameMatches(name, memberName)) {
            stored = name;
            break;
        }
    }
    if (stored.isEmpty())
        return ZipStatus::NothingMatched;

    // -p1: the name is matched with its path, so only the root member comes
    // out; the name is file_id.diz in some letter case, no wildcard in it.
    const QString into = folder.filePath(QStringLiteral("out"));
    if (!QDir().mkdir(into))
        return ZipStatus::CannotReadMember;
    runArj(folder.path(),
           {QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-p1"),
            QStringLiteral("archive.arj"), QStringLiteral("out/"), stored},
           nullptr);
    const int error = platform::readFileUpTo(platform::joinPath(into, stored), out, kMaxMemberSize);
    if (error != 0) {
        out.clear();
        return error == EFBIG ? ZipStatus::MemberTooLarge : ZipStatus::CorruptArchive;
    }
    return ZipStatus::Success;
}

ZipStatus readMemberOfAnyKind(ZipComponent& zip, int fd, const QString& memberName, QByteArray& out,
                              qint64 knownSize)
{
    switch (kindOf(fd)) {
    case ArchiveKind::Zip:
        return zip.ReadMemberFrom(fd, memberName, out, knownSize);
    case ArchiveKind::Arj:
        return readArjMember(fd, memberName, out);
    case ArchiveKind::Other:
        break;
    }
    return readLibarchiveMember(fd, memberName, out, knownSize);
}

} // namespace vexlo::diz
