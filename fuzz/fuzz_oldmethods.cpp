// SPDX-License-Identifier: MIT
// The expanders of PKZIP 1.x's methods (diz/LegacyExpander) on arbitrary
// streams. The first byte chooses the method (1 to 6) and the imploding
// flags, the second how the raw bytes come in (all at once, or a few at a
// time) and whether a size is expected, the next two that size; the rest is
// the stream. Besides not crashing, hanging or growing, the expander must
// keep its promises: nothing but the expected size, never more than the
// limit, nothing at all on a failure, and the same answer however the
// bytes come in.

#include "diz/LegacyExpander.h"
#include "fuzz_support.h"

#include <algorithm>

using namespace vexlo;

namespace {

// The component's limit would have each input make up to 1 MiB; a smaller
// one tries the same code far faster.
constexpr qint64 kLimit = 64 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int method = 1 + data[0] % 6;
    const quint16 flags = quint16(((data[0] >> 3) & 1) << 1 | ((data[0] >> 4) & 1) << 2);
    const qint64 piece = 1 + (data[1] & 0x3f); // bytes a read gives, when not all at once
    const bool allAtOnce = (data[1] & 0x40) != 0;
    const qint64 expected = (data[1] & 0x80) ? -1 : qint64(data[2] | data[3] << 8) * 2;
    const QByteArray raw = fuzz::bytesOf(data + 4, size - 4);

    QByteArray whole;
    const diz::ExpandResult first =
        diz::expandLegacyMember(method, flags, raw, expected, kLimit, whole);

    qint64 at = 0;
    diz::ExpandJob job;
    job.method = method;
    job.flags = flags;
    job.expectedSize = expected;
    job.limit = kLimit;
    job.read = [&](char* into, qint64 max) {
        const qint64 n = std::min({max, allAtOnce ? max : piece, qint64(raw.size()) - at});
        std::copy_n(raw.constData() + at, n, into);
        at += n;
        return n;
    };
    qint64 lastMade = -1;
    job.progress = [&](qint64 made) {
        if (made <= lastMade || made > kLimit)
            fuzz::fail("progress went back or past the limit");
        lastMade = made;
        return true;
    };
    QByteArray pieces;
    const diz::ExpandResult second = diz::expandLegacyMember(job, pieces);

    if (first != second || whole != pieces)
        fuzz::fail("the answer depends on how the raw bytes come in");
    switch (first) {
    case diz::ExpandResult::Done:
        if (whole.size() > kLimit)
            fuzz::fail("more than the limit");
        if (expected >= 0 && whole.size() != expected)
            fuzz::fail("done with another size than the expected one");
        break;
    case diz::ExpandResult::Damaged:
    case diz::ExpandResult::TooLarge:
        if (!whole.isEmpty())
            fuzz::fail("bytes kept on a failure");
        break;
    default:
        fuzz::fail("a status the input cannot cause");
    }
    return 0;
}
