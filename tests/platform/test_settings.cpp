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
    QTemporaryDir m_home; // the user's home folder, with capitals to lose
    QByteArray m_savedHome;
    QString ini() const { return m_dir.filePath("Vexlo32.ini"); }
    QString home() const { return m_home.path() + "/Home"; }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_home.path()).mkpath("Home"));
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home()));
    }
    void cleanupTestCase() { qputenv("HOME", m_savedHome); }
    void init() { QFile::remove(ini()); }

    // A first start opens the home folder: a first Make list of the root
    // would walk the whole system.
    void noFileStartsInTheHomeFolder()
    {
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.folder, home());
        QCOMPARE(f.pathPanel, platform::lowerPath(home()));
        QCOMPARE(f.listFile, home() + "/Vexlo.txt");
        QCOMPARE(f.listPanel, platform::lowerPath(home()) + "/Vexlo.txt");
    }

    void withoutAHomeFolderTheRoot()
    {
        qputenv("HOME", QFile::encodeName(m_home.path() + "/gone"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        qputenv("HOME", QFile::encodeName(home()));
        QCOMPARE(f.folder, QString("/"));
        QCOMPARE(f.pathPanel, QString("/"));
        QCOMPARE(f.listFile, QString("/Vexlo.txt"));
    }

    void realFolderUsedAndShownLowerCased()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("Zips"));
        const QString written = m_dir.path() + "/Zips";
        QVERIFY(test::writeBytes(ini(), written.toUtf8() + "\r\nsecond line\r\n"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.folder, written);
        QCOMPARE(f.pathPanel, platform::lowerPath(written));
        QCOMPARE(f.listFile, written + "/Vexlo.txt");
        QCOMPARE(f.listPanel, platform::lowerPath(written) + "/Vexlo.txt");
    }

    // Sibling folders that differ only in case: a line this version wrote
    // names one of them exactly; a lower-cased line of an older version is
    // looked up, and found where only one spelling could be meant.
    void caseTwins_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("stored");   // below the fixture folder
        QTest::addColumn<bool>("olderLine");   // the whole line lower-cased
        QTest::addColumn<QString>("expected"); // below the fixture folder; empty: home
        QTest::newRow("real line, twins")
            << QStringList{"Docs", "docs"} << "Docs" << false << "Docs";
        QTest::newRow("real lower line, twins")
            << QStringList{"Docs", "docs"} << "docs" << false << "docs";
        QTest::newRow("older line, one spelling")
            << QStringList{"Docs"} << "Docs" << true << "Docs";
        QTest::newRow("older line, twins: the exact one")
            << QStringList{"Docs", "docs"} << "docs" << true << "docs";
        QTest::newRow("older line, two other spellings")
            << QStringList{"Docs", "DOCS"} << "docs" << true << "";
        QTest::newRow("real line, folder gone, twin left")
            << QStringList{"docs"} << "Docs" << false << "";
    }
    void caseTwins()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, stored);
        QFETCH(bool, olderLine);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("Twins"));
        const QString base = dir.path() + "/Twins";
        for (const QString& folder : folders)
            QVERIFY(QDir(base).mkpath(folder));
        QString line = base + "/" + stored;
        if (olderLine)
            line = platform::lowerPath(line);
        QVERIFY(test::writeBytes(ini(), platform::encodeName(line) + "\r\n"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.folder, expected.isEmpty() ? home() : base + "/" + expected);
        QCOMPARE(f.pathPanel, platform::lowerPath(f.folder));
    }

    // Every broken settings file starts in the home folder, without a message.
    void badFilesFallBackToHome_data()
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
    void badFilesFallBackToHome()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(test::writeBytes(ini(), bytes));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QCOMPARE(f.folder, home());
        QCOMPARE(f.pathPanel, platform::lowerPath(home()));
    }

    void pathToAFileFallsBackToHome()
    {
        const QString file = m_dir.filePath("plain.txt");
        QVERIFY(test::writeBytes(file, "x"));
        QVERIFY(test::writeBytes(ini(), file.toUtf8() + "\r\n"));
        QCOMPARE(startupFoldersFrom(readSettingsFile(ini())).folder, home());
    }

    void unreadableFolderFallsBackToHome()
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
        QCOMPARE(f.folder, home());
    }

    void aFolderThatIsAnIniFolderIsNoFile()
    {
        QVERIFY(QDir().mkpath(ini()));
        const SettingsRead read = readSettingsFile(ini());
        QVERIFY(!read.fileExists);
        QDir(ini()).removeRecursively();
    }

    // The real folder, letter case kept: lower-cased it could name either of
    // two twins.
    void writeIsOneLineWithCrLfInTheRealCase()
    {
        QVERIFY(writeSettingsFile(ini(), "/Home/User/ZIPS"));
        QCOMPARE(test::readBytes(ini()), QByteArray("/Home/User/ZIPS\r\n"));
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
        QCOMPARE(platform::encodeName(f.folder), raw);
        QVERIFY(writeSettingsFile(ini(), f.folder));
        QCOMPARE(test::readBytes(ini()), raw + "\r\n");
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
