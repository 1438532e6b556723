// SPDX-License-Identifier: MIT
// A second start of the real program hands over to the running one and ends.
#include "platform/Paths.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

class TestHandover : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString socketPath() const { return m_dir.filePath("instance.sock"); }

    // env: "NAME=value" sets a variable, a bare "NAME" removes it.
    void startWindow(QProcess& process, const QStringList& args = {},
                     const QStringList& env = {"QT_QPA_PLATFORM=offscreen"})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VEXLO32_INSTANCE_NAME", socketPath());
        // The window says which folder it opens.
        environment.insert("QT_LOGGING_RULES", "vexlo32.window.info=true");
        for (const QString& pair : env) {
            if (pair.contains('='))
                environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
            else
                environment.remove(pair);
        }
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("VEXLO32_BINARY"), args);
        QVERIFY(process.waitForStarted(10000));
    }

    // Waits until the window's log has said it opened the folder.
    static bool waitForOpened(QProcess& window, QByteArray& log, const QString& folder)
    {
        const QByteArray line = "opening the folder " + QFile::encodeName(folder) + "\n";
        return waitFor(
            [&] {
                log += window.readAllStandardError();
                return log.contains(line);
            },
            15000);
    }

    static void endWindow(QProcess& window)
    {
        window.terminate();
        if (!window.waitForFinished(5000)) {
            window.kill();
            window.waitForFinished(5000);
        }
    }

    static bool waitFor(const std::function<bool()>& condition, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > ms)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

private slots:
    void secondStartHandsOverAndEnds()
    {
        QProcess first;
        startWindow(first);
        QVERIFY2(waitFor([&] { return QFileInfo::exists(socketPath()); }, 15000),
                 "the first start never began serving");

        QProcess second;
        startWindow(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        // A crashed first instance leaves its socket behind; the next start
        // clears it and runs as the first.
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(5000));
        QProcess third;
        startWindow(third);
        QVERIFY2(!third.waitForFinished(2500), "the start after a crash ended instead of running");
        QCOMPARE(third.state(), QProcess::Running);

        QProcess fourth;
        startWindow(fourth);
        QVERIFY(fourth.waitForFinished(10000));
        QCOMPARE(fourth.exitCode(), 0);

        third.terminate();
        QVERIFY(third.waitForFinished(5000));
    }

    // A logout, a closed terminal, kill and Ctrl-C end the program as
    // closing its window does: the folder is remembered, the temporary
    // description goes, and the exit is a normal one.
    void signalsEndTheProgramAsClosingDoes_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalsEndTheProgramAsClosingDoes()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir user;
        const QString settings = user.filePath("config/Vexlo32/Vexlo32.ini");
        // The window's display is this process's: its folder has the same key.
        const QString temporary =
            user.filePath("cache/vexlo32/" + vexlo::platform::displayKey() + "/file_id.diz");
        QVERIFY(vexlo::test::writeBytes(temporary, "left by Get diz"));
        QProcess window;
        startWindow(window, {},
                    {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + user.filePath("config"),
                     "XDG_CACHE_HOME=" + user.filePath("cache"), "XDG_RUNTIME_DIR"});
        QVERIFY2(waitFor([&] { return QFileInfo::exists(socketPath()); }, 15000),
                 "the window never started");
        QVERIFY(!QFileInfo::exists(settings));
        ::kill(pid_t(window.processId()), signalNumber);
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
        QVERIFY(QFileInfo(settings).isFile());
        QVERIFY(!QFileInfo::exists(temporary));
    }

    // vexlo32 FOLDER opens the window there; a second start with another
    // folder hands it over, and the running window switches to it.
    void folderArgumentOpensAndIsHandedOver()
    {
        QTemporaryDir folders;
        const QString first = folders.path() + "/Games One";
        const QString second = folders.path() + "/Mixed Case";
        QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
        QProcess window;
        startWindow(window, {first});
        QByteArray log;
        QVERIFY2(waitForOpened(window, log, first), log.constData());

        // Typed relative: handed over absolute.
        QProcess secondStart;
        secondStart.setWorkingDirectory(folders.path());
        startWindow(secondStart, {"Mixed Case/."});
        QVERIFY(secondStart.waitForFinished(10000));
        QCOMPARE(secondStart.exitCode(), 0);
        QVERIFY2(waitForOpened(window, log, second), log.constData());
        QCOMPARE(window.state(), QProcess::Running);
        endWindow(window);
    }

    // The toolkit's own options go to the window: with no display in the
    // environment, only a -platform that reached the toolkit lets it start.
    void toolkitOptionsReachTheWindow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("-platform") << QStringList{"-platform", "offscreen"};
        QTest::newRow("--platform") << QStringList{"--platform", "offscreen"};
        QTest::newRow("with -style, -reverse and a geometry")
            << QStringList{"-style",    "Fusion",           "-reverse",   "-platform",
                           "offscreen", "-qwindowgeometry", "400x300+0+0"};
        QTest::newRow("-style=") << QStringList{"-style=Fusion", "-platform", "offscreen"};
    }
    void toolkitOptionsReachTheWindow()
    {
        QFETCH(QStringList, options);
        QTemporaryDir folder;
        QProcess window;
        startWindow(window, options + QStringList{folder.path()},
                    {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"});
        QByteArray log;
        const bool opened = waitForOpened(window, log, folder.path());
        log += window.readAllStandardError();
        QVERIFY2(opened, log.constData());
        QVERIFY(!log.contains("cannot open the display"));
        endWindow(window);
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "test_handover.moc"
