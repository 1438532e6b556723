#pragma once

#include <QString>
#include <QtGlobal>

namespace vexlo::diz {

// Every status the zip component returns, in one place. 0 is success; the
// callers tell 140 (nothing matched), 190 (aborted) and the failures above
// 100 apart.
namespace ZipStatus {
inline constexpr qint16 Success = 0;
inline constexpr qint16 CannotOpenArchive = 101;   // missing or unreadable archive file
inline constexpr qint16 NotAZipArchive = 102;      // the file is not a ZIP archive
inline constexpr qint16 CorruptArchive = 103;      // inconsistent or truncated archive
inline constexpr qint16 CrcError = 104;            // a member's data fails its CRC check
inline constexpr qint16 MemberTooLarge = 105;      // a member over the 1 MiB limit
inline constexpr qint16 CannotReadMember = 106;    // read error inside a member
inline constexpr qint16 EncryptedMember = 107;     // a member we cannot decrypt
inline constexpr qint16 UnsupportedMethod = 108;   // a compression method libzip lacks
inline constexpr qint16 CannotWriteTarget = 109;   // extraction target cannot be written
inline constexpr qint16 CannotReadSource = 110;    // a file named for an update cannot be read
inline constexpr qint16 CannotWriteArchive = 111;  // the updated archive cannot be written
inline constexpr qint16 BadArguments = 112;        // empty archive path or member mask
// An update refuses, leaving the archive untouched:
inline constexpr qint16 OverlappingMembers = 113;  // members share bytes: never rewritten
inline constexpr qint16 InconsistentRecords = 114; // local and central records disagree
inline constexpr qint16 ArchiveChanged = 115;      // changed or replaced while we worked on it
inline constexpr qint16 ArchiveHardLinked = 116;   // other names would keep the old content
inline constexpr qint16 ArchiveNotPermitted = 117; // someone else's archive: owner not keepable
inline constexpr qint16 ArchiveBusy = 118;         // another update holds the archive
// An update that was put in place, but:
inline constexpr qint16 ArchiveNotFlushed = 119;   // ...its folder could not be flushed
inline constexpr qint16 ArchiveConflict = 120;     // ...another version arrived meanwhile: kept beside
inline constexpr qint16 NothingMatched = 140;      // no member matched the mask
inline constexpr qint16 Aborted = 190;             // AbortRequest stopped the call
}  // namespace ZipStatus

// A short English text for a status, for the command line and messages.
QString zipStatusText(qint16 status);

// The largest member the component extracts or reads (a description is a
// few hundred bytes; this keeps a hostile archive from filling the disk).
inline constexpr qint64 kMaxMemberSize = qint64(1) << 20;

}  // namespace vexlo::diz
