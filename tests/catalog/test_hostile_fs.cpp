// SPDX-License-Identifier: MIT
// Hostile folder trees for the list builder and the walk: names that are not
// UTF-8 or hold line ends and control characters, paths longer than the
// system's limit, folders and files without read permission (as an
// unprivileged user), files that vanish or change while the list is being
// made, and a list file that lies in the listed folder.

#include "catalog/FolderWalk.h"
#include "catalog/ListBuilder.h"
#include "platform/Settings.h"
#include "reliability_support.h"
#include "test_catalog_support.h"

#include <QProcess>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;
using namespace vexlo::test;

namespace {

const QByteArray kDiz = "A DESCRIPTION\r\n";

QString nativePath(const QString& folder, const QByteArray& rawName)
{
    return platform::joinPath(folder, platform::decodeName(rawName));
}

// Writes through the name's bytes: QFile would lose undecodable ones.
bool writeRaw(const QString& path, const QByteArray& bytes)
{
    const int fd =
        ::open(platform::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok;
}

bool makeRawZip(const QString& path)
{
    return writeRaw(path, rawZip({{"file_id.diz", kDiz}}));
}

// A name as the list writes it: control bytes become "?", so that no name
// can start a line of its own; every other byte is kept.
QByteArray asListed(QByteArray bytes)
{
    for (char& c : bytes) {
        if (quint8(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return bytes;
}

// The bytes a long-layout entry starts with: the upper-case name.
QByteArray entryStart(const QByteArray& rawName)
{
    return "\r\n" +
           asListed(platform::encodeName(platform::upperName(platform::decodeName(rawName))));
}

// A folder's header line with its path as listed.
QByteArray listedHeader(const QString& folder)
{
    const QByteArray header = folderHeader(folder);
    return "\r\n" + asListed(header.mid(2, header.size() - 4)) + "\r\n";
}

} // namespace

class TestHostileFs : public QObject {
    Q_OBJECT

private slots:
    void strangeNames_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("invalid UTF-8") << QByteArray("caf\xe9 \xff\xfe.zip");
        QTest::newRow("truncated UTF-8 sequence") << QByteArray("end\xe2\x82.zip");
        QTest::newRow("newline") << QByteArray("two\nlines.zip");
        QTest::newRow("carriage return") << QByteArray("cr\rname.zip");
        QTest::newRow("control characters") << QByteArray("\x01\x1b[31mred\t.zip");
        QTest::newRow("Latin-1 folder byte") << QByteArray("\xe4rger.url");
    }

    // Every such file gets its entry with its name bytes unchanged but for
    // control bytes ("?"), its description read, and Get diz and Save diz
    // work on it.
    void strangeNames()
    {
        QFETCH(QByteArray, raw);
        ListFixture fx;
        const QString sub = nativePath(fx.folder, QByteArray("sub\n\xff"));
        QVERIFY(::mkdir(platform::encodeName(sub).constData(), 0755) == 0);
        const QString file = nativePath(sub, raw);
        if (raw.endsWith(".url"))
            QVERIFY(writeRaw(file, "[x]\r\nURL=http://example.org/\r\n"));
        else
            QVERIFY(makeRawZip(file));

        BuildRun run;
        const QByteArray list = run.walk(fx.folder, fx.listFile);
        QVERIFY2(list.contains(listedHeader(sub)), list.constData());
        QVERIFY2(list.contains(entryStart(raw)), list.constData());
        // Each entry and header is one line: no name broke the structure.
        for (const QByteArray& line : list.split('\n'))
            QVERIFY2(line.isEmpty() || line.endsWith('\r'), line.constData());
        if (raw.endsWith(".url")) {
            QVERIFY(list.contains("http://example.org/"));
            QProcess::execute("rm", {"-rf", fx.folder});
            return;
        }
        QVERIFY(list.contains("A description\r\n"));
        const QByteArray native = platform::encodeName(file);
        QByteArray out;
        QCOMPARE(runProgramRaw({"--get-diz", native}, &out), 0);
        QCOMPARE(out, kDiz);
        const QByteArray diz = QFile::encodeName(fx.root.path() + "/new.diz");
        QVERIFY(writeBytes(QFile::decodeName(diz), "NEW\r\n"));
        QCOMPARE(runProgramRaw({"--save-diz", diz, native}), 0);
        QCOMPARE(runProgramRaw({"--get-diz", native}, &out), 0);
        QCOMPARE(out, QByteArray("NEW\r\n"));
        QProcess::execute("rm", {"-rf", fx.folder}); // names QDir cannot remove
    }

    // A tree deeper than PATH_MAX, made with mkdirat: every folder has its
    // section and every file its entry, and nothing crashes or loops.
    void pathsLongerThanTheLimit()
    {
        ListFixture fx;
        const QByteArray component(200, 'd');
        const int levels = 2 * PATH_MAX / 200; // well past 4096 bytes
        int fd = ::open(platform::encodeName(fx.folder).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        for (int i = 0; i < levels; ++i) {
            const QByteArray name = component + QByteArray::number(i);
            QVERIFY(::mkdirat(fd, name.constData(), 0755) == 0);
            const int zipFd = ::openat(fd, "deep.zip", O_WRONLY | O_CREAT, 0644);
            const QByteArray zip = rawZip({{"file_id.diz", kDiz}});
            QVERIFY(zipFd >= 0 &&
                    ::write(zipFd, zip.constData(), size_t(zip.size())) == zip.size());
            ::close(zipFd);
            const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            QVERIFY(fd >= 0);
        }
        ::close(fd);

        BuildRun run;
        run.host.longFormat = true;
        catalog::MemoryDescriptionReader descriptions(run.zip); // what the program reads with
        run.descriptions = &descriptions;
        const QByteArray list = run.walk(fx.folder, fx.listFile);
        QVERIFY2(!list.startsWith('('), list.constData());
        // The command line lists the same, and says nothing is missing.
        const RunResult cli =
            runProgram({"--make-list", fx.folder, "--output", fx.listFile, "--long"});
        QCOMPARE(cli.exitCode, 0);
        QCOMPARE(readBytes(fx.listFile), list);
        QVERIFY(list.endsWith("\r\n"));
        // Every folder has its section, with its whole path, however long:
        // the walk goes from folder to folder by descriptor.
        QCOMPARE(int(list.count("\r\n\r\n")) + 1, levels + 1);
        QCOMPARE(int(list.count("DEEP.ZIP")), levels);
        QCOMPARE(int(list.count("A description")), levels);
        QString deepest = fx.folder;
        for (int i = 0; i < levels; ++i)
            deepest += u'/' + QString::fromLatin1(component + QByteArray::number(i));
        QVERIFY(deepest.size() > PATH_MAX);
        QVERIFY(list.contains(folderHeader(deepest)));
        // Clean up with the system's own tool: QTemporaryDir cannot.
        QProcess::execute("rm", {"-rf", fx.folder});
    }

    // Without read permission, as an unprivileged user: an unreadable folder
    // keeps its (empty) section, an unreadable archive gets a status in its
    // entry, an unreadable shortcut lists without target, and the run ends
    // with status 1, naming the folder; nothing is reported as read that
    // was not.
    void unreadableFilesAndFolders()
    {
        ListFixture fx;
        QVERIFY(QFile::setPermissions(fx.root.path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther | QFileDevice::WriteOther));
        QVERIFY(makeRawZip(fx.folder + "/open.zip"));
        QVERIFY(makeRawZip(fx.folder + "/locked.zip"));
        QVERIFY(writeBytes(fx.folder + "/locked.url", "[x]\r\nURL=http://secret/\r\n"));
        QVERIFY(QDir().mkpath(fx.folder + "/closed/inner"));
        QVERIFY(makeRawZip(fx.folder + "/closed/hidden.zip"));
        ::chmod(QFile::encodeName(fx.folder + "/locked.zip").constData(), 0);
        ::chmod(QFile::encodeName(fx.folder + "/locked.url").constData(), 0);
        ::chmod(QFile::encodeName(fx.folder + "/closed").constData(), 0);
        const QString out = fx.root.path() + "/out";
        QVERIFY(QDir().mkpath(out));
        ::chmod(QFile::encodeName(out).constData(), 0777);

        QStringList command{qEnvironmentVariable("VEXLO32_BINARY"),
                            "--make-list",
                            fx.folder,
                            "--output",
                            out + "/list.txt",
                            "--long"};
        if (::geteuid() == 0) {
            if (QStandardPaths::findExecutable("setpriv").isEmpty())
                QSKIP("running as root without setpriv: cannot test as an unprivileged user");
            command = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} +
                      command;
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", out);
        p.setProcessEnvironment(env);
        p.start(command.takeFirst(), command);
        QVERIFY(p.waitForFinished(60000));
        // The list is written, and what it misses is said: exit status 1.
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(platform::encodeName(platform::lowerPath(fx.folder + "/closed/")) +
                              ": cannot read the folder"),
                 err.constData());
        QCOMPARE(int(err.count('\n')), 1);
        const QByteArray list = readBytes(out + "/list.txt");
        QVERIFY2(list.contains("OPEN.ZIP"), list.constData());
        QVERIFY(list.contains("A description"));
        QVERIFY2(list.contains("** CRC Error ** 101"), list.constData()); // locked.zip
        QVERIFY(list.contains("LOCKED.URL"));
        QVERIFY(!list.contains("secret"));
        QVERIFY(list.contains(folderHeader(fx.folder + "/closed")));
        QVERIFY(!list.contains("HIDDEN.ZIP"));
        QVERIFY(!list.contains("inner"));
        ::chmod(QFile::encodeName(fx.folder + "/closed").constData(), 0755);
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"list.txt"});
    }

    // Files changed under the running list, from the yield before each file
    // and each folder: every change gives a defined entry, and the run ends.
    void filesChangingDuringTheWalk_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("archive deleted") << "delete" << QByteArray("** CRC Error ** 101");
        QTest::newRow("archive overwritten with text")
            << "garbage" << QByteArray("** CRC Error ** 102");
        QTest::newRow("archive truncated") << "truncate" << QByteArray("** CRC Error ** 103");
        QTest::newRow("archive replaced by a folder")
            << "folder" << QByteArray("** CRC Error ** 101");
        QTest::newRow("description replaced") << "replace" << QByteArray("Changed meanwhile");
    }
    void filesChangingDuringTheWalk()
    {
        QFETCH(QString, change);
        QFETCH(QByteArray, expected);
        ListFixture fx;
        QVERIFY(makeRawZip(fx.folder + "/a.zip"));
        QVERIFY(makeRawZip(fx.folder + "/b.zip"));
        QVERIFY(makeRawZip(fx.folder + "/c.zip"));
        QVERIFY(QDir().mkpath(fx.folder + "/later"));
        QVERIFY(makeRawZip(fx.folder + "/later/d.zip"));
        const QString victim = fx.folder + "/b.zip";

        BuildRun run;
        run.host.onYield = [&](int) {
            if (run.host.lastFileStarted().endsWith("/b.zip") && QFile::exists(victim) &&
                QFileInfo(victim).isFile()) {
                if (change == "delete") {
                    QFile::remove(victim);
                } else if (change == "garbage") {
                    writeBytes(victim, QByteArray(3000, 'g'));
                } else if (change == "truncate") {
                    const QByteArray bytes = readBytes(victim);
                    writeBytes(victim, bytes.left(bytes.size() / 2));
                } else if (change == "folder") {
                    QFile::remove(victim);
                    QDir().mkpath(victim);
                } else {
                    writeBytes(victim, rawZip({{"file_id.diz", "CHANGED meanwhile\r\n"}}));
                }
                // And the folder not yet walked goes away.
                QDir(fx.folder + "/later").removeRecursively();
            }
        };
        const QByteArray list = run.walk(fx.folder, fx.listFile);
        QVERIFY2(!list.startsWith('('), list.constData());
        const QList<QByteArray> lines = list.split('\n');
        QByteArray bLine;
        for (const QByteArray& line : lines) {
            if (line.startsWith("B.ZIP"))
                bLine = line;
        }
        QVERIFY2(bLine.contains(expected), bLine.constData());
        QCOMPARE(list.count("A description"), 2); // a.zip and c.zip
        QVERIFY(list.endsWith("\r\n"));
        QVERIFY(!platform::exists(platform::tempDizPath()));
    }

    // A shortcut swapped for a named pipe while the list is being made, and
    // a settings file that is a named pipe: reading them must not wait for
    // a writer that never comes. Run in a child with an alarm, so that a
    // hang fails the test instead of stopping the suite.
    void namedPipesDoNotHang()
    {
        ListFixture fx;
        QVERIFY(writeBytes(fx.folder + "/a.url", "[x]\r\nURL=http://a/\r\n"));
        QVERIFY(writeBytes(fx.folder + "/b.url", "[x]\r\nURL=http://b/\r\n"));
        QVERIFY(makeRawZip(fx.folder + "/c.zip"));
        const QString pipe = fx.root.path() + "/Vexlo32.ini";
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0644) == 0);
        // Links to a FIFO, and to a file that only looks regular but blocks
        // when read (as root); and a shortcut far larger than any, whose
        // first two lines still give its target.
        QCOMPARE(::symlink(QFile::encodeName(pipe).constData(),
                           QFile::encodeName(fx.folder + "/d.url").constData()),
                 0);
        QCOMPARE(::symlink(QFile::encodeName(pipe).constData(),
                           QFile::encodeName(fx.folder + "/e.zip").constData()),
                 0);
        const bool kmsg = ::access("/proc/kmsg", R_OK) == 0;
        if (kmsg)
            QCOMPARE(::symlink("/proc/kmsg", QFile::encodeName(fx.folder + "/k.url").constData()),
                     0);
        QVERIFY(writeBytes(fx.folder + "/f.url",
                           "[x]\r\nURL=http://big/\r\n" + QByteArray(3 << 20, 'j')));
        // 20 GiB of nothing (sparse): no line end to wait for.
        QVERIFY(writeBytes(fx.folder + "/g.url", "x"));
        QCOMPARE(::truncate(QFile::encodeName(fx.folder + "/g.url").constData(), off_t(20) << 30),
                 0);
        const int rc = inChild([&]() -> int {
            ::alarm(20);
            BuildRun run;
            run.host.onYield = [&](int) {
                const QString victim = fx.folder + "/b.url";
                if (run.host.lastFileStarted().endsWith("/b.url") && QFileInfo(victim).isFile()) {
                    QFile::remove(victim);
                    ::mkfifo(QFile::encodeName(victim).constData(), 0644);
                }
            };
            const QByteArray list = run.walk(fx.folder, fx.listFile);
            if (!list.contains("http://a/") || list.contains("http://b/") ||
                !list.contains("B.URL") || !list.contains("A description") ||
                !list.contains("http://big/") || (kmsg && !list.contains("K.URL")))
                return 2;
            const SettingsRead settings = readSettingsFile(pipe);
            if (settings.readOk)
                return 3;
            // The start of a first run: the home folder.
            if (startupFoldersFrom(settings).folder != startupFoldersFrom(SettingsRead()).folder)
                return 4;
            return 0;
        });
        QCOMPARE(rc, 0); // -1: the child hung and the alarm ended it
    }

    // Root lists a tree another user may write. That user's links must not
    // make the list show what only root may read (a shortcut's target, an
    // archive's description, a folder's files), and a link swapped after
    // the walk looked at it leads nowhere.
    void linksOfAnotherUserLeakNothing()
    {
        if (!runningAsRoot())
            QSKIP("needs root to be the one who lists");
        ListFixture fx;
        const QString secret = fx.root.path() + "/secret";
        QVERIFY(QDir().mkpath(secret + "/folder"));
        QVERIFY(writeBytes(secret + "/key.url", "[x]\r\nURL=SECRET-KEY-LINE\r\n"));
        QVERIFY(writeRaw(secret + "/private.zip", rawZip({{"file_id.diz", "Secret words\r\n"}})));
        QVERIFY(writeBytes(secret + "/folder/hidden-in-root.txt", "x"));
        for (const char* name : {"key.url", "private.zip"})
            ::chmod(QFile::encodeName(secret + '/' + name).constData(), 0600);
        auto plant = [&](const QString& target, const QString& link) {
            QCOMPARE(::symlink(QFile::encodeName(target).constData(),
                               QFile::encodeName(link).constData()),
                     0);
            QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);
        };
        plant(secret + "/key.url", fx.folder + "/key.url");
        plant(secret + "/private.zip", fx.folder + "/p.zip");
        plant(secret + "/folder", fx.folder + "/f");
        // Looked at as a harmless folder of the user's, then swapped.
        QVERIFY(QDir().mkpath(fx.root.path() + "/harmless"));
        plant(fx.root.path() + "/harmless", fx.folder + "/zz");
        ::chown(QFile::encodeName(fx.root.path() + "/harmless").constData(), 65534, 65534);
        BuildRun run;
        catalog::MemoryDescriptionReader descriptions(run.zip);
        run.descriptions = &descriptions;
        run.host.onYield = [&](int) {
            if (run.host.lastFileStarted().endsWith("/p.zip")) {
                QFile::remove(fx.folder + "/zz");
                ::symlink(QFile::encodeName(secret).constData(),
                          QFile::encodeName(fx.folder + "/zz").constData());
            }
        };
        const QByteArray list = run.walk(fx.folder, fx.listFile);
        QVERIFY2(!list.contains("SECRET-KEY-LINE"), list.constData());
        QVERIFY(!list.contains("Secret words"));
        QVERIFY(!list.contains("HIDDEN-IN-ROOT"));
        QVERIFY(!list.contains("PRIVATE.ZIP"));
        QVERIFY(list.contains("KEY.URL") && list.contains("P.ZIP")); // listed, not read
        QVERIFY(list.contains("** CRC Error ** 101"));
    }

    // The list file inside the listed folder, under any name (the default
    // one, or one the builder would read as an archive or a shortcut): the
    // list never lists itself, and stays whole.
    void listFileInsideTheListedFolder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("named like an archive") << "list.zip";
        QTest::newRow("named like a shortcut") << "list.url";
        QTest::newRow("another name") << "allfiles.txt";
        QTest::newRow("the default name") << "vexlo.TXT";
    }
    void listFileInsideTheListedFolder()
    {
        QFETCH(QString, name);
        ListFixture fx;
        QVERIFY(makeRawZip(fx.folder + "/game.zip"));
        const QString list = fx.folder + "/" + name;
        for (int run = 0; run < 2; ++run) { // the second replaces the first
            const RunResult made =
                runProgram({"--make-list", fx.folder, "--output", list, "--long"});
            QCOMPARE(made.exitCode, 0);
            const QByteArray bytes = readBytes(list);
            QVERIFY(bytes.contains("GAME.ZIP"));
            QVERIFY(bytes.contains("A description"));
            QVERIFY2(!bytes.toUpper().contains(name.toUpper().toUtf8()), bytes.constData());
            QVERIFY(bytes.endsWith("\r\n"));
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileFs)
#include "test_hostile_fs.moc"
