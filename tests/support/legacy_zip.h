// SPDX-License-Identifier: MIT
#pragma once

// Archives of the PKZIP 1.x years, made by the tests: small encoders for
// shrinking, reducing and imploding (correct, not clever), and a writer of
// archives whose members are packed any way, damaged ones included. Info-ZIP
// unzip, where installed, checks what they make (it knows shrinking and
// imploding), so that the program's decoders are not only checked against
// these encoders.

#include <QByteArray>
#include <QString>

#include <vector>

namespace vexlo::test {

// Shrinking: LZW as PKZIP packs it. widenEarly: a code size increase right
// after the first code (never before it: a first code is always a byte);
// clearEvery: a partial clearing after every so many codes (0: only when
// the dictionary is full).
QByteArray shrinkStream(const QByteArray& data, bool widenEarly = false, int clearEvery = 0);
// Reducing with compression factor 1 to 4 (methods 2 to 5).
QByteArray reduceStream(const QByteArray& data, int factor);
// Imploding; flags bit 1: the 8 KiB window, bit 2: a literal code.
QByteArray implodeStream(const QByteArray& data, quint16 flags);
// The CRC-32 of data, as the directory holds it.
quint32 crcOf(const QByteArray& data);
// Any method: 0 stored, 1 to 6 as above (shrinking plain), 8 deflated.
QByteArray packAs(int method, quint16 flags, const QByteArray& data);

// A description of size bytes as BBS packers held them: CP437 box lines,
// repeated words, bytes from 0x80 up (DLE, 0x90, among them) and some noise.
QByteArray dosDescription(qsizetype size);

struct OldMember {
    QString name;
    QByteArray data;
    int method = 0;
    quint16 flags = 0;
    QByteArray raw{};         // stored as it is when not empty, instead of data packed
    qint64 declaredSize = -1; // instead of the size of data
    qint64 declaredCrc = -1;  // instead of the CRC of data
};

// The bytes of an archive of the members, written as PKZIP did: local
// headers, the central directory, the end record, no extra fields.
QByteArray oldZipBytes(const std::vector<OldMember>& members);
bool makeOldZip(const QString& path, const std::vector<OldMember>& members);

// What Info-ZIP unzip makes of a member (unzip -p), and whether it finds the
// archive sound (unzip -t). installed is false when there is no unzip.
struct UnzipCheck {
    bool installed = false;
    bool tested = false; // unzip -t found no fault
    QByteArray data;     // unzip -p of the member
};
UnzipCheck unzipCheck(const QString& archive, const QString& member);

} // namespace vexlo::test
