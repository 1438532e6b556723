// SPDX-License-Identifier: MIT
#include "about/WavInfo.h"

#include <QtEndian>

namespace vexlo::about {

namespace {

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 le16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

constexpr qsizetype kChunkHeader = 8;
constexpr qsizetype kRiffHeader = 12;
constexpr quint32 kFmtMinimum = 16;

} // namespace

std::optional<WavInfo> parseWav(const QByteArray& file)
{
    if (file.size() < kRiffHeader || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return std::nullopt;

    WavInfo info;
    bool haveFormat = false;
    bool haveData = false;
    int blockAlign = 0;
    qsizetype at = kRiffHeader;
    while (at + kChunkHeader <= file.size() && !(haveFormat && haveData)) {
        const QByteArray id = file.mid(at, 4);
        const qint64 declared = le32(file, at + 4);
        const qsizetype body = at + kChunkHeader;
        const qint64 present = qMin<qint64>(declared, file.size() - body);
        if (id == "fmt ") {
            if (present < kFmtMinimum)
                return std::nullopt;
            info.channels = le16(file, body + 2);
            info.sampleRate = int(le32(file, body + 4));
            info.bytesPerSecond = le32(file, body + 8);
            blockAlign = le16(file, body + 12);
            info.bitsPerSample = le16(file, body + 14);
            haveFormat = true;
        } else if (id == "data") {
            info.dataBytes = present;
            haveData = true;
        }
        // Chunks are padded to an even length.
        at = body + declared + (declared & 1);
    }
    if (!haveFormat || !haveData)
        return std::nullopt;

    // Some writers leave the average rate empty; the frame size times the
    // frame rate says the same for uncompressed sound.
    if (info.bytesPerSecond == 0)
        info.bytesPerSecond = qint64(blockAlign) * info.sampleRate;
    if (info.bytesPerSecond <= 0)
        return std::nullopt;
    info.durationMs = (info.dataBytes * 1000 + info.bytesPerSecond / 2) / info.bytesPerSecond;
    return info;
}

} // namespace vexlo::about
