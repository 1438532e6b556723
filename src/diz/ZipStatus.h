// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

namespace vexlo::diz {

// Every status the zip component returns, in one place. 0 is success; the
// callers tell 140 (nothing matched), 190 (aborted) and the failures above
// 100 apart. The numbers are what users see ("Error # 105") and must not
// change; a status that is shown goes through statusCode().
enum class ZipStatus : qint16 {
    Success = 0,
    CannotOpenArchive = 101,  // missing or unreadable archive file
    NotAZipArchive = 102,     // the file is not a ZIP archive
    CorruptArchive = 103,     // inconsistent or truncated archive
    CrcError = 104,           // a member's data fails its CRC check
    MemberTooLarge = 105,     // a member over the 1 MiB limit
    CannotReadMember = 106,   // read error inside a member
    EncryptedMember = 107,    // a member we cannot decrypt
    UnsupportedMethod = 108,  // a compression method libzip lacks
    CannotWriteTarget = 109,  // extraction target cannot be written
    CannotReadSource = 110,   // a file named for an update cannot be read
    CannotWriteArchive = 111, // the updated archive cannot be written
    BadArguments = 112,       // empty archive path or member mask
    // An update refuses, leaving the archive untouched:
    OverlappingMembers = 113,  // members share bytes: never rewritten
    InconsistentRecords = 114, // local and central records disagree
    ArchiveChanged = 115,      // changed or replaced while we worked on it
    ArchiveHardLinked = 116,   // other names would keep the old content
    ArchiveNotPermitted = 117, // someone else's archive: owner not keepable
    ArchiveBusy = 118,         // another update holds the archive
    // An update that was put in place, but:
    ArchiveNotFlushed = 119, // ...its folder could not be flushed
    ArchiveConflict = 120,   // ...another version arrived meanwhile: kept beside
    NothingMatched = 140,    // no member matched the mask
    Aborted = 190,           // AbortRequest stopped the call
};

// The 16-bit number of a status, as messages and the list show it.
constexpr qint16 statusCode(ZipStatus status)
{
    return static_cast<qint16>(status);
}

// A failure: a status above 100 that is neither "nothing matched" nor
// "aborted" (those two are answers the callers act on, not errors).
constexpr bool isFailure(ZipStatus status)
{
    return status != ZipStatus::NothingMatched && status != ZipStatus::Aborted &&
           statusCode(status) > 100;
}

// A short English text for a status, for the command line and messages.
QString zipStatusText(ZipStatus status);

// The largest member the component extracts or reads (a description is a
// few hundred bytes; this keeps a hostile archive from filling the disk).
inline constexpr qint64 kMaxMemberSize = qint64(1) << 20;

// The largest member the component stores follows from it: Save diz stores
// the description the box shows with one line end after it, and whatever
// could be read must be storable again.
inline constexpr qint64 kSaveLineEndSize = 2; // CR LF
inline constexpr qint64 kMaxStoredMemberSize = kMaxMemberSize + kSaveLineEndSize;

} // namespace vexlo::diz
