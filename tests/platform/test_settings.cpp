// SPDX-License-Identifier: MIT
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

namespace {

// The permission bits of a path, or -1 when it is not there.
int modeOf(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace

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

    // A folder whose real path has no capitals at all is stored by this
    // version exactly as it is, and reads like an older lower-cased line.
    // Once it is gone, its case twin is another folder and must not be
    // opened in its place.
    void goneLowerCaseFolderIsNotTakenForItsTwin()
    {
        const QString base =
            QDir::tempPath().toLower() + "/vexlo32-twins-" + QString::number(::getpid());
        QVERIFY(base == platform::lowerPath(base));
        QVERIFY(QDir().mkpath(base + "/Docs"));
        QVERIFY(QDir().mkpath(base + "/docs"));
        QVERIFY(writeSettingsFile(ini(), base + "/docs"));
        QVERIFY(QDir().rmdir(base + "/docs"));
        const StartupFolders f = startupFoldersFrom(readSettingsFile(ini()));
        QDir(base).removeRecursively();
        QCOMPARE(f.folder, home());
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
        QCOMPARE(test::readBytes(ini()), QByteArray("/Home/User/ZIPS\r\nAllKinds=0\r\n"));
        // Rewritten whole: a longer earlier file leaves nothing behind.
        QVERIFY(test::writeBytes(ini(), "/a/very/long/earlier/line\r\nmore\r\n"));
        QVERIFY(writeSettingsFile(ini(), "/"));
        QCOMPARE(test::readBytes(ini()), QByteArray("/\r\nAllKinds=0\r\n"));
    }

    // "All archive kinds" is a second line, written only when on, so that
    // with it off the file is byte for byte what it always was; older files
    // (one line) read as off, and the first line reads as ever.
    void allKindsLine_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<bool>("allKinds");
        QTest::newRow("older file") << QByteArray("/zips\r\n") << "/zips" << false;
        QTest::newRow("on") << QByteArray("/zips\r\nAllKinds=1\r\n") << "/zips" << true;
        QTest::newRow("on, no last line end")
            << QByteArray("/zips\r\nAllKinds=1") << "/zips" << true;
        QTest::newRow("on after LF") << QByteArray("/zips\nAllKinds=1\n") << "/zips" << true;
        QTest::newRow("off") << QByteArray("/zips\r\nAllKinds=0\r\n") << "/zips" << false;
        QTest::newRow("something else")
            << QByteArray("/zips\r\nAllKinds=1x\r\n") << "/zips" << false;
        QTest::newRow("third line")
            << QByteArray("/zips\r\n\r\nAllKinds=1\r\n") << "/zips" << false;
        QTest::newRow("no first line end") << QByteArray("/zips") << "/zips" << false;
    }
    void allKindsLine()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, firstLine);
        QFETCH(bool, allKinds);
        QVERIFY(test::writeBytes(ini(), file));
        const SettingsRead read = readSettingsFile(ini());
        QVERIFY(read.readOk);
        QCOMPARE(read.firstLine, firstLine);
        QCOMPARE(read.allKinds, allKinds);
    }
    void allKindsIsWrittenEitherWay()
    {
        QVERIFY(writeSettingsFile(ini(), "/Zips", true));
        QCOMPARE(test::readBytes(ini()), QByteArray("/Zips\r\nAllKinds=1\r\n"));
        QVERIFY(readSettingsFile(ini()).allKinds);
        QVERIFY(writeSettingsFile(ini(), "/Zips", false));
        QCOMPARE(test::readBytes(ini()), QByteArray("/Zips\r\nAllKinds=0\r\n"));
        QVERIFY(!readSettingsFile(ini()).allKinds);
        QVERIFY(readSettingsFile(ini()).realCase);
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
        QCOMPARE(test::readBytes(ini()), raw + "\r\nAllKinds=0\r\n");
        ::rmdir(raw.constData());
    }

    void defaultListFileJoinsOnce()
    {
        QCOMPARE(defaultListFile("/"), QString("/Vexlo.txt"));
        QCOMPARE(defaultListFile("/zips"), QString("/zips/Vexlo.txt"));
    }

    // --- Where the files go ------------------------------------------------

    // The settings file goes to the configuration folder, whose missing
    // parts are created for this user alone; never beside the program.
    void settingsFileIsInTheConfigurationFolder()
    {
        QTemporaryDir home;
        const QString config = home.filePath("config");
        const test::ScopedEnv env("XDG_CONFIG_HOME", config);
        const QString appName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName("Vexlo32");
        platform::setProgramFolderOverride(home.filePath("bin"));
        const QString path = platform::settingsFilePath();
        platform::setProgramFolderOverride(QString());
        QCoreApplication::setApplicationName(appName);

        QCOMPARE(path, config + "/Vexlo32/Vexlo32.ini");
        QCOMPARE(modeOf(config), 0700);
        QCOMPARE(modeOf(config + "/Vexlo32"), 0700);
        QVERIFY(writeSettingsFile(path, "/"));
    }

    // The temporary description goes to the session's runtime folder, and
    // to the cache folder where there is none or it cannot hold ours; each
    // display has a folder of its own in there. A cache folder open to
    // others, or a link to someone else's folder, gives no folder at all.
    void temporaryFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // relative to the test's folder
        QTest::addColumn<bool>("plantFile");  // a file where our folder goes
        QTest::addColumn<QString>("cache");   // "open", "foreign link" or ""
        QTest::addColumn<QString>("base");    // "run", "cache" or "" (none)
        QTest::newRow("runtime folder") << "run" << false << ""
                                        << "run";
        QTest::newRow("no runtime folder") << "" << false << ""
                                           << "cache";
        QTest::newRow("a file in our place") << "run" << true << ""
                                             << "cache";
        QTest::newRow("open cache folder") << "" << false << "open"
                                           << "";
        QTest::newRow("link to a foreign folder") << "" << false << "foreign link"
                                                  << "";
        QTest::newRow("runtime folder beats an open cache") << "run" << false << "open"
                                                            << "run";
    }
    void temporaryFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, plantFile);
        QFETCH(QString, cache);
        QFETCH(QString, base);
        QTemporaryDir home;
        const QString run = runtime.isEmpty() ? QString() : home.filePath(runtime);
        if (!run.isEmpty())
            QCOMPARE(::mkdir(QFile::encodeName(run).constData(), 0700), 0);
        if (plantFile)
            QVERIFY(test::writeBytes(run + "/vexlo32", "not a folder"));
        const QString cacheFolder = home.filePath("cache/vexlo32");
        if (cache == "open") {
            QVERIFY(QDir().mkpath(cacheFolder));
            QCOMPARE(::chmod(QFile::encodeName(cacheFolder).constData(), 0777), 0);
        } else if (cache == "foreign link") {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QVERIFY(QDir().mkpath(home.filePath("theirs")));
            QCOMPARE(::chown(QFile::encodeName(home.filePath("theirs")).constData(), 65534, 65534),
                     0);
            QVERIFY(QDir().mkpath(home.filePath("cache")));
            QVERIFY(QFile::link(home.filePath("theirs"), cacheFolder));
        }
        const test::ScopedEnv runEnv("XDG_RUNTIME_DIR", run);
        const test::ScopedEnv cacheEnv("XDG_CACHE_HOME", home.filePath("cache"));

        const QString folder = platform::temporaryFolder();
        if (base.isEmpty()) {
            QCOMPARE(folder, QString());
            QCOMPARE(platform::tempDizPath(), QString());
            return;
        }
        const QString shared = base == "run" ? run + "/vexlo32" : cacheFolder;
        QCOMPARE(folder, shared + '/' + platform::displayKey());
        QCOMPARE(modeOf(shared), 0700);
        QCOMPARE(modeOf(folder), 0700);
        QCOMPARE(platform::tempDizPath(), folder + "/file_id.diz");
        if (plantFile)
            QCOMPARE(test::readBytes(run + "/vexlo32"), QByteArray("not a folder"));

        // A copy on another display works in a folder beside this one.
        const test::ScopedEnv display("DISPLAY", ":vexlo-test-other");
        const QString other = platform::temporaryFolder();
        QVERIFY(other != folder);
        QCOMPARE(other, shared + '/' + platform::displayKey());
    }

    // A cache folder of that name that others may write to (made by
    // someone else, or opened up) is not used for the temporary
    // description: whoever can write there can put a link in its place,
    // which Save diz would write through and then store into the archives.
    void openCacheFolderIsNotUsedForTheTemporaryFile()
    {
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath("cache/vexlo32"));
        const QString open = home.filePath("cache/vexlo32");
        QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);
        const test::ScopedEnv runEnv("XDG_RUNTIME_DIR", QString());
        const test::ScopedEnv cacheEnv("XDG_CACHE_HOME", home.filePath("cache"));
        const QString folder = platform::temporaryFolder();
        QVERIFY2(folder != open || (modeOf(folder) & 0077) == 0, qPrintable(folder));
    }

    // Until the settings file exists, the one an earlier version kept is
    // read, so that the first start after an update keeps the folder; the
    // new one wins as soon as it is there. Looking creates nothing.
    void olderSettingsFileIsReadUntilTheNewOne_data()
    {
        QTest::addColumn<QStringList>("present"); // "new", "data", "beside", "data/"
        QTest::addColumn<QString>("read");
        QTest::newRow("none") << QStringList{} << "new";
        QTest::newRow("the old data folder") << QStringList{"data"} << "data";
        QTest::newRow("beside the program") << QStringList{"beside"} << "beside";
        QTest::newRow("both old places") << QStringList{"beside", "data"} << "data";
        QTest::newRow("a folder in the old place") << QStringList{"data/"} << "new";
        QTest::newRow("the new one and old ones") << QStringList{"new", "data", "beside"} << "new";
    }
    void olderSettingsFileIsReadUntilTheNewOne()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, read);
        QTemporaryDir home;
        const QMap<QString, QString> places{
            {"new", home.filePath("config/Vexlo32/Vexlo32.ini")},
            {"data", home.filePath("data/Vexlo32/Vexlo32.ini")},
            {"beside", home.filePath("bin/Vexlo32.ini")},
        };
        for (const QString& which : present) {
            if (which.endsWith('/'))
                QVERIFY(QDir().mkpath(places[which.chopped(1)]));
            else
                QVERIFY(test::writeBytes(places[which], "/\r\n"));
        }
        QVERIFY(QDir().mkpath(home.filePath("bin")));
        const test::ScopedEnv config("XDG_CONFIG_HOME", home.filePath("config"));
        const test::ScopedEnv data("XDG_DATA_HOME", home.filePath("data"));
        const QString appName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName("Vexlo32");
        platform::setProgramFolderOverride(home.filePath("bin"));
        const QString chosen = platform::settingsFileToRead();
        // An override (tests, the command line's runs) looks nowhere else.
        platform::setUserFoldersOverride(home.filePath("own"));
        const QString overridden = platform::settingsFileToRead();
        platform::setUserFoldersOverride(QString());
        platform::setProgramFolderOverride(QString());
        QCoreApplication::setApplicationName(appName);

        QCOMPARE(chosen, places[read]);
        QCOMPARE(overridden, home.filePath("own/Vexlo32.ini"));
        QCOMPARE(QFileInfo::exists(home.filePath("config")), present.contains("new"));
        QVERIFY(!QFileInfo::exists(home.filePath("own")));
    }

    // The help text and the sound: beside the program in a build tree,
    // otherwise in the installed data folder next to the program's folder.
    void dataFilesBesideOrInstalled_data()
    {
        QTest::addColumn<QString>("beside"); // "file", "folder" or nothing
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("expected"); // relative to the prefix
        QTest::newRow("build tree") << "file" << false << "bin/Vexlo32.txt";
        QTest::newRow("build tree, installed too") << "file" << true << "bin/Vexlo32.txt";
        QTest::newRow("installed") << "" << true << "share/vexlo32/Vexlo32.txt";
        QTest::newRow("a folder of that name beside")
            << "folder" << true << "share/vexlo32/Vexlo32.txt";
        QTest::newRow("nowhere: where it should be installed")
            << "" << false << "share/vexlo32/Vexlo32.txt";
    }
    void dataFilesBesideOrInstalled()
    {
        QFETCH(QString, beside);
        QFETCH(bool, installed);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.filePath("bin")));
        if (beside == "file")
            QVERIFY(test::writeBytes(prefix.filePath("bin/Vexlo32.txt"), "beside"));
        if (beside == "folder")
            QVERIFY(QDir().mkpath(prefix.filePath("bin/Vexlo32.txt")));
        if (installed)
            QVERIFY(test::writeBytes(prefix.filePath("share/vexlo32/Vexlo32.txt"), "installed"));
        platform::setProgramFolderOverride(prefix.filePath("bin"));
        const QString path = platform::dataFilePath("Vexlo32.txt");
        platform::setProgramFolderOverride(QString());
        QCOMPARE(path, prefix.filePath(expected));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
