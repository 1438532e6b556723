// SPDX-License-Identifier: MIT
#include "diz/ZipLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::diz {

namespace {

constexpr quint32 kLocalSig = 0x04034b50;
constexpr quint32 kCentralSig = 0x02014b50;
constexpr quint32 kEndSig = 0x06054b50;
constexpr quint32 kZip64EndSig = 0x06064b50;
constexpr quint32 kZip64LocatorSig = 0x07064b50;
constexpr quint32 kDescriptorSig = 0x08074b50;
constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint16 kUnicodePathId = 0x7075;
constexpr quint16 kDataDescriptorFlag = 0x0008;

constexpr quint64 kEndLength = 22;
constexpr quint64 kLocatorLength = 20;
constexpr quint64 kZip64EndLength = 56;
constexpr quint64 kCentralLength = 46;
constexpr quint64 kLocalLength = 30;
constexpr quint64 kMaxComment = 0xFFFF;
constexpr quint64 kShortTail = 4096; // read first: where nearly every end record is
// A directory of a million members is about 100 MB; beyond this we decline.
constexpr quint64 kMaxDirectory = quint64(256) << 20;
constexpr quint64 kMaxExtensible = quint64(64) << 10;

constexpr quint32 kMark32 = 0xFFFFFFFFu;
constexpr quint16 kMark16 = 0xFFFF;

bool readBytes(const ByteSource& in, quint64 at, quint64 n, QByteArray& out)
{
    if (at > in.size() || n > in.size() - at)
        return false;
    out.resize(qsizetype(n));
    return n == 0 || in.readAt(at, out.data(), size_t(n));
}

// The data of the first extra block with the id, within [from, to) of bytes;
// false when there is none or the blocks do not parse up to it.
bool findExtra(const QByteArray& bytes, qsizetype from, qsizetype to, quint16 id, qsizetype& dataAt,
               qsizetype& dataLength)
{
    qsizetype at = from;
    while (at + 4 <= to) {
        const quint16 blockId = le16(bytes.constData() + at);
        const qsizetype length = le16(bytes.constData() + at + 2);
        if (at + 4 + length > to)
            return false;
        if (blockId == id) {
            dataAt = at + 4;
            dataLength = length;
            return true;
        }
        at += 4 + length;
    }
    return false;
}

// The end records found at one candidate end record.
struct Ends {
    quint64 endRecordAt = 0;
    quint64 endStart = 0;
    quint64 tailStart = 0;
    quint64 entries = 0;
    quint64 directorySize = 0;
    quint64 directoryOffset = 0; // as recorded
    bool zip64 = false;
    QByteArray zip64Record;
    QByteArray endRecord;
    QByteArray comment;
};

LayoutStatus readEnds(const ByteSource& in, quint64 at, Ends& out)
{
    QByteArray end;
    if (!readBytes(in, at, kEndLength, end))
        return LayoutStatus::Damaged;
    const char* e = end.constData();
    const quint64 commentLength = le16(e + 20);
    if (!readBytes(in, at + kEndLength, commentLength, out.comment))
        return LayoutStatus::Damaged;
    out.endRecordAt = at;
    out.endRecord = end;
    out.tailStart = at + kEndLength + commentLength;
    quint32 disk = le16(e + 4), directoryDisk = le16(e + 6);
    quint64 entriesHere = le16(e + 8);
    out.entries = le16(e + 10);
    out.directorySize = le32(e + 12);
    out.directoryOffset = le32(e + 16);
    out.endStart = at;

    QByteArray locator;
    if (at >= kLocatorLength && readBytes(in, at - kLocatorLength, kLocatorLength, locator) &&
        le32(locator.constData()) == kZip64LocatorSig) {
        // The ZIP64 end record sits just before its locator; where the
        // locator says, or (a stub the offsets do not count) further on.
        const quint64 recordEnd = at - kLocatorLength;
        const quint64 recorded = le64(locator.constData() + 8);
        quint64 recordAt = 0;
        QByteArray head;
        bool found = false;
        for (const quint64 candidate :
             {recorded, recordEnd - std::min(recordEnd, kZip64EndLength)}) {
            if (candidate + kZip64EndLength > recordEnd ||
                !readBytes(in, candidate, kZip64EndLength, head) ||
                le32(head.constData()) != kZip64EndSig ||
                le64(head.constData() + 4) + 12 != recordEnd - candidate)
                continue;
            recordAt = candidate;
            found = true;
            break;
        }
        if (!found)
            return LayoutStatus::Damaged;
        // Its extensible data is kept as it is: a few bytes, if any.
        if (recordEnd - recordAt > kZip64EndLength + kMaxExtensible)
            return LayoutStatus::TooLarge;
        if (!readBytes(in, recordAt, recordEnd - recordAt, out.zip64Record))
            return LayoutStatus::Damaged;
        const char* z = out.zip64Record.constData();
        out.zip64 = true;
        out.endStart = recordAt;
        disk = le32(z + 16);
        directoryDisk = le32(z + 20);
        entriesHere = le64(z + 24);
        out.entries = le64(z + 32);
        out.directorySize = le64(z + 40);
        out.directoryOffset = le64(z + 48);
    }
    if (disk != 0 || directoryDisk != 0 || entriesHere != out.entries)
        return LayoutStatus::Damaged; // one part of a split archive
    if (out.directorySize > out.endStart)
        return LayoutStatus::Damaged;
    return LayoutStatus::Ok;
}

bool startsWithCentral(const ByteSource& in, quint64 at)
{
    char sig[4];
    return at + 4 <= in.size() && in.readAt(at, sig, 4) && le32(sig) == kCentralSig;
}

// Where the directory may be: right before the end records (the offsets
// then tell how long a stub they do not count is), or where the offset says.
// Each is a (start, prefix) pair, the likelier first.
std::vector<std::pair<quint64, quint64>> directoryPlaces(const ByteSource& in, const Ends& ends)
{
    std::vector<std::pair<quint64, quint64>> out;
    const quint64 adjacent = ends.endStart - ends.directorySize;
    const bool empty = ends.entries == 0 && ends.directorySize == 0;
    if (adjacent >= ends.directoryOffset && (empty || startsWithCentral(in, adjacent)))
        out.emplace_back(adjacent, adjacent - ends.directoryOffset);
    if (ends.directoryOffset != adjacent &&
        ends.directoryOffset + ends.directorySize <= ends.endStart &&
        (empty || startsWithCentral(in, ends.directoryOffset)))
        out.emplace_back(ends.directoryOffset, 0);
    return out;
}

// Candidate end records in the last span bytes, the last in the file first.
std::vector<quint64> endCandidates(const ByteSource& in, quint64 span)
{
    std::vector<quint64> out;
    const quint64 size = in.size();
    if (size < kEndLength)
        return out;
    span = std::min(size, span);
    QByteArray tail;
    if (!readBytes(in, size - span, span, tail))
        return out;
    for (qsizetype p = qsizetype(span - kEndLength); p >= 0; --p) {
        if (le32(tail.constData() + p) != kEndSig)
            continue;
        const quint64 at = size - span + quint64(p);
        if (at + kEndLength + le16(tail.constData() + p + 20) <= size)
            out.push_back(at);
    }
    return out;
}

LayoutStatus readEntry(const QByteArray& directory, qsizetype& at, ZipEntryRecord& entry)
{
    if (at + qsizetype(kCentralLength) > directory.size() ||
        le32(directory.constData() + at) != kCentralSig)
        return LayoutStatus::Damaged;
    const char* c = directory.constData() + at;
    const qsizetype nameLength = le16(c + 28), extraLength = le16(c + 30),
                    commentLength = le16(c + 32);
    const qsizetype total = qsizetype(kCentralLength) + nameLength + extraLength + commentLength;
    if (at + total > directory.size())
        return LayoutStatus::Damaged;
    entry.central = directory.mid(at, total);
    at += total;
    const char* h = entry.central.constData();
    entry.name = entry.central.mid(qsizetype(kCentralLength), nameLength);
    entry.crc = le32(h + 16);
    entry.compressedSize = le32(h + 20);
    entry.size = le32(h + 24);
    entry.recordedOffset = le32(h + 42);
    entry.offsetField = 42;
    entry.offsetIs64 = false;
    quint32 disk = le16(h + 34);
    {
        qsizetype dataAt = 0, dataLength = 0;
        const qsizetype extraAt = qsizetype(kCentralLength) + nameLength;
        entry.hasZip64Extra = findExtra(entry.central, extraAt, extraAt + extraLength,
                                        kZip64ExtraId, dataAt, dataLength);
        entry.hasUnicodeName = findExtra(entry.central, extraAt, extraAt + extraLength,
                                         kUnicodePathId, dataAt, dataLength);
    }
    const bool needs64 = entry.size == kMark32 || entry.compressedSize == kMark32 ||
                         entry.recordedOffset == kMark32 || disk == kMark16;
    if (needs64) {
        qsizetype dataAt = 0, dataLength = 0;
        const qsizetype extraAt = qsizetype(kCentralLength) + nameLength;
        if (!findExtra(entry.central, extraAt, extraAt + extraLength, kZip64ExtraId, dataAt,
                       dataLength))
            return LayoutStatus::Damaged;
        qsizetype cursor = dataAt;
        const qsizetype end = dataAt + dataLength;
        auto take64 = [&](quint64& value) {
            if (cursor + 8 > end)
                return false;
            value = le64(h + cursor);
            cursor += 8;
            return true;
        };
        if (entry.size == kMark32 && !take64(entry.size))
            return LayoutStatus::Damaged;
        if (entry.compressedSize == kMark32 && !take64(entry.compressedSize))
            return LayoutStatus::Damaged;
        if (entry.recordedOffset == kMark32) {
            entry.offsetField = cursor;
            entry.offsetIs64 = true;
            if (!take64(entry.recordedOffset))
                return LayoutStatus::Damaged;
        }
        if (disk == kMark16) {
            if (cursor + 4 > end)
                return LayoutStatus::Damaged;
            disk = le32(h + cursor);
        }
    }
    if (disk != 0)
        return LayoutStatus::Damaged;
    return LayoutStatus::Ok;
}

// The local record of an entry: present, agreeing, and how far it reaches.
LayoutStatus readLocal(const ByteSource& in, const ZipLayout& layout, ZipEntryRecord& entry)
{
    if (entry.recordedOffset > layout.directoryStart)
        return LayoutStatus::Overlapping;
    entry.localStart = entry.recordedOffset + layout.prefix;
    if (entry.localStart + kLocalLength > layout.directoryStart)
        return LayoutStatus::Overlapping;
    // The fixed part, the name and (most often) the extra fields in one read.
    const quint64 room = layout.directoryStart - entry.localStart;
    const quint64 guess = kLocalLength + quint64(entry.name.size()) + 64;
    QByteArray local;
    if (!readBytes(in, entry.localStart, std::min(room, guess), local))
        return LayoutStatus::Damaged;
    const char* l = local.constData();
    if (le32(l) != kLocalSig)
        return LayoutStatus::Disagreeing;
    const quint16 flags = le16(l + 6);
    const quint64 nameLength = le16(l + 26), extraLength = le16(l + 28);
    const quint64 headerLength = kLocalLength + nameLength + extraLength;
    if (headerLength > room)
        return LayoutStatus::Overlapping;
    if (quint64(local.size()) < headerLength &&
        !readBytes(in, entry.localStart, headerLength, local))
        return LayoutStatus::Damaged;
    l = local.constData();
    if (local.mid(qsizetype(kLocalLength), qsizetype(nameLength)) != entry.name)
        return LayoutStatus::Disagreeing;
    quint64 size = le32(l + 22), compressedSize = le32(l + 18);
    qsizetype dataAt = 0, dataLength = 0;
    const qsizetype extraAt = qsizetype(kLocalLength + nameLength);
    const bool localZip64 = findExtra(local, extraAt, extraAt + qsizetype(extraLength),
                                      kZip64ExtraId, dataAt, dataLength);
    if (size == kMark32 || compressedSize == kMark32) {
        qsizetype cursor = dataAt;
        const qsizetype end = dataAt + dataLength;
        if (!localZip64)
            return LayoutStatus::Disagreeing;
        if (size == kMark32) {
            if (cursor + 8 > end)
                return LayoutStatus::Disagreeing;
            size = le64(l + cursor);
            cursor += 8;
        }
        if (compressedSize == kMark32) {
            if (cursor + 8 > end)
                return LayoutStatus::Disagreeing;
            compressedSize = le64(l + cursor);
        }
    }
    const bool described = (flags & kDataDescriptorFlag) != 0;
    // With a data descriptor a local size may be zero, for not known when
    // the header was written (Info-ZIP streaming gives the size, not the
    // compressed size); what is given must agree.
    auto agrees = [&](quint64 local, quint64 central) {
        return local == central || (described && local == 0);
    };
    if (!agrees(size, entry.size) || !agrees(compressedSize, entry.compressedSize))
        return LayoutStatus::Disagreeing;

    const quint64 dataStart = entry.localStart + headerLength;
    if (entry.compressedSize > layout.directoryStart - dataStart)
        return LayoutStatus::Overlapping;
    const quint64 dataEnd = dataStart + entry.compressedSize;
    entry.localEnd = dataEnd;
    if (!described)
        return LayoutStatus::Ok;

    // The data descriptor: with or without its signature, sizes of 4 or 8
    // bytes. Its fields must repeat the directory's.
    QByteArray descriptor;
    const quint64 available = std::min<quint64>(24, layout.directoryStart - dataEnd);
    if (!readBytes(in, dataEnd, available, descriptor))
        return LayoutStatus::Damaged;
    const bool wide = localZip64 || entry.hasZip64Extra;
    for (const bool signature : {true, false}) {
        for (const bool eight : {wide, !wide}) {
            const qsizetype field = eight ? 8 : 4;
            const qsizetype length = (signature ? 4 : 0) + 4 + 2 * field;
            if (length > descriptor.size())
                continue;
            const char* d = descriptor.constData();
            if (signature) {
                if (le32(d) != kDescriptorSig)
                    continue;
                d += 4;
            }
            const quint64 dCompressed = eight ? le64(d + 4) : le32(d + 4);
            const quint64 dSize = eight ? le64(d + 4 + field) : le32(d + 4 + field);
            if (le32(d) == entry.crc && dCompressed == entry.compressedSize &&
                dSize == entry.size) {
                entry.localEnd = dataEnd + quint64(length);
                return LayoutStatus::Ok;
            }
        }
    }
    return LayoutStatus::Disagreeing;
}

LayoutStatus readWithDirectoryAt(const ByteSource& in, const Ends& ends, quint64 start,
                                 quint64 prefix, ZipLayout& out)
{
    ZipLayout layout;
    layout.fileSize = in.size();
    layout.directoryStart = start;
    layout.prefix = prefix;
    layout.directoryEnd = layout.directoryStart + ends.directorySize;
    layout.endStart = ends.endStart;
    layout.tailStart = ends.tailStart;
    layout.zip64 = ends.zip64;
    layout.zip64Record = ends.zip64Record;
    layout.endRecord = ends.endRecord;
    layout.comment = ends.comment;
    if (ends.directorySize > kMaxDirectory)
        return LayoutStatus::TooLarge;
    // Each central header takes 46 bytes at least: a count beyond what the
    // directory can hold is a lie we must not reserve memory for.
    if (ends.entries > ends.directorySize / kCentralLength)
        return LayoutStatus::Damaged;

    QByteArray directory;
    if (!readBytes(in, layout.directoryStart, ends.directorySize, directory))
        return LayoutStatus::Damaged;
    layout.entries.resize(size_t(ends.entries));
    qsizetype at = 0;
    for (ZipEntryRecord& entry : layout.entries) {
        const LayoutStatus status = readEntry(directory, at, entry);
        if (status != LayoutStatus::Ok)
            return status;
    }
    if (at != directory.size())
        return LayoutStatus::Damaged; // bytes in the directory that are no header

    for (ZipEntryRecord& entry : layout.entries) {
        const LayoutStatus status = readLocal(in, layout, entry);
        if (status != LayoutStatus::Ok)
            return status;
    }
    std::vector<size_t> order(layout.entries.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return layout.entries[a].localStart < layout.entries[b].localStart;
    });
    for (size_t k = 1; k < order.size(); ++k) {
        if (layout.entries[order[k - 1]].localEnd > layout.entries[order[k]].localStart)
            return LayoutStatus::Overlapping;
    }
    layout.firstMember =
        order.empty() ? layout.directoryStart : layout.entries[order.front()].localStart;
    out = std::move(layout);
    return LayoutStatus::Ok;
}

LayoutStatus readFromEnd(const ByteSource& in, quint64 endAt, ZipLayout& out)
{
    Ends ends;
    const LayoutStatus endStatus = readEnds(in, endAt, ends);
    if (endStatus != LayoutStatus::Ok)
        return endStatus;
    // A directory that does not parse where it first seems to be may still
    // be where the offset says.
    for (const auto& [start, prefix] : directoryPlaces(in, ends)) {
        const LayoutStatus status = readWithDirectoryAt(in, ends, start, prefix, out);
        if (status != LayoutStatus::Damaged)
            return status;
    }
    return LayoutStatus::Damaged;
}

} // namespace

DescriptorBytes::DescriptorBytes(int fd) : m_fd(fd)
{
    struct stat st {};
    m_ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    m_size = m_ok ? quint64(st.st_size) : 0;
}

DescriptorBytes::DescriptorBytes(int fd, quint64 size, size_t readAhead)
    : m_fd(fd), m_size(size), m_readAhead(readAhead), m_ok(true)
{
}

bool DescriptorBytes::readAt(quint64 offset, char* out, size_t n) const
{
    if (offset >= m_keptAt && n <= quint64(m_kept.size()) &&
        offset - m_keptAt <= quint64(m_kept.size()) - n) {
        std::memcpy(out, m_kept.constData() + (offset - m_keptAt), n);
        return true;
    }
    if (n < m_readAhead && offset < m_size && n <= m_size - offset) {
        const size_t span = size_t(std::min<quint64>(m_readAhead, m_size - offset));
        QByteArray ahead(qsizetype(span), Qt::Uninitialized);
        if (!readFully(offset, ahead.data(), span))
            return false;
        std::memcpy(out, ahead.constData(), n);
        m_kept = std::move(ahead);
        m_keptAt = offset;
        return true;
    }
    if (!readFully(offset, out, n))
        return false;
    if (n >= kShortTail) {
        m_kept = QByteArray(out, qsizetype(n));
        m_keptAt = offset;
    }
    return true;
}

bool DescriptorBytes::readFully(quint64 offset, char* out, size_t n) const
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(m_fd, out + done, n - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

bool MemoryBytes::readAt(quint64 offset, char* out, size_t n) const
{
    if (offset > quint64(m_bytes.size()) || n > quint64(m_bytes.size()) - offset)
        return false;
    std::memcpy(out, m_bytes.constData() + offset, n);
    return true;
}

LayoutStatus readZipLayout(const ByteSource& in, ZipLayout& out)
{
    // An end record's bytes may also occur in a comment or in stored data:
    // the last one that leads to a directory is the archive's, and what its
    // directory says stands (an earlier candidate is never taken instead).
    // Most archives have a short comment or none: the last few KiB first.
    bool any = false;
    quint64 tried = in.size(); // candidates from here on were tried already
    for (const quint64 span : {kShortTail, kEndLength + kMaxComment}) {
        for (const quint64 at : endCandidates(in, span)) {
            any = true;
            if (at >= tried)
                continue;
            const LayoutStatus status = readFromEnd(in, at, out);
            if (status != LayoutStatus::Damaged)
                return status;
        }
        tried = in.size() - std::min(in.size(), span);
        if (tried == 0)
            break;
    }
    return any ? LayoutStatus::Damaged : LayoutStatus::NotAZip;
}

bool findArchivePrefix(const ByteSource& in, quint64& prefix)
{
    for (const quint64 at : endCandidates(in, kEndLength + kMaxComment)) {
        Ends ends;
        if (readEnds(in, at, ends) != LayoutStatus::Ok)
            continue;
        const auto places = directoryPlaces(in, ends);
        if (!places.empty()) {
            prefix = places.front().second;
            return true;
        }
    }
    return false;
}

} // namespace vexlo::diz
