// SPDX-License-Identifier: MIT
#pragma once

#include "diz/ZipStatus.h"

#include <QByteArray>
#include <QString>

namespace vexlo::diz {

class ZipComponent;

// Descriptions from archives that are not ZIP: ARJ, LZH/LHA, RAR, 7z, CAB,
// ISO and TAR with its compressions. They are read only, never written: Save
// diz stays for ZIP archives. Every outcome is told in the zip layer's
// status numbers, so the list and the messages need no table of their own.

// What the first bytes of a file say it is. Which reader is asked follows
// from this alone, never from the name: a ".lzh" that holds a ZIP archive is
// read as the ZIP it is.
enum class ArchiveKind {
    Zip,   // "PK" and a record signature: the zip layer
    Arj,   // 0x60 0xEA: the arj program, libarchive does not read it
    Other, // anything else: libarchive decides (and may refuse)
};
ArchiveKind kindFromHead(const QByteArray& head);
// The same for an open file (read with pread: its position is left alone).
ArchiveKind kindOf(int fd);

// Whether a name ends in the extension of a kind other than ZIP that one of
// the readers reads (".arj", ".lzh", ".7z", ".tar.gz", ...; any letter case).
// Only such names are opened, so a list of many other files stays fast.
bool hasOtherKindName(const QString& name);

// Whether the list and Get diz take a file for an archive: a name ending in
// "zip" always (as ever), with allKinds also the other kinds' names.
bool isArchiveName(const QString& name, bool allKinds);

// The root-level member named memberName (without regard to letter case) of
// the archive held open as fd, read through libarchive into out. The limit
// of kMaxMemberSize is kept while reading, whatever the archive declares.
// Statuses: Success; NothingMatched; NotAZipArchive (no kind libarchive
// knows); CorruptArchive; EncryptedMember; MemberTooLarge. knownSize as for
// ZipComponent::readRootMemberFrom.
ZipStatus readLibarchiveMember(int fd, const QString& memberName, QByteArray& out,
                               qint64 knownSize = -1);

// Whether the arj program is on PATH (looked up once per run of the program).
bool arjAvailable();

// The same through the arj program, for the ARJ archive held open as fd.
// arj reads that very file (through /proc), from a private temporary folder
// that is removed afterwards; it runs with a time limit and a file-size
// limit, never through a shell. Without arj: NothingMatched, so the archive
// is listed as before, without a description.
ZipStatus readArjMember(int fd, const QString& memberName, QByteArray& out);

// The description member of a file of any kind held open as fd, by its
// first bytes: a ZIP through the zip component (its statuses, its abort and
// progress), an ARJ through arj, the rest through libarchive. knownSize as
// for ZipComponent::readRootMemberFrom.
ZipStatus readMemberOfAnyKind(ZipComponent& zip, int fd, const QString& memberName, QByteArray& out,
                              qint64 knownSize = -1);

} // namespace vexlo::diz
