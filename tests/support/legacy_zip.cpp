// SPDX-License-Identifier: MIT
#include "legacy_zip.h"

#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>

#include <zlib.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <unordered_map>

namespace vexlo::test {

namespace {

// Bits, the lowest of each byte first.
class BitWriter {
public:
    void put(quint32 value, int bits)
    {
        for (int i = 0; i < bits; ++i) {
            if (m_used == 0)
                m_bytes.append('\0');
            if ((value >> i) & 1)
                m_bytes[m_bytes.size() - 1] = char(m_bytes.back() | (1 << m_used));
            m_used = (m_used + 1) % 8;
        }
    }
    // A Shannon-Fano code, its highest bit first.
    void putCode(quint32 code, int length)
    {
        for (int b = length - 1; b >= 0; --b)
            put((code >> b) & 1, 1);
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    int m_used = 0;
};

quint8 at(const QByteArray& data, qsizetype i)
{
    return quint8(data[i]);
}

// Where the last string of n bytes that starts at each position was seen.
class LastSeen {
public:
    explicit LastSeen(int n) : m_n(n) {}
    qsizetype find(const QByteArray& d, qsizetype i) const
    {
        const auto it = i + m_n <= d.size() ? m_at.find(key(d, i)) : m_at.end();
        return it == m_at.end() ? -1 : it->second;
    }
    void note(const QByteArray& d, qsizetype i)
    {
        if (i + m_n <= d.size())
            m_at[key(d, i)] = i;
    }

private:
    quint32 key(const QByteArray& d, qsizetype i) const
    {
        quint32 k = 0;
        for (int j = 0; j < m_n; ++j)
            k = k << 8 | at(d, i + j);
        return k;
    }
    int m_n;
    std::unordered_map<quint32, qsizetype> m_at;
};

// The longest match at i of the last string seen, within window bytes back.
int matchAt(const QByteArray& d, qsizetype i, const LastSeen& seen, int window, int longest,
            int& distance)
{
    const qsizetype from = seen.find(d, i);
    if (from < 0 || i - from > window)
        return 0;
    distance = int(i - from);
    int length = 0;
    while (length < longest && i + length < d.size() && d[i + length] == d[from + length])
        ++length;
    return length;
}

void put16(QByteArray& out, quint32 v)
{
    out.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}
void put32(QByteArray& out, quint32 v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

} // namespace

QByteArray shrinkStream(const QByteArray& data, bool widenEarly, int clearEvery)
{
    // The dictionary as the decoder keeps it (LegacyExpander.cpp says how a
    // partial clearing works), and a map from (code, byte) to the code that
    // extends it.
    constexpr int kCodes = 8192;
    BitWriter out;
    if (data.isEmpty())
        return QByteArray();
    int size = 9;
    std::map<std::pair<int, int>, int> codes;
    std::vector<int> prefix(kCodes), suffix(kCodes);
    std::vector<bool> used(kCodes), extended(kCodes);
    int nextFree = 257, highest = 256;
    const auto findFree = [&] {
        while (nextFree < kCodes && (used[size_t(nextFree)] || extended[size_t(nextFree)]))
            ++nextFree;
    };
    const auto control = [&](int what) {
        out.put(256, size);
        out.put(quint32(what), size);
    };
    const auto send = [&](int code) {
        while (code >= (1 << size)) {
            control(1);
            ++size;
        }
        out.put(quint32(code), size);
    };
    const auto clear = [&] {
        control(2);
        for (int c = 257; c <= highest; ++c)
            if (used[size_t(c)] && prefix[size_t(c)] >= 257)
                extended[size_t(prefix[size_t(c)])] = true;
        for (int c = 257; c <= highest; ++c) {
            if (extended[size_t(c)]) {
                extended[size_t(c)] = false;
            } else if (used[size_t(c)]) {
                used[size_t(c)] = false;
                const auto entry = codes.find({prefix[size_t(c)], suffix[size_t(c)]});
                if (entry != codes.end() && entry->second == c)
                    codes.erase(entry);
            }
        }
        highest = 256;
        nextFree = 257;
        findFree();
    };
    int w = at(data, 0);
    int sent = 0;
    for (qsizetype i = 1; i < data.size(); ++i) {
        const int c = at(data, i);
        const auto found = codes.find({w, c});
        if (found != codes.end()) {
            w = found->second;
            continue;
        }
        send(w);
        if (++sent == 1 && widenEarly) {
            control(1);
            ++size;
        }
        // A full dictionary must be cleared before the next code.
        if (nextFree >= kCodes || (clearEvery > 0 && sent % clearEvery == 0))
            clear();
        if (nextFree < kCodes) {
            codes[{w, c}] = nextFree;
            prefix[size_t(nextFree)] = w;
            suffix[size_t(nextFree)] = c;
            used[size_t(nextFree)] = true;
            highest = std::max(highest, nextFree);
            findFree();
        }
        w = c;
    }
    send(w);
    return out.bytes();
}

QByteArray reduceStream(const QByteArray& data, int factor)
{
    // Copies and DLE escapes first.
    const int mask = 0x7f >> (factor - 1);
    const int window = 256 << factor;
    const int longest = mask + 255 + 3;
    QByteArray middle;
    LastSeen seen(3);
    for (qsizetype i = 0; i < data.size();) {
        int distance = 0;
        const int length = matchAt(data, i, seen, window, longest, distance);
        // A copy of 3 from at most 256 back would read as an escaped DLE.
        if (length >= 3 && !(length == 3 && distance <= 256)) {
            const int high = (distance - 1) >> 8;
            middle.append(char(0x90));
            if (length - 3 < mask) {
                middle.append(char(high << (8 - factor) | (length - 3)));
            } else {
                middle.append(char(high << (8 - factor) | mask));
                middle.append(char(length - 3 - mask));
            }
            middle.append(char((distance - 1) & 0xff));
            for (int k = 0; k < length; ++k)
                seen.note(data, i + k);
            i += length;
            continue;
        }
        middle.append(data[i]);
        if (at(data, i) == 0x90)
            middle.append('\0');
        seen.note(data, i);
        ++i;
    }

    // Follower sets: the likeliest bytes after each byte, at most a number
    // that varies from byte to byte; every seventh byte has none.
    std::vector<std::map<int, int>> pairs(256);
    int last = 0;
    for (char ch : middle) {
        ++pairs[size_t(last)][quint8(ch)];
        last = quint8(ch);
    }
    std::vector<std::vector<int>> followers(256);
    for (int j = 0; j < 256; ++j) {
        if (j % 7 == 3)
            continue;
        std::vector<std::pair<int, int>> ranked; // (-count, byte)
        for (const auto& [byte, count] : pairs[size_t(j)])
            ranked.push_back({-count, byte});
        std::sort(ranked.begin(), ranked.end());
        for (size_t k = 0; k < ranked.size() && k < size_t(1 + j % 32); ++k)
            followers[size_t(j)].push_back(ranked[k].second);
    }
    BitWriter out;
    for (int j = 255; j >= 0; --j) {
        out.put(quint32(followers[size_t(j)].size()), 6);
        for (int f : followers[size_t(j)])
            out.put(quint32(f), 8);
    }
    last = 0;
    for (char ch : middle) {
        const int byte = quint8(ch);
        const std::vector<int>& set = followers[size_t(last)];
        const auto found = std::find(set.begin(), set.end(), byte);
        if (set.empty()) {
            out.put(quint32(byte), 8);
        } else if (found == set.end()) {
            out.put(1, 1);
            out.put(quint32(byte), 8);
        } else {
            int bits = 1;
            while ((1 << bits) < int(set.size()))
                ++bits;
            out.put(0, 1);
            out.put(quint32(found - set.begin()), bits);
        }
        last = byte;
    }
    return out.bytes();
}

QByteArray implodeStream(const QByteArray& data, quint16 flags)
{
    const bool bigWindow = (flags & 2) != 0;
    const bool literalCode = (flags & 4) != 0;
    const int lowBits = bigWindow ? 7 : 6;
    const int minimum = literalCode ? 3 : 2;

    // Bit lengths that make whole codes: for literals by how often each
    // byte comes (32 of 6 bits, 32 of 8, the rest 9); for lengths and
    // distances fixed, the short ones first.
    std::vector<int> literalLengths(256), fixedLengths(64);
    std::vector<int> count(256), rank(256);
    for (char ch : data)
        ++count[quint8(ch)];
    std::iota(rank.begin(), rank.end(), 0);
    std::stable_sort(rank.begin(), rank.end(), [&](int a, int b) { return count[a] > count[b]; });
    for (int r = 0; r < 256; ++r)
        literalLengths[size_t(rank[size_t(r)])] = r < 32 ? 6 : r < 64 ? 8 : 9;
    for (int v = 0; v < 64; ++v)
        fixedLengths[size_t(v)] = v < 2 ? 2 : v < 6 ? 4 : v < 14 ? 6 : v < 28 ? 8 : 9;

    // The codes as the format derives them from the lengths.
    const auto codesOf = [](const std::vector<int>& lengths) {
        std::vector<int> order(lengths.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return lengths[size_t(a)] < lengths[size_t(b)]; });
        std::vector<quint32> codes(lengths.size());
        quint32 code = 0, increment = 0;
        int lastLength = 0;
        for (int i = int(order.size()) - 1; i >= 0; --i) {
            code += increment;
            const int length = lengths[size_t(order[size_t(i)])];
            if (length != lastLength) {
                lastLength = length;
                increment = 1u << (16 - length);
            }
            codes[size_t(order[size_t(i)])] = code >> (16 - length);
        }
        return codes;
    };
    BitWriter out;
    const auto writeLengths = [&](const std::vector<int>& lengths) {
        QByteArray runs;
        for (size_t i = 0; i < lengths.size();) {
            size_t j = i;
            while (j < lengths.size() && j - i < 16 && lengths[j] == lengths[i])
                ++j;
            runs.append(char((j - i - 1) << 4 | size_t(lengths[i] - 1)));
            i = j;
        }
        out.put(quint32(runs.size() - 1), 8);
        for (char run : runs)
            out.put(quint8(run), 8);
    };
    if (literalCode)
        writeLengths(literalLengths);
    writeLengths(fixedLengths); // lengths
    writeLengths(fixedLengths); // distances
    const std::vector<quint32> literals = codesOf(literalLengths), fixed = codesOf(fixedLengths);

    LastSeen seen(minimum);
    for (qsizetype i = 0; i < data.size();) {
        int distance = 0;
        const int length =
            matchAt(data, i, seen, bigWindow ? 8192 : 4096, minimum + 63 + 255, distance);
        if (length >= minimum) {
            const int d = distance - 1;
            const int code = std::min(length - minimum, 63);
            out.put(0, 1);
            out.put(quint32(d & ((1 << lowBits) - 1)), lowBits);
            out.putCode(fixed[size_t(d >> lowBits)], fixedLengths[size_t(d >> lowBits)]);
            out.putCode(fixed[size_t(code)], fixedLengths[size_t(code)]);
            if (code == 63)
                out.put(quint32(length - minimum - 63), 8);
            for (int k = 0; k < length; ++k)
                seen.note(data, i + k);
            i += length;
            continue;
        }
        out.put(1, 1);
        if (literalCode)
            out.putCode(literals[at(data, i)], literalLengths[at(data, i)]);
        else
            out.put(at(data, i), 8);
        seen.note(data, i);
        ++i;
    }
    return out.bytes();
}

quint32 crcOf(const QByteArray& data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

QByteArray packAs(int method, quint16 flags, const QByteArray& data)
{
    if (method == 1)
        return shrinkStream(data);
    if (method >= 2 && method <= 5)
        return reduceStream(data, method - 1);
    if (method == 6)
        return implodeStream(data, flags);
    if (method != 8)
        return data;
    z_stream z{};
    QByteArray out(qsizetype(compressBound(uLong(data.size()))) + 64, '\0');
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray dosDescription(qsizetype size)
{
    QByteArray out;
    for (int line = 0; out.size() < size; ++line) {
        out += "\xc9\xcd\xcd\xcd\xbb GAME OF THE YEAR v" + QByteArray::number(line % 97) +
               " \xb0\xb1\xb2\xdb \x90\x90 \x81"
               "ber \r\n\xba ";
        out += noise(line % 23, quint32(line));
        out += " \xc8\xcd\xcd\xcd\xbc\r\n";
    }
    out.truncate(size);
    return out;
}

QByteArray oldZipBytes(const std::vector<OldMember>& members)
{
    constexpr quint32 kDosTime = 12 << 11;                         // 12:00
    constexpr quint32 kDosDate = (1996 - 1980) << 9 | 12 << 5 | 9; // 1996-12-09
    QByteArray out, directory;
    for (const OldMember& m : members) {
        const QByteArray raw = m.raw.isEmpty() ? packAs(m.method, m.flags, m.data) : m.raw;
        const quint32 crc = m.declaredCrc >= 0 ? quint32(m.declaredCrc) : crcOf(m.data);
        const quint32 size = quint32(m.declaredSize >= 0 ? m.declaredSize : m.data.size());
        const QByteArray name = m.name.toLatin1();
        const quint32 offset = quint32(out.size());
        QByteArray common;
        put16(common, m.method == 8 ? 20 : 10); // version needed
        put16(common, m.flags);
        put16(common, quint32(m.method));
        put16(common, kDosTime);
        put16(common, kDosDate);
        put32(common, crc);
        put32(common, quint32(raw.size()));
        put32(common, size);
        put16(common, quint32(name.size()));
        put16(common, 0); // extra field
        put32(out, 0x04034b50);
        out.append(common).append(name).append(raw);
        put32(directory, 0x02014b50);
        put16(directory, 10); // made by: MS-DOS, PKZIP 1.0
        directory.append(common);
        put16(directory, 0);    // comment
        put16(directory, 0);    // disk
        put16(directory, 0);    // internal attributes
        put32(directory, 0x20); // archive bit
        put32(directory, offset);
        directory.append(name);
    }
    const quint32 start = quint32(out.size());
    out.append(directory);
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(members.size()));
    put16(out, quint32(members.size()));
    put32(out, quint32(directory.size()));
    put32(out, start);
    put16(out, 0);
    return out;
}

bool makeOldZip(const QString& path, const std::vector<OldMember>& members)
{
    return writeBytes(path, oldZipBytes(members));
}

UnzipCheck unzipCheck(const QString& archive, const QString& member)
{
    UnzipCheck check;
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (unzip.isEmpty())
        return check;
    check.installed = true;
    QProcess test;
    test.start(unzip, {QStringLiteral("-tqq"), archive});
    check.tested = test.waitForFinished(60000) && test.exitStatus() == QProcess::NormalExit &&
                   test.exitCode() == 0;
    QProcess print;
    print.start(unzip, {QStringLiteral("-p"), archive, member});
    if (print.waitForFinished(60000))
        check.data = print.readAllStandardOutput();
    return check;
}

} // namespace vexlo::test
