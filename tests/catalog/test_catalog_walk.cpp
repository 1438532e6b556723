// SPDX-License-Identifier: MIT
#include "platform/NativeName.h"
#include "test_catalog_support.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;
using namespace vexlo::catalog;
using namespace vexlo::test;

namespace {

const QByteArray kDate = "09-16-98";

QByteArray entry(const QByteArray& upperName, qint64 size)
{
    return upperName + spaces(42 - int(upperName.size())) + sizeText(size) + "  " + kDate +
           "  \r\n";
}

// Sub-folder names of a folder in the order the file system returns them.
QStringList subFoldersInOrder(const QString& folder)
{
    std::vector<platform::DirEntry> entries;
    platform::listDirectory(folder, entries);
    QStringList names;
    for (const platform::DirEntry& e : entries) {
        if (e.isDir && !e.name.startsWith('.'))
            names.append(e.name);
    }
    return names;
}

// The folder lines of a list, in order.
QStringList folderLines(const QByteArray& list)
{
    QStringList out;
    const QList<QByteArray> lines = list.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i - 1) == "\r")
            out.append(platform::decodeName(lines.at(i).chopped(1)));
    }
    return out;
}

} // namespace

class TestCatalogWalk : public QObject {
    Q_OBJECT

private slots:
    void depthFirstPreOrder()
    {
        ListFixture fx;
        const QString a = fx.folder;
        QVERIFY(writeDated(a + "/top.txt", "1"));
        QVERIFY(writeDated(a + "/B/b.txt", "22"));
        QVERIFY(writeDated(a + "/B/D/d.txt", "4444"));
        QVERIFY(writeDated(a + "/c/c.txt", "333"));
        const QString lower = platform::lowerPath(a);
        // The sections a, then each sub-folder with all below it, sub-folders
        // in the file system's own order.
        QByteArray expected = folderHeader(a) + entry("TOP.TXT", 1);
        for (const QString& sub : subFoldersInOrder(a)) {
            if (sub == "B") {
                expected += folderHeader(lower + "/b") + entry("B.TXT", 2);
                expected += folderHeader(lower + "/b/d") + entry("D.TXT", 4);
            } else {
                expected += folderHeader(lower + "/c") + entry("C.TXT", 3);
            }
        }
        BuildRun run;
        QCOMPARE(run.walk(a, fx.listFile), expected);
        QCOMPARE(run.host.yields, 4 + 4); // once per folder, once per file
        QCOMPARE(run.host.lastFileStarted().isEmpty(), false);
    }

    void windowSeesLowerCaseFolders()
    {
        ListFixture fx;
        QVERIFY(QDir().mkpath(fx.folder + "/Sub"));
        BuildRun run;
        run.walk(fx.folder, fx.listFile);
        const QString lower = platform::lowerPath(fx.folder);
        QCOMPARE(run.host.titles, QStringList({lower + "/", lower + "/sub/"}));
        QCOMPARE(run.host.pathPanels, QStringList({lower + "/", lower + "/sub/"}));
        QCOMPARE(run.host.dir1s, QStringList({lower, lower + "/sub"}));
        QCOMPARE(run.pane.folderPath(), lower + "/sub");
    }

    void dotFoldersAndFilesAreLeftOut()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/.cache/inside.txt", "x"));
        QVERIFY(writeDated(fx.folder + "/.hidden.txt", "x"));
        QVERIFY(writeDated(fx.folder + "/shown.txt", "x"));
        BuildRun run;
        QCOMPARE(run.walk(fx.folder, fx.listFile), folderHeader(fx.folder) + entry("SHOWN.TXT", 1));
    }

    void emptyFolderTreeGivesHeadersOnly()
    {
        ListFixture fx;
        QVERIFY(QDir().mkpath(fx.folder + "/only"));
        BuildRun run;
        QCOMPARE(run.walk(fx.folder, fx.listFile),
                 folderHeader(fx.folder) + folderHeader(fx.folder + "/only"));
    }

    // Links to folders: every real folder gets its section at its own place;
    // a link into the tree is not followed (its folder is listed where it
    // is), nor one to the start folder or above it (which would list the
    // tree again, or the whole file system); a link out of the tree is
    // followed once per run and listed under the link's own path.
    void linksInTheTree_data()
    {
        QTest::addColumn<QStringList>("links");   // "name>target" below the start folder
        QTest::addColumn<QStringList>("folders"); // the folder lines, below the start folder
        const QStringList real = {"", "/mixed case dir", "/sub"};
        QTest::newRow("into the tree, met first")
            << QStringList{"/aaa>Mixed Case Dir", "/sub/zzz>../Mixed Case Dir"} << real;
        QTest::newRow("to the start folder") << QStringList{"/self>.", "/sub/up>.."} << real;
        QTest::newRow("to the root of the file system") << QStringList{"/root>/"} << real;
        QTest::newRow("above the start folder") << QStringList{"/above>../.."} << real;
        QTest::newRow("out of the tree, twice")
            << QStringList{"/link1>OUTSIDE", "/link2>OUTSIDE"}
            << QStringList{"", "/link1", "/mixed case dir", "/sub"};
        QTest::newRow("out of the tree and back in")
            << QStringList{"/link1>OUTSIDE", "@/back>TREE/sub"}
            << QStringList{"", "/link1", "/mixed case dir", "/sub"};
    }
    void linksInTheTree()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, folders);
        ListFixture fx;
        const QString outside = fx.root.path() + "/outside";
        QVERIFY(writeDated(outside + "/o.txt", "x"));
        QVERIFY(writeDated(fx.folder + "/Mixed Case Dir/m.txt", "x"));
        QVERIFY(writeDated(fx.folder + "/sub/s.txt", "x"));
        for (const QString& link : links) {
            const bool inOutside = link.startsWith(u'@');
            const QString name = link.section(u'>', 0, 0).mid(inOutside ? 1 : 0);
            QString target = link.section(u'>', 1);
            target.replace("OUTSIDE", outside).replace("TREE", fx.folder);
            const QString at = (inOutside ? outside : fx.folder) + name;
            QCOMPARE(
                ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()),
                0);
        }
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        QStringList expected;
        for (const QString& folder : folders)
            expected << platform::lowerPath(fx.folder) + folder;
        QCOMPARE(folderLines(out), expected);
        QCOMPARE(int(out.count("M.TXT")), 1);
        QCOMPARE(int(out.count("O.TXT")), folders.contains("/link1") ? 1 : 0);
    }

    // Sub-folders come in the pane's order whatever order the file system
    // keeps them in: letter case ignored, names that differ only in case in
    // the order of their bytes.
    void subFoldersInThePanesOrder()
    {
        ListFixture fx;
        for (const char* name : {"gamma", "Alpha", "delta", "Beta"})
            QVERIFY(writeDated(fx.folder + '/' + name + '/' + name + ".txt", "x"));
        QVERIFY(writeDated(fx.folder + "/a/lower.txt", "x"));
        QVERIFY(writeDated(fx.folder + "/A/upper.txt", "x"));
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        const QString lower = platform::lowerPath(fx.folder);
        QCOMPARE(folderLines(out),
                 (QStringList{lower, lower + "/a", lower + "/a", lower + "/alpha", lower + "/beta",
                              lower + "/delta", lower + "/gamma"}));
        QVERIFY(out.indexOf("UPPER.TXT") < out.indexOf("LOWER.TXT")); // "A" before "a"
    }

    void unreadableFolderKeepsItsSection()
    {
        if (runningAsRoot())
            QSKIP("permissions do not stop reads for root");
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/locked/l.txt", "x"));
        QVERIFY(writeDated(fx.folder + "/open/o.txt", "x"));
        const QString locked = fx.folder + "/locked";
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QVERIFY(out.contains(folderHeader(locked) + "\r\n") || out.endsWith(folderHeader(locked)));
        QVERIFY(out.contains(folderHeader(fx.folder + "/open") + entry("O.TXT", 1)));
        QVERIFY(!out.contains("L.TXT"));
    }

    void siblingsDifferingOnlyInCase()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/A/upper.txt", "1"));
        QVERIFY(writeDated(fx.folder + "/a/lower.txt", "22"));
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        const QString shown = platform::lowerPath(fx.folder) + "/a";
        // Both sections carry the lower-case text, each with its own files.
        QVERIFY(out.contains(folderHeader(shown) + entry("UPPER.TXT", 1)));
        QVERIFY(out.contains(folderHeader(shown) + entry("LOWER.TXT", 2)));
        QCOMPARE(folderLines(out).size(), 3);
    }

    void mixedCaseTreeIsFoundFromLowerCaseText()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/Games/Arcade/PacMan.zoo", "xyz"));
        BuildRun run;
        // The Path panel holds lower-case text; the real tree is not.
        const QByteArray out = run.walk(platform::lowerPath(fx.folder), fx.listFile);
        QVERIFY(out.contains(folderHeader(fx.folder + "/games/arcade") + entry("PACMAN.ZOO", 3)));
    }

    void abortAtTheThirdFile_data()
    {
        QTest::addColumn<bool>("archives");
        QTest::newRow("plain files: the third entry is written") << false;
        QTest::newRow("archives: the third extraction is aborted") << true;
    }
    void abortAtTheThirdFile()
    {
        QFETCH(bool, archives);
        ListFixture fx;
        const QString ext = archives ? ".zip" : ".txt";
        for (const char* name : {"a", "b", "c", "d"})
            QVERIFY(writeDated(fx.folder + "/" + name + ext, "12345"));
        QVERIFY(writeDated(fx.folder + "/later/l.txt", "x"));
        FakeDescriptions descriptions;
        BuildRun run;
        run.descriptions = &descriptions;
        // The zip component honours an abort asked for during its call.
        descriptions.statusOverride = [&](const QString&) {
            return run.zip.abortRequest() ? diz::ZipStatus::Aborted : diz::ZipStatus::Success;
        };
        // Yield 1 is the folder's, so the third file's is yield 4: the Abort
        // branch sets its flags there.
        run.host.onYield = [&](int n) {
            if (n == 4) {
                run.zip.setAbortRequest(true);
                run.control.keepRunning = false;
                run.control.listAborted = true;
            }
        };
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        QByteArray expected = folderHeader(fx.folder) + entry(("A" + ext.toUpper()).toLatin1(), 5) +
                              entry(("B" + ext.toUpper()).toLatin1(), 5);
        if (!archives)
            expected += entry("C.TXT", 5);
        QCOMPARE(out, expected);
        QVERIFY(out.endsWith("\r\n"));
        QCOMPARE(run.host.titles.size(), 1); // no later folder started
    }

    void keepRunningClearedBeforeTheStart()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/a.txt", "x"));
        BuildRun run;
        run.control.keepRunning = false;
        QCOMPARE(run.walk(fx.folder, fx.listFile), QByteArray());
        QCOMPARE(run.host.titles.size(), 1); // the title is set before the yield
        QCOMPARE(run.host.yields, 1);
    }

    void listAbortedStartsNothing()
    {
        ListFixture fx;
        BuildRun run;
        run.control.listAborted = true;
        QCOMPARE(run.walk(fx.folder, fx.listFile), QByteArray());
        QVERIFY(run.host.titles.isEmpty());
    }

    void deepTreeKeepsItsOrder()
    {
        ListFixture fx;
        QString path = fx.folder;
        const int depth = 200;
        for (int i = 0; i < depth; ++i)
            path += "/d";
        QVERIFY(QDir().mkpath(path));
        QVERIFY(writeDated(path + "/deep.txt", "x"));
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        const QStringList folders = folderLines(out);
        QCOMPARE(folders.size(), depth + 1);
        for (int i = 1; i < folders.size(); ++i)
            QCOMPARE(folders.at(i), folders.at(i - 1) + "/d");
        QVERIFY(out.endsWith(entry("DEEP.TXT", 1)));
    }

    // A deep tree with a sibling at every level, with few descriptors
    // allowed: the walk lets folders go and opens them again by name, and
    // never runs out.
    void deepWideTreeWithFewDescriptors()
    {
        ListFixture fx;
        QString path = fx.folder;
        const int depth = 150;
        for (int i = 0; i < depth; ++i) {
            QVERIFY(writeDated(path + "/b/leaf.txt", "x"));
            path += "/a";
        }
        QVERIFY(QDir().mkpath(path));
        struct rlimit old;
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &old), 0);
        struct rlimit few = old;
        few.rlim_cur = 100;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &few), 0);
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        ::setrlimit(RLIMIT_NOFILE, &old);
        QCOMPARE(int(folderLines(out).size()), 2 * depth + 1);
        QCOMPARE(int(out.count("LEAF.TXT")), depth);
    }

    void undecodableFolderNames()
    {
        ListFixture fx;
        const QByteArray raw = QFile::encodeName(fx.folder) + "/Caf\xe9";
        QCOMPARE(::mkdir(raw.constData(), 0755), 0);
        const QString sub = platform::decodeName(raw);
        QVERIFY(platform::writeFile(sub + "/x.txt", "x"));
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.listFile);
        QVERIFY(platform::removeFile(sub + "/x.txt"));
        QVERIFY(::rmdir(raw.constData()) == 0);
        const QByteArray header =
            "\r\n" + QFile::encodeName(platform::lowerPath(fx.folder)) + "/caf\xe9\r\nX.TXT";
        QVERIFY2(out.contains(header), out.constData());
    }

    void existingListIsReplaced()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/a.txt", "x"));
        QVERIFY(writeBytes(fx.listFile, QByteArray(100000, 'o')));
        BuildRun run;
        QCOMPARE(run.walk(fx.folder, fx.listFile), folderHeader(fx.folder) + entry("A.TXT", 1));
    }

    void listInTheListedFolder()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/a.txt", "x"));
        BuildRun run;
        const QByteArray out = run.walk(fx.folder, fx.folder + "/Vexlo.txt");
        QCOMPARE(out, folderHeader(fx.folder) + entry("A.TXT", 1));
    }

    void listFileThatCannotBeCreated()
    {
        ListFixture fx;
        QVERIFY(writeDated(fx.folder + "/a.txt", "x"));
        BuildRun run;
        CatalogJob job = run.job();
        const QString list = fx.root.path() + "/missing/list.txt";
        const MakeListResult result = MakeListRun(job, list, fx.folder);
        QVERIFY(!result.ok);
        QCOMPARE(result.errorText, QString("cannot create the list file %1: %2")
                                       .arg(list, QString::fromLocal8Bit(std::strerror(ENOENT))));
        QVERIFY(!QFile::exists(list));
        QVERIFY(run.host.titles.isEmpty()); // no walk
    }

    void writeFailureIsReported()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this system");
        ListFixture fx;
        for (int i = 0; i < 30; ++i)
            QVERIFY(QDir().mkpath(fx.folder + QString("/folder%1").arg(i)));
        QVERIFY(writeDated(fx.folder + "/a.txt", "x"));
        BuildRun run;
        CatalogJob job = run.job();
        const MakeListResult result = MakeListRun(job, "/dev/full", fx.folder);
        QVERIFY(!result.ok);
        QVERIFY(result.errorText.startsWith("cannot write the list file /dev/full: "));
        QVERIFY(result.errorText.endsWith(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    }
};

QTEST_GUILESS_MAIN(TestCatalogWalk)
#include "test_catalog_walk.moc"
