// A second start of the real program hands over to the running one and ends.
#include "testsupport.h"

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

    void startWindow(QProcess& process, const QString& userFolders = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!userFolders.isEmpty()) {
            env.insert("XDG_CONFIG_HOME", userFolders + "/config");
            env.insert("XDG_CACHE_HOME", userFolders + "/cache");
            env.insert("XDG_RUNTIME_DIR", "");
        }
        env.insert("VEXLO32_INSTANCE_NAME", socketPath());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("VEXLO32_BINARY"), {});
        QVERIFY(process.waitForStarted(10000));
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
        const QString temporary = user.filePath("cache/vexlo32/file_id.diz");
        QVERIFY(vexlo::test::writeBytes(temporary, "left by Get diz"));
        QProcess window;
        startWindow(window, user.path());
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
};

QTEST_GUILESS_MAIN(TestHandover)
#include "test_handover.moc"
