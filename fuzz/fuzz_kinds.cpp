// SPDX-License-Identifier: MIT
// The reader of the other archive kinds (libarchive: 7z, LZH, CAB, RAR, ISO,
// TAR and its compressions) on arbitrary bytes, held open as Make list holds
// an archive. Besides not crashing, hanging or growing, it must keep its
// promises: one of its defined statuses, a description within the limit
// only on success, the input file unchanged, and nothing written beside it.
// ARJ goes to the arj program, a process per input: not fuzzed here.

#include "diz/ArchiveKinds.h"
#include "diz/ZipStatus.h"
#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

using namespace vexlo;

namespace {

const QString kDiz = QStringLiteral("file_id.diz");

QString archivePath()
{
    static const QString path = [] {
        const QString folder = fuzz::scratchFolder() + "/archive";
        QDir().mkpath(folder);
        return folder + "/input.7z";
    }();
    return path;
}

bool isDefinedStatus(diz::ZipStatus status)
{
    switch (status) {
    case diz::ZipStatus::Success:
    case diz::ZipStatus::NothingMatched:
    case diz::ZipStatus::NotAZipArchive:
    case diz::ZipStatus::CorruptArchive:
    case diz::ZipStatus::EncryptedMember:
    case diz::ZipStatus::MemberTooLarge:
    case diz::ZipStatus::CannotOpenArchive:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = archivePath();
    const QByteArray input = fuzz::bytesOf(data, size);
    if (!platform::writeFile(path, input))
        fuzz::fail("cannot write the input archive");
    // Which reader the first bytes choose is decided for every input.
    (void)diz::kindFromHead(input.left(4));

    const int fd = ::open(platform::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fuzz::fail("cannot open the input archive");
    QByteArray out("left over");
    const diz::ZipStatus status = diz::readLibarchiveMember(fd, kDiz, out);
    ::close(fd);

    if (!isDefinedStatus(status))
        fuzz::fail("a status the reader does not promise");
    if (status == diz::ZipStatus::Success && out.size() > diz::kMaxMemberSize)
        fuzz::fail("a description over the limit was read");
    if (status != diz::ZipStatus::Success && !out.isEmpty())
        fuzz::fail("a failed read left bytes behind");
    QByteArray after;
    if (!platform::readFile(path, after) || after != input)
        fuzz::fail("the archive changed while it was read");
    const std::vector<QString> names = fuzz::namesIn(platform::parentPath(path));
    if (names.size() != 1)
        fuzz::fail("the reader wrote beside the archive");
    return 0;
}
