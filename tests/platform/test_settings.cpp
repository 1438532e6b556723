#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/Settings.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;

class TestSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString ini() const { return m_dir.filePath("Vexlo32.ini"); }

private slots:
    void init() { QFile::remove(ini()); }

    void noFileStartsOnRoot()
    {
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.pathPanel, QString("/"));
        QCOMPARE(f.paneFolder, QString("/"));
        QCOMPARE(f.listFile, QString("/Vexlo.txt"));
    }

    void folderAsWrittenShownLowerUsed()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("Zips"));
        const QString written = m_dir.path() + "/Zips";
        QVERIFY(test::writeBytes(ini(), written.toUtf8() + "\r\nsecond line\r\n"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.pathPanel, written);
        QCOMPARE(f.paneFolder, platform::lowerPath(written));
        QCOMPARE(f.listFile, written + "/Vexlo.txt");
    }

    // Every broken settings file starts on the root, without a message.
    void badFilesFallBackToRoot_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("zero bytes") << QByteArray();
        QTest::newRow("empty first line") << QByteArray("\r\n/tmp\r\n");
        QTest::newRow("removed folder") << QByteArray("/no/such/folder/anywhere\r\n");
        QTest::newRow("garbage") << QByteArray("\x01\x02\xff\xfe garbage \x80\r\n");
        QTest::newRow("nul bytes") << QByteArray("\0\0\0\0", 4);
        QTest::newRow("relative text") << QByteArray("zips\\old\r\n");
        QTest::newRow("only LF") << QByteArray("\n");
    }
    void badFilesFallBackToRoot()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(test::writeBytes(ini(), bytes));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.paneFolder, QString("/"));
        QCOMPARE(f.pathPanel, QString("/"));
    }

    void pathToAFileFallsBackToRoot()
    {
        const QString file = m_dir.filePath("plain.txt");
        QVERIFY(test::writeBytes(file, "x"));
        QVERIFY(test::writeBytes(ini(), file.toUtf8() + "\r\n"));
        QCOMPARE(startupFoldersFrom(readSettingsFile(ini())).paneFolder, QString("/"));
    }

    void unreadableFolderFallsBackToRoot()
    {
        if (::geteuid() == 0)
            QSKIP("permissions do not stop root from reading a folder");
        const QString locked = m_dir.filePath("locked");
        QVERIFY(QDir().mkpath(locked));
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        QVERIFY(test::writeBytes(ini(), locked.toUtf8() + "\r\n"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QCOMPARE(f.paneFolder, QString("/"));
    }

    void aFolderThatIsAnIniFolderIsNoFile()
    {
        QVERIFY(QDir().mkpath(ini()));
        const SettingsRead read = readSettingsFile(ini());
        QVERIFY(!read.fileExists);
        QDir(ini()).removeRecursively();
    }

    void writeIsOneLowerCaseLineWithCrLf()
    {
        QVERIFY(writeSettingsFile(ini(), "/Home/User/ZIPS"));
        QCOMPARE(test::readBytes(ini()), QByteArray("/home/user/zips\r\n"));
        // Rewritten whole: a longer earlier file leaves nothing behind.
        QVERIFY(test::writeBytes(ini(), "/a/very/long/earlier/line\r\nmore\r\n"));
        QVERIFY(writeSettingsFile(ini(), "/"));
        QCOMPARE(test::readBytes(ini()), QByteArray("/\r\n"));
    }

    // A write that fails is passed over by its callers; it leaves a line
    // for whoever asks for the program's info messages, and none otherwise.
    void failedWriteLeavesATraceWhenAskedFor()
    {
        const QString into = m_dir.filePath("no-such-folder/Vexlo32.ini");
        QVERIFY(!lcPlatform().isInfoEnabled()); // quiet by default
        QVERIFY(!writeSettingsFile(into, "/"));
        QLoggingCategory::setFilterRules(QStringLiteral("vexlo32.*.info=true"));
        QTest::ignoreMessage(QtInfoMsg,
                             QRegularExpression("settings not written:.*no-such-folder"));
        QVERIFY(!writeSettingsFile(into, "/"));
        QLoggingCategory::setFilterRules(QString());
    }

    void undecodableBytesSurviveTheRoundTrip()
    {
        const QByteArray raw = QFile::encodeName(m_dir.path()) + "/caf\xe9";
        QVERIFY(::mkdir(raw.constData(), 0755) == 0);
        QVERIFY(test::writeBytes(ini(), raw + "\r\n"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QVERIFY(f.paneFolder != "/");
        QVERIFY(writeSettingsFile(ini(), f.paneFolder));
        QCOMPARE(test::readBytes(ini()),
                 platform::encodeName(platform::lowerPath(platform::decodeName(raw))) + "\r\n");
        ::rmdir(raw.constData());
    }

    void defaultListFileJoinsOnce()
    {
        QCOMPARE(defaultListFile("/"), QString("/Vexlo.txt"));
        QCOMPARE(defaultListFile("/zips"), QString("/zips/Vexlo.txt"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
