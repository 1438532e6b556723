// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>

namespace vexlo::diz {

// The compression methods of PKZIP 1.x, which archives of the DOS years
// still use for small members such as the description: shrinking (method 1),
// reducing with compression factors 1 to 4 (methods 2 to 5) and imploding
// (method 6). No library that Debian ships expands them: libzip, libarchive
// and zlib do not, and Info-ZIP's unzip, which knows two of them, is a
// program, not a library. So they are expanded here, as PKWARE's published
// description of the ZIP format (APPNOTE.TXT) gives them; the zip component
// hands over a member's raw bytes and checks the result's CRC itself.
//
// Every stream is taken for hostile. Memory is bounded whatever the stream
// says: fixed tables, and the output, which never grows past the limit (the
// caller's, never a size the archive declares). Time is linear in the bytes
// read and written: no table is walked further than its size, and a broken
// code or tree is reported as damage, never followed.

constexpr bool isLegacyMethod(int method)
{
    return method >= 1 && method <= 6;
}

enum class ExpandResult {
    Done,        // the expected bytes exactly (or, with none expected, the whole stream)
    Damaged,     // broken codes or trees, a stream that ends early or holds more than expected
    TooLarge,    // the stream holds more than the limit
    InputFailed, // the source of the raw bytes failed
    Stopped,     // the progress callback asked to stop
};

struct ExpandJob {
    int method = 0;           // 1 to 6
    quint16 flags = 0;        // the member's general purpose flags: imploding reads bits 1 and 2
    qint64 expectedSize = -1; // the size the directory declares; -1: unknown, read to the end
    qint64 limit = 0;         // no more bytes than this are ever produced
    // Gives at most max raw bytes: how many, 0 at the end, below 0 on failure.
    std::function<qint64(char* into, qint64 max)> read;
    // Told how many bytes are made so far, every 64 KiB or so; false stops.
    std::function<bool(qint64 made)> progress;
};

// Expands the member into out (emptied first). With an expected size the
// stream must give exactly that many bytes, give or take the unused bits of
// its last byte and one spare byte after it: a stream that holds more is
// damaged, or too large when it holds more than the limit.
ExpandResult expandLegacyMember(const ExpandJob& job, QByteArray& out);

// The same over raw bytes in memory.
ExpandResult expandLegacyMember(int method, quint16 flags, const QByteArray& raw,
                                qint64 expectedSize, qint64 limit, QByteArray& out);

} // namespace vexlo::diz
