// SPDX-License-Identifier: MIT
#include "diz/ZipSplice.h"

#include <QString>

#include <zlib.h>

#include <algorithm>
#include <sys/stat.h>

namespace vexlo::diz {

namespace {

constexpr quint32 kLocalSig = 0x04034b50;
constexpr quint32 kCentralSig = 0x02014b50;
constexpr quint32 kEndSig = 0x06054b50;
constexpr quint32 kZip64EndSig = 0x06064b50;
constexpr quint32 kZip64LocatorSig = 0x07064b50;
constexpr quint16 kUtf8Flag = 0x0800;
constexpr quint16 kMethodStored = 0;
constexpr quint16 kMethodDeflated = 8;
constexpr quint16 kVersionStored = 10;
constexpr quint16 kVersionDeflated = 20;
constexpr quint16 kVersionZip64 = 45;
constexpr quint16 kMadeByUnix = (3 << 8) | 20;
constexpr quint32 kMark32 = 0xFFFFFFFFu;
constexpr quint16 kMark16 = 0xFFFF;
constexpr qsizetype kCentralLength = 46;

void put16(QByteArray& out, quint16 v)
{
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}
void put32(QByteArray& out, quint32 v)
{
    put16(out, quint16(v & 0xffff));
    put16(out, quint16(v >> 16));
}
void put64(QByteArray& out, quint64 v)
{
    put32(out, quint32(v & 0xffffffffu));
    put32(out, quint32(v >> 32));
}
void set32(QByteArray& bytes, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xff);
}
void set64(QByteArray& bytes, qsizetype at, quint64 v)
{
    set32(bytes, at, quint32(v & 0xffffffffu));
    set32(bytes, at + 4, quint32(v >> 32));
}

bool isUtf8BeyondAscii(const QByteArray& name)
{
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return quint8(c) < 0x80; });
    return !ascii && QString::fromUtf8(name).toUtf8() == name;
}

// DOS dates start in 1980 and end in 2107; times have two-second steps.
void dosTimeOf(time_t when, quint16& time, quint16& date)
{
    struct tm local {};
    if (!::localtime_r(&when, &local) || local.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1; // 1980-01-01
        return;
    }
    if (local.tm_year > 207) {
        time = quint16((23 << 11) | (59 << 5) | 29);
        date = quint16((127 << 9) | (12 << 5) | 31);
        return;
    }
    time = quint16((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    date = quint16(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

bool deflateRaw(const QByteArray& in, QByteArray& out)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return false;
    out.resize(qsizetype(deflateBound(&stream, uLong(in.size()))));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    stream.avail_in = uInt(in.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const qsizetype written = qsizetype(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return false;
    out.resize(written);
    return true;
}

quint16 versionFor(const NewMember& member, bool zip64)
{
    if (zip64)
        return kVersionZip64;
    return member.method == kMethodDeflated ? kVersionDeflated : kVersionStored;
}

QByteArray localRecord(const NewMember& m)
{
    QByteArray out;
    out.reserve(30 + m.name.size() + m.data.size());
    put32(out, kLocalSig);
    put16(out, versionFor(m, false));
    put16(out, m.flags);
    put16(out, m.method);
    put16(out, m.dosTime);
    put16(out, m.dosDate);
    put32(out, m.crc);
    put32(out, quint32(m.data.size()));
    put32(out, quint32(m.size));
    put16(out, quint16(m.name.size()));
    put16(out, 0);
    out += m.name;
    out += m.data;
    return out;
}

// The central header of a new member; old is the header it replaces, whose
// system, attributes and comment it keeps.
QByteArray centralRecord(const NewMember& m, const ZipEntryRecord* old, quint64 offset)
{
    const bool offset64 = offset >= kMark32;
    quint16 madeBy = kMadeByUnix;
    quint16 internal = 0;
    quint32 external = quint32(S_IFREG | 0644) << 16;
    QByteArray comment;
    if (old) {
        const char* h = old->central.constData();
        madeBy = le16(h + 4);
        internal = le16(h + 36);
        external = le32(h + 38);
        // Whatever the old one was (a link, a folder), the new description
        // is a plain file: its permissions stay, its type does not.
        constexpr quint16 kUnixHost = 3;
        const quint32 type = (external >> 16) & S_IFMT;
        if ((madeBy >> 8) == kUnixHost && type != 0 && type != S_IFREG)
            external = (external & ~(quint32(S_IFMT) << 16)) | (quint32(S_IFREG) << 16);
        external &= ~quint32(0x10); // the DOS folder attribute
        const qsizetype commentAt = kCentralLength + le16(h + 28) + le16(h + 30);
        comment = old->central.mid(commentAt, le16(h + 32));
    }
    QByteArray extra;
    if (offset64) {
        put16(extra, 0x0001);
        put16(extra, 8);
        put64(extra, offset);
    }
    QByteArray out;
    put32(out, kCentralSig);
    put16(out, madeBy);
    put16(out, versionFor(m, offset64));
    put16(out, m.flags);
    put16(out, m.method);
    put16(out, m.dosTime);
    put16(out, m.dosDate);
    put32(out, m.crc);
    put32(out, quint32(m.data.size()));
    put32(out, quint32(m.size));
    put16(out, quint16(m.name.size()));
    put16(out, quint16(extra.size()));
    put16(out, quint16(comment.size()));
    put16(out, 0); // disk
    put16(out, internal);
    put32(out, external);
    put32(out, offset64 ? kMark32 : quint32(offset));
    out += m.name;
    out += extra;
    out += comment;
    return out;
}

QByteArray endRecords(const ZipLayout& layout, quint64 count, quint64 directorySize,
                      quint64 directoryOffset, quint64 endOffset)
{
    const char* old = layout.endRecord.constData();
    const bool zip64 =
        layout.zip64 || count >= kMark16 || directorySize >= kMark32 || directoryOffset >= kMark32;
    QByteArray out;
    if (zip64) {
        QByteArray record = layout.zip64Record;
        if (record.isEmpty()) {
            put32(record, kZip64EndSig);
            put64(record, 44);
            put16(record, kVersionZip64);
            put16(record, kVersionZip64);
            record.append(40, '\0');
        }
        set32(record, 16, 0);
        set32(record, 20, 0);
        set64(record, 24, count);
        set64(record, 32, count);
        set64(record, 40, directorySize);
        set64(record, 48, directoryOffset);
        out += record;
        put32(out, kZip64LocatorSig);
        put32(out, 0);
        put64(out, endOffset);
        put32(out, 1);
    }
    // A field keeps its marker where the old end record had one (its value
    // is in the ZIP64 record), and gets one where the value does not fit.
    auto field16 = [&](qsizetype at, quint64 value) {
        return (layout.zip64 && le16(old + at) == kMark16) || value >= kMark16 ? kMark16
                                                                               : quint16(value);
    };
    auto field32 = [&](qsizetype at, quint64 value) {
        return (layout.zip64 && le32(old + at) == kMark32) || value >= kMark32 ? kMark32
                                                                               : quint32(value);
    };
    put32(out, kEndSig);
    put16(out, field16(4, 0));
    put16(out, field16(6, 0));
    put16(out, field16(8, count));
    put16(out, field16(10, count));
    put32(out, field32(12, directorySize));
    put32(out, field32(16, directoryOffset));
    put16(out, quint16(layout.comment.size()));
    out += layout.comment;
    return out;
}

} // namespace

NewMember encodeMember(const QByteArray& name, const QByteArray& data, time_t modified)
{
    NewMember m;
    m.name = name;
    m.size = quint64(data.size());
    m.crc = quint32(::crc32(::crc32(0L, Z_NULL, 0),
                            reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
    QByteArray deflated;
    if (!data.isEmpty() && deflateRaw(data, deflated) && deflated.size() < data.size()) {
        m.method = kMethodDeflated;
        m.data = deflated;
    } else {
        m.method = kMethodStored;
        m.data = data;
    }
    m.flags = isUtf8BeyondAscii(name) ? kUtf8Flag : 0;
    dosTimeOf(modified, m.dosTime, m.dosDate);
    return m;
}

SplicePlan planSplice(const ZipLayout& layout, const std::vector<NewMember>& given)
{
    std::vector<NewMember> members = given;
    std::vector<int> replacedBy(layout.entries.size(), -1);
    for (size_t k = 0; k < members.size(); ++k) {
        NewMember& m = members[k];
        if (m.replaces < 0)
            continue;
        if (size_t(m.replaces) >= layout.entries.size() || replacedBy[size_t(m.replaces)] >= 0)
            return SplicePlan();
        replacedBy[size_t(m.replaces)] = int(k);
        // The stored name, and how it is to be read, stay the old ones.
        const ZipEntryRecord& old = layout.entries[size_t(m.replaces)];
        m.name = old.name;
        m.flags = quint16((m.flags & ~kUtf8Flag) | (le16(old.central.constData() + 8) & kUtf8Flag));
    }
    for (const NewMember& m : members) {
        if (m.name.size() > 0xFFFF || quint64(m.data.size()) >= kMark32 || m.size >= kMark32)
            return SplicePlan();
    }

    SplicePlan plan;
    std::vector<SplicePiece>& pieces = plan.pieces;
    auto copy = [&](quint64 from, quint64 to) {
        if (to > from)
            pieces.push_back({from, to - from, QByteArray()});
    };
    auto add = [&](QByteArray bytes) {
        if (!bytes.isEmpty())
            pieces.push_back({0, 0, std::move(bytes)});
    };

    // The old members, less the replaced ones.
    std::vector<std::pair<quint64, quint64>> removed;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        if (replacedBy[i] >= 0)
            removed.emplace_back(layout.entries[i].localStart, layout.entries[i].localEnd);
    }
    std::sort(removed.begin(), removed.end());
    quint64 at = 0;
    quint64 removedTotal = 0;
    for (const auto& [start, end] : removed) {
        copy(at, start);
        at = end;
        removedTotal += end - start;
    }
    copy(at, layout.directoryStart);
    // What a member moves down by: the replaced records before it.
    auto shiftOf = [&](quint64 start) {
        quint64 shift = 0;
        for (const auto& [from, to] : removed) {
            if (to <= start)
                shift += to - from;
        }
        return shift;
    };

    // The new members after the last old one.
    quint64 cursor = layout.directoryStart - removedTotal;
    std::vector<quint64> memberAt(members.size());
    QByteArray locals;
    for (size_t k = 0; k < members.size(); ++k) {
        memberAt[k] = cursor + quint64(locals.size()) - layout.prefix;
        locals += localRecord(members[k]);
    }
    cursor += quint64(locals.size());
    add(std::move(locals));

    const quint64 directoryOffset = cursor - layout.prefix;
    QByteArray directory;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const ZipEntryRecord& entry = layout.entries[i];
        if (replacedBy[i] >= 0) {
            const size_t k = size_t(replacedBy[i]);
            directory += centralRecord(members[k], &entry, memberAt[k]);
            continue;
        }
        const quint64 shift = shiftOf(entry.localStart);
        if (shift == 0) {
            directory += entry.central;
            continue;
        }
        QByteArray central = entry.central;
        if (entry.offsetIs64)
            set64(central, entry.offsetField, entry.recordedOffset - shift);
        else
            set32(central, entry.offsetField, quint32(entry.recordedOffset - shift));
        directory += central;
    }
    quint64 count = layout.entries.size();
    for (size_t k = 0; k < members.size(); ++k) {
        if (members[k].replaces < 0) {
            directory += centralRecord(members[k], nullptr, memberAt[k]);
            ++count;
        }
    }
    const quint64 directorySize = quint64(directory.size());
    plan.directoryStart = cursor;
    cursor += directorySize;
    plan.directoryEnd = cursor;
    add(std::move(directory));

    // Whatever lay between the directory and the end records stays there.
    copy(layout.directoryEnd, layout.endStart);
    cursor += layout.endStart - layout.directoryEnd;
    QByteArray ends =
        endRecords(layout, count, directorySize, directoryOffset, cursor - layout.prefix);
    cursor += quint64(ends.size());
    plan.tailStart = cursor;
    add(std::move(ends));
    copy(layout.tailStart, layout.fileSize);
    plan.size = cursor + (layout.fileSize - layout.tailStart);
    plan.entries = size_t(count);
    return plan;
}

} // namespace vexlo::diz
