#include "cli/DizCli.h"

#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vexlo::cli {
using namespace diz;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Names as the user typed them: the bytes go back out unchanged.
void printFailure(const QString& subject, const QString& reason)
{
    const QByteArray line =
        "vexlo32: " + platform::encodeName(subject) + ": " + reason.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

void printUsage(const char* text)
{
    std::fprintf(stderr, "vexlo32: %s\nTry 'vexlo32 --help'.\n", text);
}

// 0, or the reason the bytes could not be written as an errno value.
int writeAllToStdout(const QByteArray& bytes)
{
    if (!bytes.isEmpty() &&
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
        return errno ? errno : EIO;
    return std::fflush(stdout) == 0 ? 0 : errno ? errno : EIO;
}

} // namespace

int runGetDizCommand(const QStringList& args)
{
    if (args.size() != 1) {
        printUsage("--get-diz takes one archive");
        return kExitUsage;
    }
    const QString& archive = args.first();
    ZipComponent zip;
    QByteArray bytes;
    const ZipStatus status = zip.ReadMember(archive, platform::kDescriptionFileName, bytes);
    if (status != ZipStatus::Success) {
        printFailure(archive, zipStatusText(status));
        return kExitFailure;
    }
    if (const int error = writeAllToStdout(bytes); error != 0) {
        printFailure(QStringLiteral("standard output"), platform::errorText(error));
        return kExitFailure;
    }
    return 0;
}

int runSaveDizCommand(const QStringList& args)
{
    if (args.size() < 2) {
        printUsage("--save-diz takes a description file and at least one archive");
        return kExitUsage;
    }
    const QString& dizFile = args.first();

    // The description is stored as it is, without the CR LF the window adds.
    // One larger than the component will ever read back is refused.
    QByteArray bytes;
    if (const int error = platform::readFileUpTo(dizFile, bytes, kMaxMemberSize); error != 0) {
        printFailure(dizFile, error == EFBIG ? zipStatusText(ZipStatus::MemberTooLarge)
                                             : platform::errorText(error));
        return kExitFailure;
    }
    // The bytes go to the zip layer as they are: no temporary copy that a
    // killed run could leave behind.
    int exitStatus = 0;
    ZipComponent zip;
    for (const QString& archive : args.mid(1)) {
        // The update never makes an archive where there is none; a path
        // that is no regular file is told as such, before the zip layer.
        if (!platform::isRegularFile(archive)) {
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
