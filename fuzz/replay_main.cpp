// SPDX-License-Identifier: MIT
// Runs a fuzz target's inputs without libFuzzer: every file named, and every
// file in every folder named, once each. This is how the seed corpus and the
// saved crash inputs run as ordinary tests in every build.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool runFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    std::fprintf(stderr, "input %s (%lld bytes)\n", qPrintable(path),
                 static_cast<long long>(bytes.size()));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                           size_t(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            const QFileInfoList files = QDir(arg).entryInfoList(QDir::Files, QDir::Name);
            for (const QFileInfo& f : files) {
                ok = runFile(f.filePath()) && ok;
                ++inputs;
            }
        } else if (QFileInfo::exists(arg)) {
            ok = runFile(arg) && ok;
            ++inputs;
        }
    }
    std::printf("%d inputs ran\n", inputs);
    return ok && inputs > 0 ? 0 : 1;
}
