// SPDX-License-Identifier: MIT
#include "Version.h"
#include "platform/DiskInfo.h"
#include "test_catalog_support.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;
using vexlo::platform::DiskInfo;
using namespace vexlo::catalog;
using namespace vexlo::test;

namespace {

// A tree with every kind of entry: archives with and without descriptions,
// a broken archive, a shortcut, long and accented names, sub-folders.
bool makeTree(const QString& folder)
{
    const QString accented = QString::fromUtf8("caf\xc3\xa9 long name.arj");
    if (!makeZip(folder + "/Game One.zip",
                 {{"FILE_ID.DIZ", "  GREAT GAME FOR DOS\r\n\r\nsecond \x8e line\r\n"}}))
        return false;
    if (!makeZip(folder + "/nodiz.zip", {{"readme.txt", "x"}}))
        return false;
    if (!makeZip(folder + "/Sub/Deeper/inner.zip", {{"file_id.diz", "Inner\nLF\n"}}))
        return false;
    if (!writeBytes(folder + "/broken.zip", "not an archive"))
        return false;
    if (!writeBytes(folder + "/Shortcut to Example Site.url",
                    "[InternetShortcut]\r\nURL=http://www.example.com/\r\n"))
        return false;
    if (!writeBytes(folder + "/" + accented, "1234"))
        return false;
    if (!writeBytes(folder + "/Sub/readme.txt", "12345"))
        return false;
    const QStringList all{"Game One.zip",
                          "nodiz.zip",
                          "Sub/Deeper/inner.zip",
                          "broken.zip",
                          "Shortcut to Example Site.url",
                          accented,
                          "Sub/readme.txt"};
    for (const QString& name : all) {
        if (!setModified(folder + "/" + name, kSeptember16))
            return false;
    }
    return true;
}

// The same run in this process, as the window makes it.
QByteArray listInProcess(const QString& folder, const QString& listFile, bool longFormat,
                         bool multiLine)
{
    BuildRun run;
    DiskInfo disk;
    disk.setDriveLetter(folder);
    run.options.readOnlyDrive = disk.FreeSpace() < DiskInfo::kWritableThreshold;
    run.options.multiLineDiz = multiLine;
    run.host.longFormat = longFormat;
    return run.walk(platform::lowerPath(folder), listFile);
}

} // namespace

class TestCatalogCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("VEXLO32_BINARY"))
            QSKIP("VEXLO32_BINARY is not set (run through ctest)");
    }

    void help()
    {
        const RunResult r = runProgram({"--make-list", "--help"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: vexlo32 --make-list FOLDER"));
        QVERIFY(r.out.contains("--multi-line"));
    }

    void sameBytesAsTheWindow_data()
    {
        QTest::addColumn<bool>("longFormat");
        QTest::addColumn<bool>("multiLine");
        QTest::newRow("short, single line") << false << false;
        QTest::newRow("long, single line") << true << false;
        QTest::newRow("short, multi-line") << false << true;
        QTest::newRow("long, multi-line") << true << true;
    }
    void sameBytesAsTheWindow()
    {
        QFETCH(bool, longFormat);
        QFETCH(bool, multiLine);
        ListFixture fx;
        QVERIFY(makeTree(fx.folder));
        const QString expectedFile = fx.root.path() + "/expected.txt";
        const QByteArray expected = listInProcess(fx.folder, expectedFile, longFormat, multiLine);

        QStringList args{"--make-list", fx.folder, "--output", fx.listFile};
        if (longFormat)
            args << "--long";
        if (multiLine)
            args << "--multi-line";
        const RunResult r = runProgram(args);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray()); // no terminal: no progress line
        QCOMPARE(readBytes(fx.listFile), expected);
        // The tree really was listed with descriptions.
        QVERIFY(expected.contains(multiLine ? "  great game for dos" : "Great game for dos"));
        QVERIFY(expected.contains("** CRC Error **"));
        QVERIFY(expected.contains("http://www.example.com/\r\n"));
        QVERIFY(expected.contains("Inner"));
    }

    void defaultListFileInTheFolder()
    {
        ListFixture fx;
        QVERIFY(makeTree(fx.folder));
        const QString expectedFile = fx.root.path() + "/expected.txt";
        const QByteArray expected = listInProcess(fx.folder, expectedFile, false, false);
        const RunResult r = runProgram({"--make-list", fx.folder});
        QCOMPARE(r.exitCode, 0);
        // Vexlo.txt lies in the listed folder and never lists itself.
        QCOMPARE(readBytes(fx.folder + "/Vexlo.txt"), expected);
    }

    void relativeFolderIsShownAbsolute()
    {
        ListFixture fx;
        QVERIFY(writeBytes(fx.folder + "/a.txt", "x"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(fx.root.path()));
        const RunResult r = runProgram({"--make-list", "./Zips/../Zips/", "--output", "out.txt"});
        QDir::setCurrent(before);
        QCOMPARE(r.exitCode, 0);
        const QByteArray list = readBytes(fx.root.path() + "/out.txt");
        QVERIFY2(list.startsWith(folderHeader(fx.folder)), list.constData());
    }

    void missingFolder()
    {
        ListFixture fx;
        const QString missing = fx.root.path() + "/no such folder";
        const RunResult r = runProgram({"--make-list", missing, "--output", fx.listFile});
        QVERIFY(r.exitCode != 0);
        QCOMPARE(r.err, "vexlo32: " + missing.toUtf8() + ": no such folder\n");
        QVERIFY(!QFile::exists(fx.listFile));
        QVERIFY(!QFile::exists(missing + "/Vexlo.txt"));
        // A file is no folder either.
        QVERIFY(writeBytes(fx.root.path() + "/file", "x"));
        QVERIFY(runProgram({"--make-list", fx.root.path() + "/file"}).exitCode != 0);
    }

    void listFileInAMissingFolder()
    {
        ListFixture fx;
        QVERIFY(writeBytes(fx.folder + "/a.txt", "x"));
        const QString list = fx.root.path() + "/missing/list.txt";
        const RunResult r = runProgram({"--make-list", fx.folder, "--output", list});
        QVERIFY(r.exitCode != 0);
        QCOMPARE(r.err, "vexlo32: cannot create the list file " + list.toUtf8() + ": " +
                            QByteArray(std::strerror(ENOENT)) + "\n");
        QVERIFY(!QFile::exists(list));
    }

    void fullDiskIsAFailure()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this system");
        ListFixture fx;
        QVERIFY(writeBytes(fx.folder + "/a.txt", "x"));
        const RunResult r = runProgram({"--make-list", fx.folder, "--output", "/dev/full"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.startsWith("vexlo32: cannot write the list file /dev/full: "));
        QCOMPARE(r.err.count('\n'), 1);
    }

    // Whatever stands at the list's path: a link someone else planted is
    // replaced, never followed; our own link is followed to the file it
    // names, which is replaced; a FIFO is replaced, never waited on; "-" is
    // standard output; a device is written into and stays a device. And the
    // old list stays whole until the new one is complete.
    void listDestinations_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("a link someone else planted") << "planted" << 0;
        QTest::newRow("a dangling link someone else planted") << "planted dangling" << 0;
        QTest::newRow("our own link") << "own link" << 0;
        QTest::newRow("our link to someone else's link") << "chain" << 1;
        QTest::newRow("a FIFO") << "fifo" << 0;
        QTest::newRow("standard output") << "-" << 0;
        QTest::newRow("a character device") << "/dev/null" << 0;
        QTest::newRow("another name in another case") << "case" << 0;
        QTest::newRow("someone else's list") << "theirs" << 0;
    }
    void listDestinations()
    {
        QFETCH(QString, kind);
        QFETCH(int, exitCode);
        ListFixture fx;
        QVERIFY(writeBytes(fx.folder + "/a.txt", "x"));
        const QString list =
            kind == "-" || kind.startsWith('/') ? kind : fx.root.path() + "/list.txt";
        const QString target = fx.root.path() + "/target.txt";
        const QByteArray native = QFile::encodeName(list);
        struct stat st0;
        if (kind.startsWith("planted")) {
            if (!runningAsRoot())
                QSKIP("needs root to make a link of another user");
            if (!kind.endsWith("dangling"))
                QVERIFY(writeBytes(target, "keep me"));
            QCOMPARE(::symlink(QFile::encodeName(target).constData(), native.constData()), 0);
            QCOMPARE(::lchown(native.constData(), 65534, 65534), 0);
        } else if (kind == "own link") {
            QVERIFY(writeBytes(target, "old list"));
            QCOMPARE(::symlink("target.txt", native.constData()), 0);
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
        } else if (kind == "chain" || kind == "theirs") {
            if (!runningAsRoot())
                QSKIP("needs root to make files of another user");
            if (kind == "chain") {
                // Ours leads to theirs, which leads to their FIFO.
                const QByteArray theirs = QFile::encodeName(fx.root.path() + "/theirs");
                QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0666), 0);
                QCOMPARE(::symlink(QFile::encodeName(target).constData(), theirs.constData()), 0);
                QCOMPARE(::lchown(theirs.constData(), 65534, 65534), 0);
                QCOMPARE(::symlink(theirs.constData(), native.constData()), 0);
            } else {
                QVERIFY(writeBytes(list, "their old list"));
                QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
                QCOMPARE(::chmod(native.constData(), 0600), 0);
            }
        } else if (kind == "case") {
            QVERIFY(writeBytes(fx.root.path() + "/LIST.TXT", "precious"));
        }
        const RunResult r =
            runProgram({"--make-list", fx.folder, "--output", list}, QByteArray(), 20000);
        QCOMPARE(r.exitCode, exitCode);
        if (kind == "chain") {
            QVERIFY(::lstat(native.constData(), &st0) == 0 && S_ISLNK(st0.st_mode));
            return; // refused, and nothing was written into their FIFO (no reader waited)
        }
        if (kind == "case")
            QCOMPARE(readBytes(fx.root.path() + "/LIST.TXT"), QByteArray("precious"));
        if (kind == "theirs") {
            QVERIFY(::stat(native.constData(), &st0) == 0);
            QCOMPARE(int(st0.st_uid), 65534);
            QCOMPARE(int(st0.st_mode & 0777), 0600);
        }
        struct stat st;
        if (kind == "-") {
            QVERIFY(r.out.contains("A.TXT"));
            QVERIFY(!QFile::exists(fx.folder + "/-") && !QFile::exists("-"));
        } else if (kind.startsWith('/')) {
            QVERIFY(::stat(native.constData(), &st) == 0 && S_ISCHR(st.st_mode));
        } else if (kind == "own link") {
            QVERIFY(::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode));
            QVERIFY(readBytes(target).contains("A.TXT"));
        } else {
            QVERIFY(::lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode));
            QVERIFY(readBytes(list).contains("A.TXT"));
            if (kind == "planted")
                QCOMPARE(readBytes(target), QByteArray("keep me"));
            if (kind == "planted dangling")
                QVERIFY(!QFile::exists(target));
        }
        QCOMPARE(QDir(fx.root.path()).entryList(QDir::Hidden | QDir::Files).filter(".vexlo32-"),
                 QStringList());
    }

    // --all-kinds: the same list as the builder's with the option, and
    // without it the list that never opens another kind.
    void allKinds_data()
    {
        QTest::addColumn<bool>("allKinds");
        QTest::newRow("without") << false;
        QTest::newRow("with") << true;
    }
    void allKinds()
    {
        QFETCH(bool, allKinds);
        ListFixture fx;
        const QString made =
            makeKindArchive("tar.gz", fx.folder + "/game.tgz", {{"FILE_ID.DIZ", "Tar game\r\n"}});
        if (made == QLatin1String("missing"))
            QSKIP("tar is not installed");
        QVERIFY2(made.isEmpty(), qPrintable(made));
        QVERIFY(makeZip(fx.folder + "/a.zip", {{"file_id.diz", "Zip game\r\n"}}));
        QStringList args{"--make-list", fx.folder, "--output", "-", "--long"};
        if (allKinds)
            args << "--all-kinds";
        const RunResult r = runProgram(args);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        BuildRun builder;
        builder.options.allKinds = allKinds;
        QCOMPARE(r.out, builder.build(fx.folder, fx.root.path() + "/list.txt"));
        QCOMPARE(r.out.contains("Tar game"), allKinds);
        QVERIFY(r.out.contains("Zip game"));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no folder") << QStringList{"--make-list"};
        QTest::newRow("unknown option") << QStringList{"--make-list", "/tmp", "--bogus"};
        QTest::newRow("two folders") << QStringList{"--make-list", "/tmp", "/usr"};
        QTest::newRow("output without a name") << QStringList{"--make-list", "/tmp", "--output"};
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        const RunResult r = runProgram(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err.count('\n'), 2);
        QVERIFY(r.err.startsWith("vexlo32: "));
        QVERIFY(r.err.endsWith("\nTry 'vexlo32 --make-list --help' for more information.\n"));
    }

    // The command line never guesses: a path that differs from an existing
    // one in letter case only names nothing, and nothing is written.
    void exactPaths_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error");
        QTest::newRow("folder in another case") << "zips"
                                                << "list.txt"
                                                << "no such folder";
        QTest::newRow("list folder in another case") << "Zips"
                                                     << "lists/list.txt"
                                                     << "cannot create the list file";
    }
    void exactPaths()
    {
        QFETCH(QString, folder);
        QFETCH(QString, output);
        QFETCH(QString, error);
        ListFixture fx;
        QVERIFY(writeBytes(fx.folder + "/a.txt", "x"));
        QVERIFY(QDir().mkpath(fx.root.path() + "/Lists"));
        const QString typed = fx.root.path() + "/" + folder;
        const RunResult r =
            runProgram({"--make-list", typed, "--output", fx.root.path() + "/" + output});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith("vexlo32: "), r.err.constData());
        QVERIFY2(r.err.contains(error.toUtf8()), r.err.constData());
        QVERIFY(r.err.contains(QFile::encodeName(folder == "zips" ? typed : output)));
        QCOMPARE(folderEntries(fx.root.path() + "/Lists"), QStringList());
        QVERIFY(!QFile::exists(fx.root.path() + "/list.txt"));
        QVERIFY(!QFile::exists(fx.folder + "/Vexlo.txt"));
    }

    // A relative path names what the system finds from the current folder:
    // "link/.." is the folder above the link's target, not the current
    // folder; and from a current folder that was removed no relative path
    // names anything, so nothing is listed and nothing written.
    void relativePathsAsTheSystemFindsThem_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("parent of a linked folder") << "link";
        QTest::newRow("new list file beside a linked folder") << "output";
        QTest::newRow("current folder removed") << "gone";
        QTest::newRow("window folder, current folder removed") << "gone window";
    }
    void relativePathsAsTheSystemFindsThem()
    {
        QFETCH(QString, kind);
        ListFixture fx;
        const QString oldCwd = QDir::currentPath();
        RunResult r;
        if (!kind.startsWith("gone")) {
            QVERIFY(QDir().mkpath(fx.root.path() + "/real/deep/Sub"));
            QVERIFY(QDir().mkpath(fx.root.path() + "/work"));
            QVERIFY(QFile::link(fx.root.path() + "/real/deep/Sub", fx.root.path() + "/work/link"));
            QVERIFY(QDir::setCurrent(fx.root.path() + "/work"));
            if (kind == "link")
                r = runProgram({"--make-list", "link/..", "--output", "-"});
            else
                r = runProgram({"--make-list", fx.folder, "--output", "link/./../new.txt"});
            QDir::setCurrent(oldCwd);
            QCOMPARE(r.exitCode, 0);
            if (kind == "link") {
                QVERIFY2(r.out.contains(
                             QFile::encodeName(platform::lowerPath(fx.root.path() + "/real/deep"))),
                         r.out.constData());
            } else {
                QVERIFY(QFile::exists(fx.root.path() + "/real/deep/new.txt"));
                QVERIFY(!QFile::exists(fx.root.path() + "/work/new.txt"));
            }
        } else {
            QVERIFY(writeBytes(fx.folder + "/a.txt", "x"));
            QVERIFY(QDir().mkpath(fx.root.path() + "/gone"));
            QVERIFY(QDir::setCurrent(fx.root.path() + "/gone"));
            QVERIFY(QDir().rmdir(fx.root.path() + "/gone"));
            // The fixture's folder, typed as if it were below the current one.
            if (kind == "gone")
                r = runProgram({"--make-list", fx.folder.mid(1)});
            else
                r = runProgram({fx.folder.mid(1)}, QByteArray(), 60000,
                               {"DISPLAY", "WAYLAND_DISPLAY"});
            QDir::setCurrent(oldCwd);
            QCOMPARE(r.exitCode, kind == "gone" ? 1 : 2);
            QCOMPARE(r.err, "vexlo32: cannot find the current folder: " +
                                QByteArray(std::strerror(ENOENT)) + "\n");
            QVERIFY(!QFile::exists(fx.folder + "/Vexlo.txt"));
        }
    }

    // Each mode's help, and the whole program's, on standard output with
    // status 0; the whole one in the layout help2man reads.
    void helpOfEachMode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("usage");
        const QByteArray all = "Usage: vexlo32 [OPTION]... [FOLDER]\n";
        QTest::newRow("--help") << QStringList{"--help"} << all;
        QTest::newRow("-h") << QStringList{"-h"} << all;
        QTest::newRow("make-list") << QStringList{"--make-list", "--help"}
                                   << QByteArray("Usage: vexlo32 --make-list FOLDER");
        QTest::newRow("help before the mode") << QStringList{"--help", "--make-list"}
                                              << QByteArray("Usage: vexlo32 --make-list FOLDER");
        QTest::newRow("get-diz")
            << QStringList{"--get-diz", "--help"}
            << QByteArray("Usage: vexlo32 --get-diz [--utf8] [--all-kinds] ARCHIVE\n");
        QTest::newRow("get-diz with an archive")
            << QStringList{"--get-diz", "/no/such.zip", "-h"}
            << QByteArray("Usage: vexlo32 --get-diz [--utf8] [--all-kinds] ARCHIVE\n");
        QTest::newRow("save-diz") << QStringList{"--save-diz", "--help"}
                                  << QByteArray("Usage: vexlo32 --save-diz [--utf8] DIZFILE");
    }
    void helpOfEachMode()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, usage);
        const RunResult r = runProgram(args, QByteArray(), 60000, {"DISPLAY", "WAYLAND_DISPLAY"});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith(usage), r.out.constData());
        // The modes that take --all-kinds say whether ARJ can be read.
        if (args.contains("--make-list") || args.contains("--get-diz"))
            QVERIFY2(r.out.contains(QStandardPaths::findExecutable("arj").isEmpty()
                                        ? "need the arj program (Debian package\narj)"
                                        : "ARJ archives are read with the arj program"),
                     r.out.constData());
        if (!usage.contains("[FOLDER]"))
            return;
        // Every option has a line of its own starting with two spaces and a dash.
        const QList<QByteArray> lines = r.out.split('\n');
        for (const char* option :
             {"--make-list", "--get-diz", "--save-diz", "--output", "--long", "--multi-line",
              "--all-kinds", "--utf8", "--help", "--version"}) {
            const bool listed = std::any_of(lines.begin(), lines.end(), [&](const QByteArray& l) {
                const qsizetype end = l.indexOf("  ", 2);
                return l.startsWith("  -") && l.mid(2, end < 0 ? -1 : end - 2).contains(option);
            });
            QVERIFY2(listed, option);
        }
    }

    void versionInTheGnuForm()
    {
        const RunResult r = runProgram({"--version"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        const QList<QByteArray> lines = r.out.split('\n');
        QVERIFY(lines.size() >= 5);
        QCOMPARE(lines[0], "vexlo32 " + QByteArray(kVersionNumber));
        QVERIFY(!QByteArray(kVersionNumber).startsWith('v'));
        QCOMPARE(lines[1], QByteArray("Copyright (C) 2026 The Vexlo32 developers."));
        QCOMPARE(lines[2], QByteArray("License: MIT <https://opensource.org/licenses/MIT>."));
        QVERIFY(r.out.contains("There is NO WARRANTY, to the extent permitted by law.\n"));
    }

    // No display to open: one line and status 1, not the toolkit's abort.
    void noDisplay_data()
    {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no display at all")
            << QStringList{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"} << QStringList{};
        QTest::newRow("a display nobody serves")
            << QStringList{"DISPLAY=:9797", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"}
            << QStringList{};
        QTest::newRow("with a folder")
            << QStringList{"DISPLAY=:9797", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}
            << QStringList{QDir::tempPath()};
        QTest::newRow("-display naming one nobody serves")
            << QStringList{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"}
            << QStringList{"-display", ":9797"};
    }
    void noDisplay()
    {
        QFETCH(QStringList, env);
        QFETCH(QStringList, args);
        QTemporaryDir runtime;
        const RunResult r = runProgram(args, QByteArray(), 60000,
                                       env + QStringList{"XDG_RUNTIME_DIR=" + runtime.path()});
        QCOMPARE(r.err, QByteArray("vexlo32: cannot open the display\n"));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray());
    }

    // What the window is asked to open is checked before any window (here
    // there would be no display for one): status 2 and the reason.
    void folderArgumentMistakes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("missing") << "missing" << QByteArray(std::strerror(ENOENT));
        QTest::newRow("a file") << "file" << QByteArray(std::strerror(ENOTDIR));
        QTest::newRow("another case") << "zips" << QByteArray(std::strerror(ENOENT));
    }
    void folderArgumentMistakes()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, reason);
        ListFixture fx;
        QVERIFY(writeBytes(fx.root.path() + "/file", "x"));
        const QString typed = fx.root.path() + "/" + name;
        const RunResult r =
            runProgram({typed}, QByteArray(), 60000, {"DISPLAY", "WAYLAND_DISPLAY"});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, "vexlo32: " + QFile::encodeName(typed) + ": " + reason + "\n");
    }

    // Words that are neither ours nor the toolkit's, and toolkit options
    // without their value, are mistakes before any window.
    void windowWordMistakes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("two folders")
            << QStringList{"/tmp", "/usr"} << QByteArray("vexlo32: the window opens one folder\n");
        QTest::newRow("-style without its value")
            << QStringList{"-style"} << QByteArray("vexlo32: -style needs a value\n");
        QTest::newRow("an option of a mode alone")
            << QStringList{"--utf8"} << QByteArray("vexlo32: unknown option --utf8\n");
        QTest::newRow("unknown after a toolkit option")
            << QStringList{"-platform", "offscreen", "--bogus=1"}
            << QByteArray("vexlo32: unknown option --bogus\n");
    }
    void windowWordMistakes()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, line);
        const RunResult r = runProgram(args, QByteArray(), 60000, {"DISPLAY", "WAYLAND_DISPLAY"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith(line), r.err.constData());
        QVERIFY(r.err.endsWith("Try 'vexlo32 --help' for more information.\n"));
    }

    // Never taken for a window start or for nothing.
    void unknownOptions_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("long") << "--bogus";
        QTest::newRow("short") << "-x";
        QTest::newRow("dash alone") << "-";
    }
    void unknownOptions()
    {
        QFETCH(QString, option);
        const RunResult r = runProgram({option});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith("vexlo32: unknown option " + option.toUtf8() + "\n"), r.err);
        QVERIFY(r.err.contains("--help"));
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCatalogCli)
#include "test_catalog_cli.moc"
