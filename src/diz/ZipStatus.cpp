// SPDX-License-Identifier: MIT
#include "diz/ZipStatus.h"

namespace vexlo::diz {

QString zipStatusText(ZipStatus status)
{
    switch (status) {
    case ZipStatus::Success:
        return QStringLiteral("success");
    case ZipStatus::CannotOpenArchive:
        return QStringLiteral("cannot open the archive");
    case ZipStatus::NotAZipArchive:
        return QStringLiteral("not a ZIP archive");
    case ZipStatus::CorruptArchive:
        return QStringLiteral("the archive is damaged");
    case ZipStatus::CrcError:
        return QStringLiteral("CRC error");
    case ZipStatus::MemberTooLarge:
        return QStringLiteral("member too large");
    case ZipStatus::CannotReadMember:
        return QStringLiteral("cannot read the member");
    case ZipStatus::EncryptedMember:
        return QStringLiteral("the member is encrypted");
    case ZipStatus::UnsupportedMethod:
        return QStringLiteral("unsupported compression method");
    case ZipStatus::CannotWriteTarget:
        return QStringLiteral("cannot write the extracted file");
    case ZipStatus::CannotReadSource:
        return QStringLiteral("cannot read the file to store");
    case ZipStatus::CannotWriteArchive:
        return QStringLiteral("cannot write the archive");
    case ZipStatus::BadArguments:
        return QStringLiteral("no archive or member given");
    case ZipStatus::OverlappingMembers:
        return QStringLiteral("members of the archive overlap; it is not rewritten");
    case ZipStatus::InconsistentRecords:
        return QStringLiteral(
            "the archive's local and central records disagree; it is not rewritten");
    case ZipStatus::ArchiveChanged:
        return QStringLiteral("the archive changed during the update; it was left as it is now");
    case ZipStatus::ArchiveHardLinked:
        return QStringLiteral("the archive has other hard links, which would keep the old content");
    case ZipStatus::ArchiveNotPermitted:
        return QStringLiteral("the archive belongs to someone else; it is not replaced");
    case ZipStatus::ArchiveBusy:
        return QStringLiteral("another update of the archive is running");
    case ZipStatus::ArchiveNotFlushed:
        return QStringLiteral("the archive was updated, but could not be flushed to the disk");
    case ZipStatus::ArchiveConflict:
        return QStringLiteral("another program replaced the archive at the last moment; its "
                              "version is kept beside it as \".other-version-\"");
    case ZipStatus::NothingMatched:
        return QStringLiteral("no description in the archive");
    case ZipStatus::Aborted:
        return QStringLiteral("aborted");
    default:
        return QStringLiteral("status %1").arg(statusCode(status));
    }
}

} // namespace vexlo::diz
