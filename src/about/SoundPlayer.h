// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QSoundEffect;
class QTemporaryFile;

namespace vexlo::about {

// Plays the About box's sound. The box waits for the end of the sound, so the
// player only has to start it and say when it is over; tests put in a player
// that "plays" for a chosen time.
class SoundPlayer {
public:
    // Called once when the sound has ended (true) or turned out to be
    // unplayable after all (false).
    using Finished = std::function<void(bool played)>;

    virtual ~SoundPlayer() = default;

    // Starts playing the WAV file and returns at once; finished is called later
    // from the event loop. False when it cannot be played here at all (no
    // sound output, no such file): then finished is never called.
    virtual bool start(const QString& path, Finished finished) = 0;
    // Stops what is still playing; finished is not called after this.
    virtual void stop() = 0;
    // The desktop's alert sound, in place of a file that cannot be played.
    virtual void beep() = 0;
};

// The player of the program: Qt Multimedia's sound effect on the default
// sound output, and the window system's bell.
class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;

    // True when the machine has any sound output (there is none on a
    // headless machine or under the offscreen platform).
    static bool hasSoundOutput();

    bool start(const QString& path, Finished finished) override;
    void stop() override;
    void beep() override;

private:
    void finish(bool played);

    std::unique_ptr<QSoundEffect> m_effect;
    std::unique_ptr<QTemporaryFile> m_copy;
    Finished m_finished;
    bool m_started = false;
};

} // namespace vexlo::about
