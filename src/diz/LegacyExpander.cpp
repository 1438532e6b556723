// SPDX-License-Identifier: MIT
#include "diz/LegacyExpander.h"

#include <algorithm>
#include <array>
#include <memory>

namespace vexlo::diz {

namespace {

constexpr qint64 kInputChunk = 32 * 1024;
constexpr qint64 kReportStep = 64 * 1024;

// How a stretch of expanding ended; Going only between two symbols.
enum class Run { Going, ReachedCap, InputEnded, Damaged, InputFailed, Stopped };

// The raw bytes as bits, the lowest bit of each byte first: how all three
// methods pack their codes.
class BitInput {
public:
    explicit BitInput(const std::function<qint64(char*, qint64)>& read)
        : m_read(read), m_buffer(kInputChunk, '\0')
    {
    }

    // At least n bits (n at most 24) ready to take; false when the input
    // ends (or fails) first.
    bool need(int n)
    {
        while (m_count < n) {
            if (m_at == m_size && !refill())
                return false;
            m_bits |= quint32(quint8(m_buffer[m_at++])) << m_count;
            m_count += 8;
        }
        return true;
    }

    // The next n bits, once need(n) said they are there.
    quint32 take(int n)
    {
        const quint32 value = m_bits & ((quint32(1) << n) - 1);
        m_bits >>= n;
        m_count -= n;
        return value;
    }

    // Whether n whole bytes (n at most 2) follow the bits taken so far, past
    // the unused rest of the byte being read.
    bool wholeBytesFollow(int n) { return need(m_count % 8 + 8 * n); }

    bool failed() const { return m_failed; }

private:
    bool refill()
    {
        if (m_ended)
            return false;
        const qint64 got = m_read(m_buffer.data(), kInputChunk);
        if (got <= 0 || got > kInputChunk) {
            m_ended = true;
            m_failed = got != 0;
            return false;
        }
        m_size = got;
        m_at = 0;
        return true;
    }

    const std::function<qint64(char*, qint64)>& m_read;
    QByteArray m_buffer;
    qint64 m_size = 0;
    qint64 m_at = 0;
    quint32 m_bits = 0;
    int m_count = 0;
    bool m_ended = false;
    bool m_failed = false;
};

// What the three decoders share: the output up to a cap, a copy from
// earlier output or a string that the cap interrupted (the next stretch
// goes on with it), and the progress calls.
class Decoder {
public:
    Decoder(BitInput& in, QByteArray& out, const ExpandJob& job) : m_in(in), m_out(out), m_job(job)
    {
    }
    virtual ~Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Expands until the output holds cap bytes, the input ends or the
    // stream turns out broken.
    Run run(qint64 cap)
    {
        m_cap = cap;
        if (!m_started) {
            const Run header = start();
            if (header != Run::Going)
                return settled(header);
            m_started = true;
        }
        for (;;) {
            drain();
            if (m_out.size() >= m_cap)
                return Run::ReachedCap;
            if (m_out.size() >= m_nextReport) {
                m_nextReport = m_out.size() + kReportStep;
                if (m_job.progress && !m_job.progress(m_out.size()))
                    return Run::Stopped;
            }
            const Run step = next();
            if (step != Run::Going)
                return settled(step);
        }
    }

    // Output that the cap held back.
    bool hasPending() const { return m_copyLength > 0 || m_stringAt < m_stringEnd; }

protected:
    // The tables in front of the codes, if any.
    virtual Run start() { return Run::Going; }
    // One symbol; called only with room for a byte and nothing pending.
    virtual Run next() = 0;

    void put(quint8 byte) { m_out.append(char(byte)); }
    qint64 made() const { return m_out.size(); }

    // length bytes from distance (at least 1) back; bytes before the start
    // of the output count as zeros.
    void copy(int distance, int length)
    {
        m_copyDistance = distance;
        m_copyLength = length;
    }

    // A string the decoder wrote into m_string[m_stringAt, m_stringEnd).
    static constexpr int kStringRoom = 8192;
    std::array<quint8, kStringRoom> m_string{};
    int m_stringAt = 0;
    int m_stringEnd = 0;

    BitInput& m_in;

private:
    // The input ended because reading it failed: not the stream's fault.
    Run settled(Run run) const
    {
        return run == Run::InputEnded && m_in.failed() ? Run::InputFailed : run;
    }

    void drain()
    {
        while (m_copyLength > 0 && m_out.size() < m_cap) {
            const qint64 from = m_out.size() - m_copyDistance;
            m_out.append(from >= 0 ? m_out.at(from) : '\0');
            --m_copyLength;
        }
        while (m_stringAt < m_stringEnd && m_out.size() < m_cap)
            put(m_string[size_t(m_stringAt++)]);
    }

    QByteArray& m_out;
    const ExpandJob& m_job;
    qint64 m_cap = 0;
    qint64 m_nextReport = kReportStep;
    bool m_started = false;
    int m_copyDistance = 1;
    int m_copyLength = 0;
};

// Shrinking (method 1): LZW with codes of 9 to 13 bits. Code 256 is
// followed by a control code: 1 makes the codes one bit longer, 2 clears
// the leaves of the dictionary partially. A new string takes the lowest free
// code; the first code is always a byte.
//
// The partial clearing is what PKZIP's archives need, as Info-ZIP unzip
// reads them (checked against it): it looks at the codes from 257 up to the
// highest one given out since the last clearing only. Those that no code in
// use among them extends are freed; a code beyond them that such a code
// extends stays taken until a later clearing looks at it. A string is never
// added to a full dictionary: PKZIP clears it first.
//
// A clearing walks every code up to that highest one. PKZIP clears only a
// full dictionary, after which thousands of strings are added before the
// next clearing, so a real stream spends a few steps per byte on clearing.
// A crafted one can hold the low codes taken (a code that extends itself is
// never freed), so that every new string lands near the top, and clear
// after every byte: thousands of steps per byte, many seconds for one
// description. Beyond an allowance far above any real stream's, the stream
// is taken for damaged.
class Unshrinker final : public Decoder {
public:
    using Decoder::Decoder;

private:
    static constexpr int kCodes = 8192;
    static constexpr int kControl = 256;
    static constexpr int kFirstFree = 257;
    static constexpr int kMaxCodeSize = 13;
    static constexpr qint64 kClearingStepsFree = 64 * kCodes;
    static constexpr qint64 kClearingStepsPerByte = 1024;

    Run next() override
    {
        if (!m_in.need(m_codeSize))
            return Run::InputEnded;
        const int code = int(m_in.take(m_codeSize));
        if (code == kControl) {
            if (!m_in.need(m_codeSize))
                return Run::InputEnded;
            switch (m_in.take(m_codeSize)) {
            case 1:
                if (m_codeSize == kMaxCodeSize)
                    return Run::Damaged;
                ++m_codeSize;
                return Run::Going;
            case 2:
                return partialClear() ? Run::Going : Run::Damaged;
            default:
                return Run::Damaged;
            }
        }
        if (m_previous < 0) {
            if (code > 255)
                return Run::Damaged;
            put(quint8(code));
            m_previous = code;
            m_previousFirst = quint8(code);
            return Run::Going;
        }
        if (code < kControl || m_used[size_t(code)]) {
            if (!spell(code) || !add(m_previous, m_string[size_t(m_stringAt)]))
                return Run::Damaged;
        } else if (code == m_nextFree) {
            // The string the previous one starts and ends: the code is the
            // one this very step adds.
            if (!add(m_previous, m_previousFirst) || !spell(code))
                return Run::Damaged;
        } else {
            return Run::Damaged;
        }
        m_previous = code;
        m_previousFirst = m_string[size_t(m_stringAt)];
        return Run::Going;
    }

    // Writes the string of code into the string room; false for a chain
    // through a free code, or one that goes round (the room holds the
    // longest real one).
    bool spell(int code)
    {
        int at = kStringRoom;
        while (code > 255) {
            if (code == kControl || !m_used[size_t(code)] || at <= 1)
                return false;
            m_string[size_t(--at)] = m_suffix[size_t(code)];
            code = m_prefix[size_t(code)];
        }
        m_string[size_t(--at)] = quint8(code);
        m_stringAt = at;
        m_stringEnd = kStringRoom;
        return true;
    }

    bool taken(int code) const { return m_used[size_t(code)] || m_extended[size_t(code)]; }

    bool add(int prefix, quint8 suffix)
    {
        if (m_nextFree >= kCodes)
            return false;
        const int code = m_nextFree;
        m_prefix[size_t(code)] = qint16(prefix);
        m_suffix[size_t(code)] = suffix;
        m_used[size_t(code)] = true;
        m_highest = std::max(m_highest, code);
        while (m_nextFree < kCodes && taken(m_nextFree))
            ++m_nextFree;
        return true;
    }

    bool partialClear()
    {
        if (m_highest < kFirstFree)
            return true; // nothing given out since the last clearing: nothing changes
        m_clearingSteps += 2 * qint64(m_highest - kFirstFree + 1);
        for (int code = kFirstFree; code <= m_highest; ++code) {
            const int prefix = m_prefix[size_t(code)];
            if (m_used[size_t(code)] && prefix >= kFirstFree)
                m_extended[size_t(prefix)] = true;
        }
        for (int code = kFirstFree; code <= m_highest; ++code) {
            if (m_extended[size_t(code)])
                m_extended[size_t(code)] = false;
            else
                m_used[size_t(code)] = false;
        }
        m_highest = kFirstFree - 1;
        m_nextFree = kFirstFree;
        while (m_nextFree < kCodes && taken(m_nextFree))
            ++m_nextFree;
        m_clearingSteps += m_nextFree - kFirstFree;
        return m_clearingSteps <= kClearingStepsFree + kClearingStepsPerByte * made();
    }

    std::array<qint16, kCodes> m_prefix{};
    std::array<quint8, kCodes> m_suffix{};
    std::array<bool, kCodes> m_used{};
    std::array<bool, kCodes> m_extended{}; // marked by a clearing, not yet looked at by one
    int m_codeSize = 9;
    int m_previous = -1;
    quint8 m_previousFirst = 0;
    int m_nextFree = kFirstFree;    // kCodes when the dictionary is full
    int m_highest = kFirstFree - 1; // the highest code given out since the last clearing
    qint64 m_clearingSteps = 0;     // codes looked at by clearings so far
};

// Reducing (methods 2 to 5, compression factors 1 to 4): bytes coded by
// follower sets (the likely bytes after each byte), then expanded where
// DLE (0x90) marks a copy of earlier output.
class Unreducer final : public Decoder {
public:
    Unreducer(BitInput& in, QByteArray& out, const ExpandJob& job)
        : Decoder(in, out, job), m_factor(job.method - 1), m_lengthMask(0x7f >> (m_factor - 1))
    {
    }

private:
    static constexpr quint8 kDle = 0x90;
    static constexpr int kMaxFollowers = 32;

    // The follower sets, from that of byte 255 down to that of byte 0: a
    // 6-bit count, then each follower in 8 bits.
    Run start() override
    {
        for (int byte = 255; byte >= 0; --byte) {
            if (!m_in.need(6))
                return Run::InputEnded;
            const int count = int(m_in.take(6));
            if (count > kMaxFollowers)
                return Run::Damaged;
            m_counts[size_t(byte)] = quint8(count);
            for (int i = 0; i < count; ++i) {
                if (!m_in.need(8))
                    return Run::InputEnded;
                m_followers[size_t(byte)][size_t(i)] = quint8(m_in.take(8));
            }
        }
        return Run::Going;
    }

    // The fewest bits that hold count - 1, at least one.
    static int indexBits(int count)
    {
        int bits = 1;
        while ((1 << bits) < count)
            ++bits;
        return bits;
    }

    Run next() override
    {
        quint8 byte = 0;
        const int count = m_counts[m_last];
        if (count > 0) {
            if (!m_in.need(1))
                return Run::InputEnded;
            if (m_in.take(1) == 0) {
                const int bits = indexBits(count);
                if (!m_in.need(bits))
                    return Run::InputEnded;
                const quint32 index = m_in.take(bits);
                if (index >= quint32(count))
                    return Run::Damaged;
                byte = m_followers[m_last][index];
            } else if (!nextByte(byte)) {
                return Run::InputEnded;
            }
        } else if (!nextByte(byte)) {
            return Run::InputEnded;
        }
        m_last = byte;

        switch (m_state) {
        case State::Plain:
            if (byte == kDle)
                m_state = State::AfterDle;
            else
                put(byte);
            break;
        case State::AfterDle:
            if (byte == 0) {
                put(kDle);
                m_state = State::Plain;
            } else {
                m_lead = byte;
                m_length = byte & m_lengthMask;
                m_state = m_length == m_lengthMask ? State::MoreLength : State::Distance;
            }
            break;
        case State::MoreLength:
            m_length += byte;
            m_state = State::Distance;
            break;
        case State::Distance:
            copy((m_lead >> (8 - m_factor)) * 256 + byte + 1, m_length + 3);
            m_state = State::Plain;
            break;
        }
        return Run::Going;
    }

    bool nextByte(quint8& byte)
    {
        if (!m_in.need(8))
            return false;
        byte = quint8(m_in.take(8));
        return true;
    }

    enum class State { Plain, AfterDle, MoreLength, Distance };
    const int m_factor;
    const int m_lengthMask;
    std::array<std::array<quint8, kMaxFollowers>, 256> m_followers{};
    std::array<quint8, 256> m_counts{};
    quint8 m_last = 0;
    State m_state = State::Plain;
    int m_lead = 0;
    int m_length = 0;
};

// A Shannon-Fano code as imploding stores it: a bit length for each value.
// Ordered by length (and by value within a length), the values get their
// codes from the last to the first, counting up, so that the longest codes
// are the lowest; the codes of one length are consecutive numbers.
struct ShannonFano {
    static constexpr int kMaxLength = 16;
    std::array<quint8, 256> ordered{};             // values by length, then by value
    std::array<int, kMaxLength + 1> count{};       // values of each length
    std::array<int, kMaxLength + 1> lastOrdered{}; // where the lowest code of each length is
    std::array<quint32, kMaxLength + 1> lowest{};  // that code
};

// Imploding (method 6): literals and copies of up to 8 KiB back, coded by
// two or three Shannon-Fano codes that the stream starts with.
class Exploder final : public Decoder {
public:
    Exploder(BitInput& in, QByteArray& out, const ExpandJob& job)
        : Decoder(in, out, job), m_distanceLowBits((job.flags & 2) ? 7 : 6),
          m_literalCode((job.flags & 4) != 0), m_minimumMatch(m_literalCode ? 3 : 2)
    {
    }

private:
    Run start() override
    {
        Run run = Run::Going;
        if (m_literalCode)
            run = readCode(256, m_literals);
        if (run == Run::Going)
            run = readCode(64, m_lengths);
        if (run == Run::Going)
            run = readCode(64, m_distances);
        return run;
    }

    // A byte that counts the bytes to follow, less one; each of those gives
    // a bit length (low 4 bits, less one) and how many values in turn have
    // it (high 4 bits, less one). They must give each of the values one.
    Run readCode(int values, ShannonFano& code)
    {
        if (!m_in.need(8))
            return Run::InputEnded;
        const int bytes = int(m_in.take(8)) + 1;
        std::array<quint8, 256> lengths{};
        int given = 0;
        for (int i = 0; i < bytes; ++i) {
            if (!m_in.need(8))
                return Run::InputEnded;
            const quint32 byte = m_in.take(8);
            const int times = int(byte >> 4) + 1;
            const int length = int(byte & 15) + 1;
            if (given + times > values)
                return Run::Damaged;
            for (int k = 0; k < times; ++k)
                lengths[size_t(given++)] = quint8(length);
        }
        if (given != values)
            return Run::Damaged;

        std::array<int, ShannonFano::kMaxLength + 2> place{};
        for (int v = 0; v < values; ++v)
            ++code.count[lengths[size_t(v)]];
        for (int length = 1; length <= ShannonFano::kMaxLength; ++length)
            place[size_t(length + 1)] = place[size_t(length)] + code.count[size_t(length)];
        for (int v = 0; v < values; ++v)
            code.ordered[size_t(place[lengths[size_t(v)]]++)] = quint8(v);

        quint32 next = 0;
        quint32 step = 0;
        int lastLength = 0;
        for (int i = values - 1; i >= 0; --i) {
            next += step;
            const int length = lengths[code.ordered[size_t(i)]];
            if (length != lastLength) {
                lastLength = length;
                step = quint32(1) << (ShannonFano::kMaxLength - length);
                code.lowest[size_t(length)] = next >> (ShannonFano::kMaxLength - length);
                code.lastOrdered[size_t(length)] = i;
            }
        }
        return Run::Going;
    }

    // A code's first bit in the stream is its highest.
    Run decode(const ShannonFano& code, int& value)
    {
        quint32 bits = 0;
        for (int length = 1; length <= ShannonFano::kMaxLength; ++length) {
            if (!m_in.need(1))
                return Run::InputEnded;
            bits = bits << 1 | m_in.take(1);
            const quint32 count = quint32(code.count[size_t(length)]);
            const quint32 lowest = code.lowest[size_t(length)];
            if (count > 0 && bits >= lowest && bits - lowest < count) {
                value = code.ordered[size_t(code.lastOrdered[size_t(length)] - int(bits - lowest))];
                return Run::Going;
            }
        }
        return Run::Damaged; // no code of any length
    }

    Run next() override
    {
        if (!m_in.need(1))
            return Run::InputEnded;
        if (m_in.take(1)) {
            int byte = 0;
            if (m_literalCode) {
                const Run run = decode(m_literals, byte);
                if (run != Run::Going)
                    return run;
            } else {
                if (!m_in.need(8))
                    return Run::InputEnded;
                byte = int(m_in.take(8));
            }
            put(quint8(byte));
            return Run::Going;
        }
        if (!m_in.need(m_distanceLowBits))
            return Run::InputEnded;
        const int low = int(m_in.take(m_distanceLowBits));
        int high = 0;
        int length = 0;
        Run run = decode(m_distances, high);
        if (run == Run::Going)
            run = decode(m_lengths, length);
        if (run != Run::Going)
            return run;
        if (length == 63) {
            if (!m_in.need(8))
                return Run::InputEnded;
            length += int(m_in.take(8));
        }
        copy((high << m_distanceLowBits | low) + 1, length + m_minimumMatch);
        return Run::Going;
    }

    const int m_distanceLowBits; // 7 with the 8 KiB window, 6 with 4 KiB
    const bool m_literalCode;
    const int m_minimumMatch;
    ShannonFano m_literals;
    ShannonFano m_lengths;
    ShannonFano m_distances;
};

std::unique_ptr<Decoder> decoderFor(BitInput& in, QByteArray& out, const ExpandJob& job)
{
    if (job.method == 1)
        return std::make_unique<Unshrinker>(in, out, job);
    if (job.method == 6)
        return std::make_unique<Exploder>(in, out, job);
    return std::make_unique<Unreducer>(in, out, job);
}

ExpandResult resultOf(Run run)
{
    switch (run) {
    case Run::InputFailed:
        return ExpandResult::InputFailed;
    case Run::Stopped:
        return ExpandResult::Stopped;
    default:
        return ExpandResult::Damaged;
    }
}

ExpandResult expand(const ExpandJob& job, QByteArray& out)
{
    if (!isLegacyMethod(job.method) || !job.read || job.limit < 0)
        return ExpandResult::Damaged;
    if (job.expectedSize > job.limit)
        return ExpandResult::TooLarge;
    BitInput in(job.read);
    const bool known = job.expectedSize >= 0;
    // An empty member may have no bytes at all, not even tables.
    if (job.expectedSize == 0 && !in.wholeBytesFollow(1))
        return in.failed() ? ExpandResult::InputFailed : ExpandResult::Done;
    const std::unique_ptr<Decoder> decoder = decoderFor(in, out, job);
    const Run run = decoder->run(known ? job.expectedSize : job.limit + 1);
    if (!known) {
        if (run == Run::InputEnded)
            return ExpandResult::Done;
        return run == Run::ReachedCap ? ExpandResult::TooLarge : resultOf(run);
    }
    if (run != Run::ReachedCap)
        return resultOf(run);
    // The stream may end here: the rest of its last byte unused, and at
    // most one byte more.
    if (!decoder->hasPending() && !in.wholeBytesFollow(2))
        return in.failed() ? ExpandResult::InputFailed : ExpandResult::Done;
    // It holds more than the directory says: how much tells too large from
    // damaged.
    const Run beyond = decoder->run(job.limit + 1);
    return beyond == Run::ReachedCap ? ExpandResult::TooLarge : resultOf(beyond);
}

} // namespace

ExpandResult expandLegacyMember(const ExpandJob& job, QByteArray& out)
{
    out.clear();
    const ExpandResult result = expand(job, out);
    if (result != ExpandResult::Done)
        out.clear();
    return result;
}

ExpandResult expandLegacyMember(int method, quint16 flags, const QByteArray& raw,
                                qint64 expectedSize, qint64 limit, QByteArray& out)
{
    qint64 at = 0;
    ExpandJob job;
    job.method = method;
    job.flags = flags;
    job.expectedSize = expectedSize;
    job.limit = limit;
    job.read = [&](char* into, qint64 max) {
        const qint64 n = std::min<qint64>(max, raw.size() - at);
        std::copy_n(raw.constData() + at, n, into);
        at += n;
        return n;
    };
    return expandLegacyMember(job, out);
}

} // namespace vexlo::diz
