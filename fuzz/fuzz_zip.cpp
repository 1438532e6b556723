// SPDX-License-Identifier: MIT
// The zip read path on arbitrary bytes: the bytes become an archive file,
// then ExtractMembers, ReadMember and UpdateMembers run on it. Besides not
// crashing, hanging or growing, the component must keep its promises:
// nothing lands in the target folder but the one member, extraction and
// reading agree, and an update either leaves the archive byte-identical or
// stores the description so that it reads back, changing no byte beyond the
// description, the offsets it moved and the end records (as an independent
// reading of both archives, tests/zip_regions.h, sees them), and leaving an
// archive libzip opens strictly if it opened the input strictly.

#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "fuzz_support.h"
#include "zip_regions.h"

#include <zip.h>

using namespace vexlo;

namespace {

bool opensStrictly(const QString& path)
{
    int error = 0;
    zip_t* z = zip_open(platform::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (z)
        zip_discard(z);
    return z != nullptr;
}

const QString kDiz = QStringLiteral("file_id.diz");

struct Folders {
    QString archive; // the input as an archive, alone in its folder
    QString archiveFolder;
    QString target; // extraction target
    QString source; // the description an update stores
};

const Folders& folders()
{
    static const Folders f = [] {
        const QString root = fuzz::scratchFolder();
        Folders out;
        out.archiveFolder = root + "/archive";
        out.archive = out.archiveFolder + "/input.zip";
        out.target = root + "/target";
        out.source = root + "/source/" + kDiz;
        QDir().mkpath(out.archiveFolder);
        QDir().mkpath(out.target);
        QDir().mkpath(root + "/source");
        platform::writeFile(out.source, QByteArrayLiteral("FUZZ DESCRIPTION\r\n"));
        return out;
    }();
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Folders& f = folders();
    const QByteArray input = fuzz::bytesOf(data, size);
    if (!platform::writeFile(f.archive, input))
        fuzz::fail("cannot write the input archive");
    platform::removeFile(platform::joinPath(f.target, kDiz));

    diz::ZipComponent zip;
    zip.setKeepPaths(false);
    zip.setMemberMask(kDiz);
    zip.setTargetFolder(f.target);
    zip.setArchivePath(f.archive);
    const diz::ZipStatus extracted = zip.ExtractMembers(0);

    const std::vector<QString> inTarget = fuzz::namesIn(f.target);
    QByteArray extractedBytes;
    if (extracted == diz::ZipStatus::Success) {
        if (inTarget.size() != 1 || inTarget.front() != kDiz)
            fuzz::fail("a successful extraction must leave exactly file_id.diz");
        if (!platform::readFile(platform::joinPath(f.target, kDiz), extractedBytes,
                                diz::kMaxMemberSize))
            fuzz::fail("the extracted description is larger than the limit");
    } else if (!inTarget.empty()) {
        fuzz::fail("a failed extraction wrote into the target folder");
    }

    QByteArray read;
    const diz::ZipStatus readStatus = zip.ReadMember(f.archive, kDiz.toUpper(), read);
    if (readStatus != extracted)
        fuzz::fail("ReadMember and ExtractMembers disagree on the status");
    if (readStatus == diz::ZipStatus::Success && read != extractedBytes)
        fuzz::fail("ReadMember and ExtractMembers disagree on the bytes");
    if (readStatus != diz::ZipStatus::Success && !read.isEmpty())
        fuzz::fail("a failed ReadMember returned bytes");

    const bool strictBefore = opensStrictly(f.archive);
    zip.setMemberMask(f.source + u'\r');
    const diz::ZipStatus updated = zip.UpdateMembers(0);
    QByteArray after;
    platform::readFile(f.archive, after);
    if (updated != diz::ZipStatus::Success) {
        if (after != input)
            fuzz::fail("a failed update changed the archive");
    } else {
        QByteArray stored;
        if (zip.ReadMember(f.archive, kDiz, stored) != diz::ZipStatus::Success ||
            stored != QByteArrayLiteral("FUZZ DESCRIPTION\r\n"))
            fuzz::fail("a successful update does not read back");
        const QString changed = test::zipChangesBeyondOneMember(input, after);
        if (!changed.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(changed));
            fuzz::fail("a successful update changed bytes beyond the description");
        }
        if (strictBefore && !opensStrictly(f.archive))
            fuzz::fail("a successful update made a consistent archive inconsistent");
    }
    const std::vector<QString> beside = fuzz::namesIn(f.archiveFolder);
    if (beside.size() != 1)
        fuzz::fail("the update left a file beside the archive");
    return 0;
}
