// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

#include <optional>

namespace vexlo::about {

// What the About box needs to know of a WAV file before it plays it: how long
// the sound lasts, so that the box can wait for it (and give up when the
// sound output never reports the end).
struct WavInfo {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    qint64 bytesPerSecond = 0;
    qint64 dataBytes = 0; // the sound data actually present in the file
    qint64 durationMs = 0;
};

// Reads the RIFF/WAVE header: the "fmt " chunk and the size of the "data"
// chunk, skipping other chunks wherever they stand. A data size that claims
// more than the file holds (a header written while streaming) counts only
// what is there. Nothing for anything that is not a WAVE file with both
// chunks and a usable rate.
std::optional<WavInfo> parseWav(const QByteArray& file);

} // namespace vexlo::about
