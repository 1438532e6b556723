// SPDX-License-Identifier: MIT
#include "Version.h"
#include "about/AboutBox.h"
#include "about/HelpCommands.h"
#include "about/ProgramIcon.h"
#include "about/SoundPlayer.h"
#include "about/WavInfo.h"
#include "platform/Launcher.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "shell/DesktopLauncher.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

using namespace vexlo;
using namespace vexlo::about;

namespace {

// A WAV file as a sound program writes it: RIFF header, "fmt " chunk, any
// extra chunks, then "data" (silence of the given number of frames).
QByteArray chunk(const QByteArray& id, const QByteArray& body, qint64 declaredSize = -1)
{
    QByteArray out = id;
    const quint32 size = declaredSize < 0 ? quint32(body.size()) : quint32(declaredSize);
    char le[4];
    qToLittleEndian(size, le);
    out.append(le, 4);
    out.append(body);
    if (body.size() % 2)
        out.append('\0');
    return out;
}

QByteArray fmtBody(int channels, int rate, int bits, qint64 byteRateOverride = -1)
{
    QByteArray body(16, '\0');
    const int blockAlign = channels * bits / 8;
    const quint32 byteRate =
        byteRateOverride < 0 ? quint32(rate * blockAlign) : quint32(byteRateOverride);
    qToLittleEndian<quint16>(1, body.data());
    qToLittleEndian<quint16>(quint16(channels), body.data() + 2);
    qToLittleEndian<quint32>(quint32(rate), body.data() + 4);
    qToLittleEndian<quint32>(byteRate, body.data() + 8);
    qToLittleEndian<quint16>(quint16(blockAlign), body.data() + 12);
    qToLittleEndian<quint16>(quint16(bits), body.data() + 14);
    return body;
}

QByteArray riff(const QByteArray& chunks)
{
    QByteArray out("RIFF");
    char le[4];
    qToLittleEndian(quint32(4 + chunks.size()), le);
    out.append(le, 4);
    out.append("WAVE");
    out.append(chunks);
    return out;
}

QByteArray makeWav(int ms, int rate = 22050, int channels = 1, int bits = 16)
{
    const qint64 frames = qint64(rate) * ms / 1000;
    const QByteArray data(frames * channels * bits / 8, '\0');
    return riff(chunk("fmt ", fmtBody(channels, rate, bits)) + chunk("data", data));
}

QList<QWidget*> aboutBoxes()
{
    QList<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("Form2"))
            found.append(w);
    return found;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Plays for a set time, or fails in a chosen way, and looks at the screen
// half way through.
class FakePlayer final : public SoundPlayer {
public:
    enum class Mode { Play, RefuseToStart, FailLater, NeverEnds };

    explicit FakePlayer(int playMs = 300, Mode mode = Mode::Play) : m_playMs(playMs), m_mode(mode)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            Finished finished = std::move(m_finished);
            m_finished = nullptr;
            if (finished)
                finished(m_mode == Mode::Play);
        });
    }

    bool start(const QString& path, Finished finished) override
    {
        ++starts;
        startedPath = path;
        if (m_mode == Mode::RefuseToStart)
            return false;
        m_finished = std::move(finished);
        // What is on screen while the sound plays.
        QTimer::singleShot(m_playMs / 2, [this] {
            const QList<QWidget*> boxes = aboutBoxes();
            boxesWhilePlaying = int(boxes.size());
            if (!boxes.isEmpty()) {
                boxSeen = boxes.first();
                boxVisibleWhilePlaying = boxes.first()->isVisible();
            }
        });
        if (m_mode != Mode::NeverEnds)
            m_timer.start(m_mode == Mode::FailLater ? 50 : m_playMs);
        return true;
    }
    void stop() override
    {
        ++stops;
        m_timer.stop();
        m_finished = nullptr;
    }
    void beep() override { ++beeps; }

    int starts = 0;
    int stops = 0;
    int beeps = 0;
    QString startedPath;
    int boxesWhilePlaying = -1;
    bool boxVisibleWhilePlaying = false;
    QPointer<QWidget> boxSeen;

private:
    int m_playMs;
    Mode m_mode;
    QTimer m_timer;
    Finished m_finished;
};

class FakeLauncher final : public platform::Launcher {
public:
    bool openFile(const QString& path) override
    {
        files.append(path);
        return succeed;
    }
    bool openUrl(const QString& url) override
    {
        urls.append(url);
        return succeed;
    }
    bool succeed = true;
    QStringList files;
    QStringList urls;
};

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FakeLauncher m_launcher;

    QString folder() const { return m_dir.path(); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        platform::setProgramFolderOverride(folder());
        m_launcher = FakeLauncher();
        platform::setLauncher(&m_launcher);
    }
    void cleanup()
    {
        platform::setLauncher(nullptr);
        platform::setProgramFolderOverride(QString());
        QFile::remove(folder() + "/thunder.wav");
        QFile::remove(folder() + "/Vexlo32.txt");
        QDir(folder()).rmdir("Vexlo32.txt");
        for (QWidget* w : aboutBoxes())
            delete w;
    }

    // --- WAV headers -------------------------------------------------------

    void wavDuration_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");

        QTest::newRow("two seconds, 22050 Hz mono 16-bit")
            << makeWav(2000) << qint64(2000) << 22050 << 1;
        QTest::newRow("quarter second, 44100 Hz stereo")
            << makeWav(250, 44100, 2) << qint64(250) << 44100 << 2;
        QTest::newRow("8-bit 8000 Hz") << makeWav(500, 8000, 1, 8) << qint64(500) << 8000 << 1;

        const QByteArray fmt = chunk("fmt ", fmtBody(1, 22050, 16));
        const QByteArray data = chunk("data", QByteArray(22050, '\0')); // 0.5 s
        QTest::newRow("odd-sized chunk before the data")
            << riff(fmt + chunk("LIST", "INFOx") + data) << qint64(500) << 22050 << 1;
        QTest::newRow("format after the data") << riff(data + fmt) << qint64(500) << 22050 << 1;
        QTest::newRow("data size left open while streaming")
            << riff(fmt + chunk("data", QByteArray(11025, '\0'), 0xffffffffLL)) << qint64(250)
            << 22050 << 1;
        QTest::newRow("average rate missing")
            << riff(chunk("fmt ", fmtBody(1, 22050, 16, 0)) + data) << qint64(500) << 22050 << 1;
        QTest::newRow("no sound data")
            << riff(fmt + chunk("data", QByteArray())) << qint64(0) << 22050 << 1;
    }
    void wavDuration()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, ms);
        QFETCH(int, rate);
        QFETCH(int, channels);
        const std::optional<WavInfo> info = parseWav(file);
        QVERIFY(info.has_value());
        QCOMPARE(info->durationMs, ms);
        QCOMPARE(info->sampleRate, rate);
        QCOMPARE(info->channels, channels);
    }

    void wavRejected_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray fmt = chunk("fmt ", fmtBody(1, 22050, 16));
        const QByteArray data = chunk("data", QByteArray(100, '\0'));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("this is not a sound at all");
        QTest::newRow("not WAVE") << QByteArray("RIFF\x10\0\0\0AVI ", 12) + fmt + data;
        QTest::newRow("no format") << riff(data);
        QTest::newRow("no data") << riff(fmt);
        QTest::newRow("format too short") << riff(chunk("fmt ", QByteArray(8, '\0')) + data);
        QTest::newRow("no rate at all") << riff(chunk("fmt ", fmtBody(1, 0, 16, 0)) + data);
        QTest::newRow("header cut short") << makeWav(100).left(30);
    }
    void wavRejected()
    {
        QFETCH(QByteArray, file);
        QVERIFY(!parseWav(file).has_value());
    }

    void shippedSoundIsAboutTwoSeconds()
    {
        const QByteArray file =
            test::readBytes(QStringLiteral(VEXLO32_SOURCE_DIR "/resources/thunder.wav"));
        const std::optional<WavInfo> info = parseWav(file);
        QVERIFY(info.has_value());
        QCOMPARE(info->sampleRate, 22050);
        QCOMPARE(info->channels, 1);
        QCOMPARE(info->bitsPerSample, 16);
        QVERIFY2(info->durationMs >= 1500 && info->durationMs <= 2500,
                 qPrintable(QString::number(info->durationMs)));
    }

    void shippedHelpTextUsesCrLf()
    {
        const QByteArray text =
            test::readBytes(QStringLiteral(VEXLO32_BUILD_DIR "/generated/Vexlo32.txt"));
        QVERIFY(text.size() > 1000);
        // The same version as the About box and --version.
        QVERIFY(text.startsWith(QByteArray("Vexlo32 ") + kVersionText + " - "));
        QCOMPARE(text.count("\r\n"), text.count('\n'));
        for (const char* word :
             {"--make-list", "--get-diz", "--save-diz", "Multi-line", "Long filename format",
              "** CRC Error **", "Vexlo32.ini", "shrunk, reduced or imploded"})
            QVERIFY2(text.contains(word), word);
    }

    // --- The About box itself ---------------------------------------------

    void boxWindow()
    {
        AboutBox box;
        QCOMPARE(box.objectName(), QString("Form2"));
        QVERIFY(box.isWindow());
        QVERIFY(box.parentWidget() == nullptr);
        QVERIFY(box.windowTitle().isEmpty());
        QVERIFY(!(box.windowFlags() & Qt::WindowTitleHint));
        QVERIFY(box.windowFlags() & Qt::CustomizeWindowHint);
        const double s = box.scale();
        const QSize client(qRound(453 * s), qRound(372 * s));
        QCOMPARE(box.size(), client);
        QCOMPARE(box.minimumSize(), client);
        QCOMPARE(box.maximumSize(), client);

        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QPoint middle = box.screen()->availableGeometry().center();
        QVERIFY(qAbs(box.frameGeometry().center().x() - middle.x()) <= 1);
        QVERIFY(qAbs(box.frameGeometry().center().y() - middle.y()) <= 1);
    }

    // The box's labels and picture are placed from their twips, lie inside
    // the box without overlapping, and keep their proportions at twice the
    // density.
    void placesFollowTheTwips()
    {
        AboutBox box;
        const double s = box.scale();
        const std::pair<const char*, TwipsRect> places[] = {
            {"Label1", kLabel1Twips}, {"Label2", kLabel2Twips}, {"Image1", kImage1Twips}};
        QList<QRect> seen;
        for (const auto& [name, twips] : places) {
            auto* child = box.findChild<QWidget*>(name);
            QVERIFY2(child, name);
            QCOMPARE(child->geometry(), twipsToPixels(twips, s));
            QVERIFY2(box.rect().contains(child->geometry()), name);
            for (const QRect& other : seen)
                QVERIFY2(!other.intersects(child->geometry()), name);
            seen << child->geometry();
            const QRect once = twipsToPixels(twips, 1.0);
            QCOMPARE(twipsToPixels(twips, 2.0), QRect(once.topLeft() * 2, once.size() * 2));
        }
    }

    void labelsAndPicture()
    {
        AboutBox box;
        auto* title = box.findChild<QLabel*>("Label1");
        auto* version = box.findChild<QLabel*>("Label2");
        auto* image = box.findChild<QLabel*>("Image1");
        QVERIFY(title && version && image);

        QCOMPARE(title->text(), QString("Vexlo32"));
        QCOMPARE(title->palette().color(QPalette::WindowText), QColor(255, 255, 128));
        QVERIFY(!title->autoFillBackground());
        QCOMPARE(title->font().families().value(0), QString("Chaucer"));
        QVERIFY(title->font().families().size() > 1); // substitutes where it is missing
        QCOMPARE(title->font().weight(), QFont::Normal);
        QVERIFY(title->font().pointSizeF() <= kTitlePointSize);
        QVERIFY(QFontMetrics(title->font()).horizontalAdvance(title->text()) <= title->width() ||
                title->font().pointSizeF() <= 12.0);

        QCOMPARE(version->text(), QString::fromLatin1(kVersionText));
        QCOMPARE(version->palette().color(QPalette::WindowText), QColor(Qt::white));
        QVERIFY(!version->autoFillBackground());
        QCOMPARE(version->font(), QFont());

        const QPixmap picture = image->pixmap();
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.deviceIndependentSize().toSize(),
                 QSize(qRound(32 * box.scale()), qRound(32 * box.scale())));
    }

    void embeddedPictures()
    {
        const QImage background(":/about/background.png");
        QCOMPARE(background.size(), QSize(501, 389));
        QVERIFY(background.colorCount() > 0 && background.colorCount() <= 256);

        const QImage small(":/about/image1.png");
        QCOMPARE(small.size(), QSize(32, 32));
        QVERIFY(small.colorCount() > 0 && small.colorCount() <= 16);

        QCOMPARE(QImage(":/icons/vexlo32.png").size(), QSize(256, 256));
        const QIcon icon = programIcon();
        for (int size : {16, 32, 48, 64, 128, 256})
            QVERIFY2(icon.availableSizes().contains(QSize(size, size)),
                     qPrintable(QString::number(size)));
    }

    void boxIsDrawnFromThePicture()
    {
        AboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QImage shot = box.grab().toImage();
        const QImage picture(":/about/background.png");
        // A spot of open sky, away from the labels and the edge.
        const QPoint spot(250, 150);
        const QColor seen = shot.pixelColor(spot * shot.devicePixelRatio() * 1.0);
        const QColor drawn =
            picture.pixelColor(qRound(spot.x() / box.scale()), qRound(spot.y() / box.scale()));
        if (qFuzzyCompare(box.scale(), 1.0))
            QCOMPARE(seen.rgb(), drawn.rgb());
        QVERIFY(seen != QColor(Qt::black));
    }

    void clickCloses_data()
    {
        QTest::addColumn<QString>("target"); // empty: the background
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("closes");
        QTest::newRow("background") << QString() << int(Qt::LeftButton) << true;
        QTest::newRow("Label1") << "Label1" << int(Qt::LeftButton) << true;
        QTest::newRow("Label2") << "Label2" << int(Qt::LeftButton) << true;
        QTest::newRow("Image1") << "Image1" << int(Qt::LeftButton) << false;
        QTest::newRow("background, right button") << QString() << int(Qt::RightButton) << false;
        QTest::newRow("Label1, right button") << "Label1" << int(Qt::RightButton) << false;
    }
    void clickCloses()
    {
        QFETCH(QString, target);
        QFETCH(int, button);
        QFETCH(bool, closes);

        QPointer<AboutBox> box = new AboutBox;
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QSignalSpy closed(box.data(), &AboutBox::closedByClick);
        QWidget* on = target.isEmpty() ? box.data() : box->findChild<QWidget*>(target);
        QVERIFY(on);
        // The background away from the labels and the small picture.
        const QPoint where = target.isEmpty() ? QPoint(300, 250) : on->rect().center();
        QTest::mouseClick(on, Qt::MouseButton(button), {}, where);
        flushDeletes();
        QCOMPARE(box.isNull(), closes);
        QCOMPARE(closed.count(), closes ? 1 : 0);
        delete box.data();
    }

    void pressAndReleaseOnDifferentElementsIsNoClick()
    {
        QPointer<AboutBox> box = new AboutBox;
        box->show();
        auto* title = box->findChild<QWidget*>("Label1");
        auto* version = box->findChild<QWidget*>("Label2");
        QTest::mousePress(title, Qt::LeftButton, {}, title->rect().center());
        QTest::mouseRelease(version, Qt::LeftButton, {}, version->rect().center());
        flushDeletes();
        QVERIFY(!box.isNull());
        delete box.data();
    }

    // --- "&About" ------------------------------------------------------------

    void aboutLastsAsLongAsTheSound()
    {
        QVERIFY(test::writeBytes(folder() + "/thunder.wav", makeWav(300)));
        FakePlayer player(300);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(showAboutBox(player), AboutSound::Played);
        const qint64 took = clock.elapsed();

        QCOMPARE(player.starts, 1);
        QCOMPARE(player.startedPath, platform::joinPath(folder(), "thunder.wav"));
        QCOMPARE(player.boxesWhilePlaying, 1);
        QVERIFY(player.boxVisibleWhilePlaying);
        QCOMPARE(player.beeps, 0);
        QVERIFY2(took >= 300 && took < 300 + kSoundSafetyMarginMs,
                 qPrintable(QString::number(took)));
        // Gone at once, not waiting for the event loop.
        QVERIFY(player.boxSeen.isNull());
        QVERIFY(aboutBoxes().isEmpty());
    }

    void secondAboutShowsAFreshBox()
    {
        QVERIFY(test::writeBytes(folder() + "/thunder.wav", makeWav(200)));
        HelpCommands help;
        auto owned = std::make_unique<FakePlayer>(200);
        FakePlayer* player = owned.get();
        help.setSoundPlayer(std::move(owned));

        QCOMPARE(help.about(), AboutSound::Played);
        const QPointer<QWidget> first = player->boxSeen;
        QVERIFY(first.isNull()); // destroyed, not hidden
        player->boxSeen = nullptr;
        player->boxesWhilePlaying = -1;

        QCOMPARE(help.about(), AboutSound::Played);
        QCOMPARE(player->starts, 2);
        // The first box no longer exists, so the one seen now is a new object.
        QCOMPARE(player->boxesWhilePlaying, 1);
        QVERIFY(player->boxVisibleWhilePlaying);
        QVERIFY(aboutBoxes().isEmpty());
    }

    void aboutWithoutSoundFile()
    {
        FakePlayer player(300);
        int boxesSeen = -1;
        QTimer::singleShot(kFallbackShowMs / 2, [&] { boxesSeen = int(aboutBoxes().size()); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(showAboutBox(player), AboutSound::Fallback);
        const qint64 took = clock.elapsed();
        QCOMPARE(player.starts, 0);
        QCOMPARE(player.beeps, 1);
        QCOMPARE(boxesSeen, 1);
        QVERIFY2(took >= kFallbackShowMs, qPrintable(QString::number(took)));
        QVERIFY(aboutBoxes().isEmpty());
    }

    void aboutWithUnplayableSound_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("mode");
        QTest::newRow("no sound output") << makeWav(300) << int(FakePlayer::Mode::RefuseToStart);
        QTest::newRow("output gives up") << makeWav(300) << int(FakePlayer::Mode::FailLater);
        QTest::newRow("not a sound file") << QByteArray("RIFF junk") << int(FakePlayer::Mode::Play);
    }
    void aboutWithUnplayableSound()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, mode);
        QVERIFY(test::writeBytes(folder() + "/thunder.wav", file));
        FakePlayer player(300, FakePlayer::Mode(mode));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(showAboutBox(player), AboutSound::Fallback);
        QCOMPARE(player.beeps, 1);
        QVERIFY(clock.elapsed() >= kFallbackShowMs);
        QVERIFY(aboutBoxes().isEmpty());
    }

    void aboutGivesUpWhenTheEndIsNeverReported()
    {
        QVERIFY(test::writeBytes(folder() + "/thunder.wav", makeWav(200)));
        FakePlayer player(200, FakePlayer::Mode::NeverEnds);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(showAboutBox(player), AboutSound::TimedOut);
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= 200 + kSoundSafetyMarginMs && took < 200 + kSoundSafetyMarginMs + 2000,
                 qPrintable(QString::number(took)));
        QCOMPARE(player.stops, 1);
        QCOMPARE(player.beeps, 0);
        QVERIFY(aboutBoxes().isEmpty());
    }

    void programPlayerWithoutSoundOutput()
    {
        if (QtSoundPlayer::hasSoundOutput())
            QSKIP("this machine has a sound output");
        QVERIFY(test::writeBytes(folder() + "/thunder.wav", makeWav(200)));
        QtSoundPlayer player;
        bool called = false;
        QVERIFY(!player.start(folder() + "/thunder.wav", [&](bool) { called = true; }));
        QTest::qWait(50);
        QVERIFY(!called);

        // And "&About" with it still shows and removes the box.
        HelpCommands help;
        QCOMPARE(help.about(), AboutSound::Fallback);
        QVERIFY(aboutBoxes().isEmpty());
    }

    // --- "&Contents" ---------------------------------------------------------

    void contentsOpensTheHelpText()
    {
        QVERIFY(test::writeBytes(folder() + "/Vexlo32.txt", "help\r\n"));
        HelpCommands help;
        QStringList reports;
        help.setReporter([&](const QString& m) { reports << m; });
        QCOMPARE(help.contents(), LaunchResult::Started);
        QCOMPARE(m_launcher.files, QStringList{platform::joinPath(folder(), "Vexlo32.txt")});
        QVERIFY(m_launcher.urls.isEmpty());
        QVERIFY(reports.isEmpty());
    }

    void contentsWithoutTheHelpText_data()
    {
        QTest::addColumn<bool>("folderOfThatName");
        QTest::newRow("nothing there") << false;
        QTest::newRow("a folder, not a file") << true;
    }
    void contentsWithoutTheHelpText()
    {
        QFETCH(bool, folderOfThatName);
        if (folderOfThatName)
            QVERIFY(QDir(folder()).mkdir("Vexlo32.txt"));
        HelpCommands help;
        QStringList reports;
        help.setReporter([&](const QString& m) { reports << m; });
        QCOMPARE(help.contents(), LaunchResult::NoFile);
        QVERIFY(m_launcher.files.isEmpty());
        QVERIFY(reports.isEmpty()); // silently
    }

    void contentsReportsAFailure()
    {
        QVERIFY(test::writeBytes(folder() + "/Vexlo32.txt", "help\r\n"));
        m_launcher.succeed = false;
        HelpCommands help;
        QStringList reports;
        help.setReporter([&](const QString& m) { reports << m; });
        QCOMPARE(help.contents(), LaunchResult::Failed);
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports.first().contains(platform::joinPath(folder(), "Vexlo32.txt")));

        // Without any launcher at all: reported as well, and nothing breaks.
        platform::setLauncher(nullptr);
        QCOMPARE(help.contents(), LaunchResult::Failed);
        QCOMPARE(reports.size(), 2);
    }

    // --- "&Email me..." and "&Web page" --------------------------------------

    void bothWebCommandsOpenTheSameAddress()
    {
        HelpCommands help;
        QStringList reports;
        help.setReporter([&](const QString& m) { reports << m; });
        QCOMPARE(help.email(), LaunchResult::Started);
        QCOMPARE(help.web(), LaunchResult::Started);
        QCOMPARE(m_launcher.urls.size(), 2);
        QCOMPARE(m_launcher.urls.at(0), m_launcher.urls.at(1));
        QCOMPARE(m_launcher.urls.at(0), QString::fromLatin1(kWebPageAddress));
        QVERIFY(QUrl(m_launcher.urls.at(0), QUrl::StrictMode).isValid());
        QVERIFY(m_launcher.files.isEmpty());
        QVERIFY(reports.isEmpty());
    }

    void webFailureIsReported()
    {
        m_launcher.succeed = false;
        HelpCommands help;
        QStringList reports;
        help.setReporter([&](const QString& m) { reports << m; });
        QCOMPARE(help.email(), LaunchResult::Failed);
        QCOMPARE(help.web(), LaunchResult::Failed);
        QCOMPARE(reports.size(), 2);
        QVERIFY(reports.first().contains(QString::fromLatin1(kWebPageAddress)));
    }

    // --- The desktop launcher --------------------------------------------------

    void fileUrlKeepsNameBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << QByteArray("Vexlo32.txt");
        QTest::newRow("space and hash") << QByteArray("my list #1.txt");
        QTest::newRow("utf8") << QByteArray("caf\xc3\xa9.txt");
        QTest::newRow("latin1 byte") << QByteArray("caf\xe9.txt");
    }
    void fileUrlKeepsNameBytes()
    {
        QFETCH(QByteArray, name);
        const QString path = platform::joinPath(folder(), platform::decodeName(name));
        const QUrl url = DesktopLauncher::fileUrl(path);
        QVERIFY(url.isValid());
        QCOMPARE(url.scheme(), QString("file"));
        QCOMPARE(QUrl::fromPercentEncoding(url.toEncoded(QUrl::FullyEncoded)).isEmpty(), false);
        // The encoded path, decoded byte-wise, gives the name's bytes back.
        const QByteArray encodedPath = url.path(QUrl::FullyEncoded).toLatin1();
        QCOMPARE(QByteArray::fromPercentEncoding(encodedPath), platform::encodeName(path));
    }

    // The window holds the real path of the list: it is opened as given,
    // never as a file that differs from it only in case.
    void fileUrlTakesThePathAsGiven()
    {
        QVERIFY(test::writeBytes(folder() + "/LIST.TXT", "x"));
        QCOMPARE(DesktopLauncher::fileUrl(folder() + "/list.txt").toLocalFile(),
                 folder() + "/list.txt");
        QCOMPARE(DesktopLauncher::fileUrl(folder() + "/LIST.TXT").toLocalFile(),
                 folder() + "/LIST.TXT");
        QFile::remove(folder() + "/LIST.TXT");
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
