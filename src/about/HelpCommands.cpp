// SPDX-License-Identifier: MIT
#include "about/HelpCommands.h"

#include "about/AboutBox.h"
#include "about/SoundPlayer.h"
#include "about/WavInfo.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <climits>

namespace vexlo::about {

namespace {

const QString kCaption = QStringLiteral("Vexlo32");

// Lets timers and paint events run for a while, but no key or mouse input: the
// program is as busy as it was while the sound blocked it.
void waitWithoutInput(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

int clampToInt(qint64 ms)
{
    return int(qBound(qint64(0), ms, qint64(INT_MAX)));
}

// Plays the file to its end; the alert sound when it cannot be played.
AboutSound playToEnd(SoundPlayer& player, const QString& path)
{
    QByteArray bytes;
    std::optional<WavInfo> wav;
    if (platform::isRegularFile(path) && platform::readFile(path, bytes))
        wav = parseWav(bytes);
    bytes.clear();

    if (wav) {
        QEventLoop loop;
        bool ended = false;
        bool played = false;
        const bool started = player.start(path, [&](bool ok) {
            ended = true;
            played = ok;
            loop.quit();
        });
        if (started) {
            QTimer safety;
            safety.setSingleShot(true);
            safety.setTimerType(Qt::PreciseTimer);
            QObject::connect(&safety, &QTimer::timeout, &loop, &QEventLoop::quit);
            safety.start(clampToInt(wav->durationMs + kSoundSafetyMarginMs));
            if (!ended)
                loop.exec(QEventLoop::ExcludeUserInputEvents);
            player.stop();
            if (!ended)
                return AboutSound::TimedOut;
            if (played)
                return AboutSound::Played;
        }
    }
    player.beep();
    waitWithoutInput(kFallbackShowMs);
    return AboutSound::Fallback;
}

} // namespace

QString helpFilePath()
{
    return platform::dataFilePath(QString::fromLatin1(kHelpFileName));
}

QString soundFilePath()
{
    return platform::dataFilePath(QString::fromLatin1(kSoundFileName));
}

LaunchResult openHelpText()
{
    const QString path = helpFilePath();
    if (!platform::isRegularFile(path))
        return LaunchResult::NoFile;
    platform::Launcher* launcher = platform::launcher();
    return launcher && launcher->openFile(path) ? LaunchResult::Started : LaunchResult::Failed;
}

LaunchResult openWebPage()
{
    platform::Launcher* launcher = platform::launcher();
    return launcher && launcher->openUrl(QString::fromLatin1(kWebPageAddress))
               ? LaunchResult::Started
               : LaunchResult::Failed;
}

AboutSound showAboutBox(SoundPlayer& player)
{
    // A new box each time; a click may delete it on its own.
    QPointer<AboutBox> box = new AboutBox;
    box->show();
    // Let the window system map the box, then draw it completely before the
    // wait begins.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (box)
        box->repaint();
    const AboutSound how = playToEnd(player, soundFilePath());
    delete box.data();
    return how;
}

HelpCommands::HelpCommands(QWidget* window)
    : m_window(window), m_player(std::make_unique<QtSoundPlayer>())
{
}

HelpCommands::~HelpCommands() = default;

void HelpCommands::setSoundPlayer(std::unique_ptr<SoundPlayer> player)
{
    m_player = std::move(player);
}

void HelpCommands::setReporter(Reporter reporter)
{
    m_reporter = std::move(reporter);
}

AboutSound HelpCommands::about()
{
    return showAboutBox(*m_player);
}

LaunchResult HelpCommands::contents()
{
    const LaunchResult result = openHelpText();
    if (result == LaunchResult::Failed)
        report(QCoreApplication::translate("HelpCommands",
                                           "The help text %1 could not be opened: no program "
                                           "for text files could be started.")
                   .arg(helpFilePath()));
    return result;
}

LaunchResult HelpCommands::email()
{
    const LaunchResult result = openWebPage();
    if (result == LaunchResult::Failed)
        report(QCoreApplication::translate("HelpCommands",
                                           "The web page %1 could not be opened: no web "
                                           "browser could be started.")
                   .arg(QString::fromLatin1(kWebPageAddress)));
    return result;
}

LaunchResult HelpCommands::web()
{
    return email();
}

void HelpCommands::report(const QString& message) const
{
    if (m_reporter)
        m_reporter(message);
    else
        QMessageBox::warning(m_window, kCaption, message);
}

} // namespace vexlo::about
