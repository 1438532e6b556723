// SPDX-License-Identifier: MIT
// Writes the seeds of fuzz_oldmethods into the folder named (the repository's
// fuzz/corpus/oldmethods/): a description packed with each method by the
// tests' encoders, behind the target's four bytes of choices. Built only
// when named; run it again after changing it and commit what it writes:
//   make -C build make_oldmethods_corpus
//   build/tests/make_oldmethods_corpus fuzz/corpus/oldmethods

#include "legacy_zip.h"
#include "testsupport.h"

#include <cstdio>

using namespace vexlo;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_oldmethods_corpus FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QByteArray diz = test::dosDescription(300); // 300 bytes: 150 in the size field
    struct Seed {
        const char* name;
        int method;
        int flags;     // imploding: 2 the 8 KiB window, 4 a literal code
        char delivery; // the target's second byte
        QByteArray stream;
    };
    const Seed seeds[] = {
        {"shrunk", 1, 0, 0x40, test::shrinkStream(diz)},
        {"shrunk-in-pieces-clearing", 1, 0, 0x06, test::shrinkStream(diz, true, 5)},
        {"reduced-1", 2, 0, 0x40, test::reduceStream(diz, 1)},
        {"reduced-4-in-pieces", 5, 0, 0x0c, test::reduceStream(diz, 4)},
        {"imploded-4k", 6, 0, 0x40, test::implodeStream(diz, 0)},
        {"imploded-8k-literals", 6, 6, 0x40, test::implodeStream(diz, 6)},
        {"imploded-4k-literals-unknown-size", 6, 4, char(0xc0), test::implodeStream(diz, 4)},
        {"imploded-8k-in-pieces", 6, 2, 0x01, test::implodeStream(diz, 2)},
    };
    for (const Seed& seed : seeds) {
        // Method 1 + byte % 6; bit 3: the 8 KiB window; bit 4: a literal code.
        QByteArray bytes;
        bytes.append(
            char((seed.method - 1) | (seed.flags & 2 ? 8 : 0) | (seed.flags & 4 ? 16 : 0)));
        bytes.append(seed.delivery);
        bytes.append(char(diz.size() / 2 & 0xff)).append(char(diz.size() / 2 >> 8));
        if (!test::writeBytes(folder + "/" + seed.name, bytes + seed.stream))
            return 1;
    }
    return 0;
}
