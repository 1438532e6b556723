// SPDX-License-Identifier: MIT
#pragma once

// An archive cut into the regions that an update of one member may and may
// not change, with as little parsing as will do and none of the zip layer's
// code, so that the tests and the zip fuzz target can check the update's
// byte rule against an independent reading:
//
//   stub, then per member (in directory order) its local region (from its
//   local header up to the next member or the directory), its central
//   header, then the archive comment and whatever follows it.

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <vector>

namespace vexlo::test {

struct ZipRegions {
    struct Member {
        QByteArray name;
        QByteArray central;
        qsizetype offsetAt = 42; // where in central the offset is
        int offsetWidth = 4;
        quint64 start = 0;
        QByteArray local;
    };
    bool ok = false;
    QByteArray stub;
    std::vector<Member> members;
    QByteArray comment;
    QByteArray trailer;
};

namespace zipregions {

inline quint64 le(const QByteArray& b, qsizetype at, int width)
{
    quint64 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | quint8(b.at(at + i));
    return v;
}

inline bool fits(const QByteArray& b, quint64 at, quint64 n)
{
    return at <= quint64(b.size()) && n <= quint64(b.size()) - at;
}

inline bool sigAt(const QByteArray& b, quint64 at, quint32 sig)
{
    return fits(b, at, 4) && le(b, qsizetype(at), 4) == sig;
}

inline bool readDirectory(const QByteArray& zip, quint64 cdStart, quint64 cdEnd, quint64 prefix,
                          quint64 entries, ZipRegions& out)
{
    out.members.clear();
    quint64 at = cdStart;
    for (quint64 i = 0; i < entries; ++i) {
        if (!sigAt(zip, at, 0x02014b50) || !fits(zip, at, 46))
            return false;
        const qsizetype a = qsizetype(at);
        const quint64 n = le(zip, a + 28, 2), m = le(zip, a + 30, 2), k = le(zip, a + 32, 2);
        const quint64 disk = le(zip, a + 34, 2);
        if (at + 46 + n + m + k > cdEnd || (disk != 0 && disk != 0xFFFF))
            return false; // a member on another disk: no directory of this archive
        ZipRegions::Member member;
        member.central = zip.mid(a, qsizetype(46 + n + m + k));
        member.name = member.central.mid(46, qsizetype(n));
        quint64 offset = le(zip, a + 42, 4);
        if (offset == 0xFFFFFFFFu) {
            // The ZIP64 extra field: sizes first where they are marked.
            qsizetype e = qsizetype(46 + n);
            const qsizetype end = e + qsizetype(m);
            bool found = false;
            while (e + 4 <= end) {
                const quint64 id = le(member.central, e, 2), len = le(member.central, e + 2, 2);
                if (id == 1) {
                    qsizetype c = e + 4;
                    if (le(member.central, 24, 4) == 0xFFFFFFFFu)
                        c += 8;
                    if (le(member.central, 20, 4) == 0xFFFFFFFFu)
                        c += 8;
                    if (c + 8 > e + 4 + qsizetype(len))
                        return false;
                    offset = le(member.central, c, 8);
                    member.offsetAt = c;
                    member.offsetWidth = 8;
                    found = true;
                    break;
                }
                e += 4 + qsizetype(len);
            }
            if (!found)
                return false;
        }
        member.start = offset + prefix;
        if (member.start >= cdStart)
            return false;
        out.members.push_back(member);
        at += 46 + n + m + k;
    }
    return at == cdEnd;
}

} // namespace zipregions

inline ZipRegions zipRegions(const QByteArray& zip)
{
    using namespace zipregions;
    ZipRegions out;
    const quint64 size = quint64(zip.size());
    if (size < 22)
        return out;
    const quint64 lowest = size > 22 + 0xFFFF ? size - 22 - 0xFFFF : 0;
    for (quint64 p = size - 22 + 1; p-- > lowest;) {
        if (!sigAt(zip, p, 0x06054b50))
            continue;
        const quint64 commentLength = le(zip, qsizetype(p + 20), 2);
        if (p + 22 + commentLength > size)
            continue;
        quint64 disk = le(zip, qsizetype(p + 4), 2), directoryDisk = le(zip, qsizetype(p + 6), 2);
        quint64 entriesHere = le(zip, qsizetype(p + 8), 2);
        quint64 entries = le(zip, qsizetype(p + 10), 2);
        quint64 cdSize = le(zip, qsizetype(p + 12), 4);
        quint64 cdOffset = le(zip, qsizetype(p + 16), 4);
        quint64 endStart = p;
        if (p >= 20 && sigAt(zip, p - 20, 0x07064b50)) {
            quint64 z = le(zip, qsizetype(p - 20 + 8), 8);
            if (!sigAt(zip, z, 0x06064b50) && p >= 76)
                z = p - 76; // the stub is not counted by the offsets
            if (!sigAt(zip, z, 0x06064b50) || !fits(zip, z, 56))
                continue;
            disk = le(zip, qsizetype(z + 16), 4);
            directoryDisk = le(zip, qsizetype(z + 20), 4);
            entriesHere = le(zip, qsizetype(z + 24), 8);
            entries = le(zip, qsizetype(z + 32), 8);
            cdSize = le(zip, qsizetype(z + 40), 8);
            cdOffset = le(zip, qsizetype(z + 48), 8);
            endStart = z;
        }
        // One part of a split archive is no archive of its own.
        if (disk != 0 || directoryDisk != 0 || entriesHere != entries || cdSize > endStart)
            continue;
        // The directory right before the end records, or where it is said to be.
        bool read = false;
        quint64 cdStart = endStart - cdSize;
        quint64 prefix = 0;
        if (cdStart >= cdOffset) {
            prefix = cdStart - cdOffset;
            read = readDirectory(zip, cdStart, cdStart + cdSize, prefix, entries, out);
        }
        if (!read && cdOffset + cdSize <= endStart) {
            cdStart = cdOffset;
            prefix = 0;
            read = readDirectory(zip, cdStart, cdStart + cdSize, 0, entries, out);
        }
        if (!read)
            continue;
        std::vector<quint64> starts;
        for (const ZipRegions::Member& m : out.members)
            starts.push_back(m.start);
        std::sort(starts.begin(), starts.end());
        for (ZipRegions::Member& m : out.members) {
            const auto next = std::upper_bound(starts.begin(), starts.end(), m.start);
            const quint64 end = next == starts.end() ? cdStart : *next;
            m.local = zip.mid(qsizetype(m.start), qsizetype(end - m.start));
        }
        out.stub = zip.left(qsizetype(starts.empty() ? cdStart : starts.front()));
        out.comment = zip.mid(qsizetype(p + 22), qsizetype(commentLength));
        out.trailer = zip.mid(qsizetype(p + 22 + commentLength));
        out.ok = true;
        return out;
    }
    return out;
}

// What an update that stored one member changed beyond what it may: an
// empty text when before and after differ only in that member (replaced,
// or added after the last one), the offsets that moved, and the end
// records. Which member was replaced is found, not assumed: the one whose
// local region is not found unchanged.
inline QString zipChangesBeyondOneMember(const QByteArray& before, const QByteArray& after)
{
    const ZipRegions b = zipRegions(before);
    const ZipRegions a = zipRegions(after);
    if (!b.ok)
        return QStringLiteral("the old archive cannot be read");
    if (!a.ok)
        return QStringLiteral("the new archive cannot be read");
    if (a.stub != b.stub)
        return QStringLiteral("the bytes before the first member changed");
    if (a.comment != b.comment)
        return QStringLiteral("the archive comment changed");
    if (a.trailer != b.trailer)
        return QStringLiteral("the bytes after the end record changed");
    const bool added = a.members.size() == b.members.size() + 1;
    if (!added && a.members.size() != b.members.size())
        return QStringLiteral("%1 members became %2").arg(b.members.size()).arg(a.members.size());
    // The central header with its offset blanked out.
    auto withoutOffset = [](const ZipRegions::Member& m) {
        QByteArray c = m.central;
        c.replace(m.offsetAt, m.offsetWidth, QByteArray(m.offsetWidth, '\0'));
        return c;
    };
    qsizetype changed = added ? qsizetype(b.members.size()) : -1;
    for (size_t i = 0; i < b.members.size(); ++i) {
        const ZipRegions::Member& was = b.members[i];
        const ZipRegions::Member& now = a.members[i];
        if (now.name != was.name)
            return QStringLiteral("member %1 changed its name").arg(i);
        if (now.local == was.local && withoutOffset(now) == withoutOffset(was))
            continue;
        if (changed >= 0)
            return QStringLiteral("member %1 changed besides member %2").arg(i).arg(changed);
        changed = qsizetype(i);
    }
    if (changed < 0)
        return QString(); // the same bytes stored again
    // The stored member comes after every other.
    for (const ZipRegions::Member& m : a.members) {
        if (m.start > a.members[size_t(changed)].start)
            return QStringLiteral("the stored member is not the last one");
    }
    return QString();
}

} // namespace vexlo::test
