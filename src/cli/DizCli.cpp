// SPDX-License-Identifier: MIT
#include "cli/DizCli.h"

#include "cli/CliCommon.h"
#include "diz/ArchiveKinds.h"
#include "diz/Cp437.h"
#include "diz/DescriptionText.h"
#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QCommandLineParser>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::cli {
using namespace diz;

namespace {

const char kGetDizUsage[] =
    "Usage: vexlo32 --get-diz [--utf8] [--all-kinds] ARCHIVE\n"
    "Writes the FILE_ID.DIZ of ARCHIVE to standard output, as \"Get diz\" reads it.\n"
    "\n"
    "  --utf8          write the description as UTF-8 text (otherwise its DOS bytes\n"
    "                  unchanged): each byte becomes its DOS (code page 437) glyph,\n"
    "                  tab, line feed and carriage return stay as they are\n"
    "  --all-kinds     ARCHIVE may also be ARJ, LZH/LHA, RAR, 7z, CAB, ISO or TAR\n"
    "                  (read as what its first bytes say, whatever its name)\n"
    "  -h, --help      show this help and exit\n"
    "\n"
    "ARCHIVE is used exactly as typed, letter case included. An ARCHIVE of - is\n"
    "read from standard input (at most 256 MiB).\n"
    "Exit status: 0 when the description was written, 1 when the archive could\n"
    "not be read or has none, 2 for bad arguments.\n";

const char kSaveDizUsage[] =
    "Usage: vexlo32 --save-diz [--utf8] DIZFILE ARCHIVE...\n"
    "Stores the bytes of DIZFILE as the FILE_ID.DIZ of each ARCHIVE, as \"Save diz\"\n"
    "does; nothing else of an archive changes.\n"
    "\n"
    "  --utf8          DIZFILE is UTF-8 text: each character is stored as its DOS\n"
    "                  (code page 437) byte; text that is not UTF-8 or holds a\n"
    "                  character DOS cannot show is refused with its line and\n"
    "                  column, and no archive is touched\n"
    "  -h, --help      show this help and exit\n"
    "\n"
    "DIZFILE and each ARCHIVE are used exactly as typed, letter case included. A\n"
    "DIZFILE of - is read from standard input.\n"
    "Exit status: 0 when every archive was updated, 1 when the description could\n"
    "not be read or an archive could not be updated (each is named), 2 for bad\n"
    "arguments.\n";

// An archive piped in is kept in memory to be read; this is the most it may
// hold (a BBS archive is a few megabytes).
constexpr qint64 kMaxArchiveFromInput = qint64(256) << 20;
constexpr char kMaxArchiveFromInputText[] = "256 MiB";

QString standardInputName()
{
    return QStringLiteral("standard input");
}

// 0, or the reason the bytes could not be written as an errno value.
int writeAllToStdout(const QByteArray& bytes)
{
    if (!bytes.isEmpty() &&
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
        return errno ? errno : EIO;
    return std::fflush(stdout) == 0 ? 0 : errno ? errno : EIO;
}

// Standard input as an archive the zip layer can read: itself when it is a
// regular file (a redirection), else what it holds copied into an unnamed
// file in memory, which leaves nothing behind. -1 with errno set on failure
// (EFBIG: more than the bound).
int archiveFromStandardInput(int& ownFd)
{
    ownFd = -1;
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode))
        return STDIN_FILENO;
    const int fd = ::memfd_create("vexlo32-archive", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    ownFd = fd;
    qint64 total = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0)
            return fd;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        total += n;
        if (total > kMaxArchiveFromInput) {
            errno = EFBIG;
            return -1;
        }
        if (!platform::writeAll(fd, QByteArray::fromRawData(buffer, qsizetype(n))))
            return -1;
    }
}

// The parser of one mode: its word, --utf8 and --help.
struct DizParser {
    explicit DizParser(const QString& modeName) : mode(modeName)
    {
        setUpParser(parser);
        parser.addOptions({mode, utf8, help});
        if (mode.names().constFirst() == QLatin1String("get-diz"))
            parser.addOption(allKinds);
    }
    QCommandLineParser parser;
    const QCommandLineOption mode;
    const QCommandLineOption utf8{QStringLiteral("utf8")};
    const QCommandLineOption allKinds{QStringLiteral("all-kinds")};
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
};

} // namespace

int runGetDizCommand(const QStringList& words)
{
    DizParser p(QStringLiteral("get-diz"));
    const QString helpWords = QStringLiteral("--get-diz --help");
    if (const QString problem = parseWords(p.parser, words); !problem.isEmpty())
        return usageMistake(problem, helpWords);
    if (p.parser.isSet(p.help)) {
        printText(kGetDizUsage);
        printText(kindsHelpNote());
        return 0;
    }
    const QStringList positional = p.parser.positionalArguments();
    if (positional.size() != 1)
        return usageMistake(QStringLiteral("--get-diz takes one archive"), helpWords);
    const QString& archive = positional.first();
    const bool fromInput = archive == kStandardStream;
    const QString subject = fromInput ? standardInputName() : archive;

    // The archive is opened here, once, by the name exactly as typed; the zip
    // layer reads that very file. O_NONBLOCK: a FIFO is never waited on.
    int ownFd = -1;
    int fd = -1;
    if (fromInput) {
        fd = archiveFromStandardInput(ownFd);
    } else {
        fd = ::open(platform::encodeName(archive).constData(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        ownFd = fd;
    }
    const int openError = errno;
    const platform::UniqueFd owned(ownFd);
    if (fd < 0) {
        printFailure(subject, openError == EFBIG && fromInput
                                  ? QStringLiteral("an archive read from standard input may "
                                                   "hold at most %1")
                                        .arg(QLatin1String(kMaxArchiveFromInputText))
                                  : platform::errorText(openError));
        return kExitFailure;
    }
    ZipComponent zip;
    QByteArray bytes;
    // With --all-kinds the first bytes decide (a ZIP goes to the zip layer
    // as ever); without it, only the zip layer is asked, as it always was.
    const ZipStatus status =
        p.parser.isSet(p.allKinds) && (fromInput || !endsInZip(archive))
            ? readMemberOfAnyKind(zip, fd, platform::kDescriptionFileName, bytes)
            : zip.ReadMemberFrom(fd, platform::kDescriptionFileName, bytes);
    if (status != ZipStatus::Success) {
        struct stat st;
        const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
        printFailure(subject, folder ? platform::errorText(EISDIR) : zipStatusText(status));
        return kExitFailure;
    }
    if (p.parser.isSet(p.utf8))
        bytes = cp437::utf8FromDosBytes(bytes);
    if (const int error = writeAllToStdout(bytes); error != 0) {
        printFailure(QStringLiteral("standard output"), platform::errorText(error));
        return kExitFailure;
    }
    return 0;
}

int runSaveDizCommand(const QStringList& words)
{
    DizParser p(QStringLiteral("save-diz"));
    const QString helpWords = QStringLiteral("--save-diz --help");
    if (const QString problem = parseWords(p.parser, words); !problem.isEmpty())
        return usageMistake(problem, helpWords);
    if (p.parser.isSet(p.help)) {
        printText(kSaveDizUsage);
        return 0;
    }
    const QStringList positional = p.parser.positionalArguments();
    if (positional.size() < 2)
        return usageMistake(
            QStringLiteral("--save-diz takes a description file and at least one archive"),
            helpWords);
    const QString& dizFile = positional.first();
    const QStringList archives = positional.mid(1);
    if (archives.contains(kStandardStream))
        return usageMistake(
            QStringLiteral("an archive is updated where it lies: - cannot stand for one"),
            helpWords);

    // The description is stored as it is, without the CR LF the window adds.
    // One larger than the component will ever read back is refused. UTF-8
    // text takes up to three bytes for a DOS glyph.
    const bool utf8 = p.parser.isSet(p.utf8);
    const qint64 readLimit = utf8 ? 3 * kMaxMemberSize : kMaxMemberSize;
    const bool fromInput = dizFile == kStandardStream;
    const QString subject = fromInput ? standardInputName() : dizFile;
    QByteArray bytes;
    int error = fromInput ? readStandardInput(bytes, readLimit)
                          : platform::readFileUpTo(dizFile, bytes, readLimit);
    if (error == 0 && utf8) {
        QString refusal;
        const std::optional<QByteArray> dos = cp437::dosBytesFromUtf8(bytes, &refusal);
        if (!dos) {
            printFailure(subject, refusal);
            return kExitFailure;
        }
        bytes = *dos;
        if (bytes.size() > kMaxMemberSize)
            error = EFBIG;
    }
    if (error != 0) {
        printFailure(subject, error == EFBIG ? zipStatusText(ZipStatus::MemberTooLarge)
                                             : platform::errorText(error));
        return kExitFailure;
    }
    // The bytes go to the zip layer as they are: no temporary copy that a
    // killed run could leave behind.
    int exitStatus = 0;
    ZipComponent zip;
    for (const QString& archive : archives) {
        // The update never makes an archive where there is none; a path
        // that is no regular file is told as such, before the zip layer.
        struct stat st;
        if (::stat(platform::encodeName(archive).constData(), &st) != 0) {
            printFailure(archive, platform::errorText(errno));
            exitStatus = kExitFailure;
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            printFailure(archive, zipStatusText(ZipStatus::CannotOpenArchive));
            exitStatus = kExitFailure;
            continue;
        }
        zip.setKeepPaths(false);
        zip.setArchivePath(archive);
        const ZipStatus status = zip.UpdateMemberData(platform::kDescriptionFileName, bytes);
        if (status != ZipStatus::Success) {
            printFailure(archive, zipStatusText(status));
            exitStatus = kExitFailure;
        }
    }
    if (!zip.FlushUpdates()) {
        printFailure(QStringLiteral("save-diz"), zipStatusText(ZipStatus::ArchiveNotFlushed));
        exitStatus = kExitFailure;
    }
    return exitStatus;
}

} // namespace vexlo::cli
