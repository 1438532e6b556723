// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace vexlo::about {

class SoundPlayer;

// The web page of the program: both "&Email me..." and "&Web page" open it.
inline constexpr const char* kWebPageAddress = "https://vexlo32.example.org/";

inline constexpr const char* kHelpFileName = "Vexlo32.txt";
inline constexpr const char* kSoundFileName = "thunder.wav";

// How long the About box stays when its sound cannot be played and the alert
// sound plays instead: about as long as a desktop's alert lasts, and long
// enough to see the box.
inline constexpr int kFallbackShowMs = 500;
// How much longer than the sound's own length the box waits for the sound
// output to report the end (loading the file, a slow sound server).
inline constexpr int kSoundSafetyMarginMs = 1000;

// The two files that come with the program (platform::dataFilePath),
// asked afresh each time.
QString helpFilePath();
QString soundFilePath();

enum class LaunchResult {
    Started,
    NoFile, // the help text is not there: nothing to do, nothing to say
    Failed, // nothing could be started
};

// "&Contents": opens the help text with the desktop's program for text files,
// when the file is there.
LaunchResult openHelpText();
// "&Email me..." and "&Web page": open the web page in the browser.
LaunchResult openWebPage();

enum class AboutSound {
    Played,   // the box stayed while the sound played
    TimedOut, // the sound output never reported the end; the box stayed for the sound's length
    Fallback, // no playable sound: the alert sound, and the box for a short moment
};

// "&About": shows a new About box, plays the sound to its end while the box
// stays on screen, then destroys the box. Input is held back meanwhile (the
// windows are still repainted); what the user did is handled afterwards.
AboutSound showAboutBox(SoundPlayer& player);

// The four commands of the Help menu as the main window calls them from its
// menu items. A failure to start something is reported in a message box and
// never ends the program.
class HelpCommands {
public:
    using Reporter = std::function<void(const QString& message)>;

    // window: the owner of the message boxes.
    explicit HelpCommands(QWidget* window = nullptr);
    ~HelpCommands();
    HelpCommands(const HelpCommands&) = delete;
    HelpCommands& operator=(const HelpCommands&) = delete;

    void setSoundPlayer(std::unique_ptr<SoundPlayer> player);
    // Replaces the message box (tests).
    void setReporter(Reporter reporter);

    AboutSound about();
    LaunchResult contents();
    LaunchResult email();
    LaunchResult web();

private:
    void report(const QString& message) const;

    QWidget* m_window;
    std::unique_ptr<SoundPlayer> m_player;
    Reporter m_reporter;
};

} // namespace vexlo::about
