// SPDX-License-Identifier: MIT
#include "diz/DizReader.h"
#include "diz/DizWriter.h"
#include "diz/FolderListing.h"
#include "diz/ZipComponent.h"
#include "platform/Paths.h"
#include "reliability_support.h"
#include "test_diz_fakes.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#include <zip.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;
using namespace vexlo::diz;
using vexlo::test::FakeHost;
using vexlo::test::FakePane;

namespace {

// The member's bytes as libzip reads them, "<none>" when there is no such
// member, "<not a zip>" when the archive does not open.
QByteArray memberOf(const QString& archive, const char* name)
{
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (!z)
        return "<not a zip>";
    QByteArray out = "<none>";
    zip_stat_t st;
    if (zip_stat(z, name, ZIP_FL_NOCASE, &st) == 0) {
        if (zip_file_t* f = zip_fopen(z, name, ZIP_FL_NOCASE)) {
            out = QByteArray(qsizetype(st.size), '\0');
            if (zip_fread(f, out.data(), st.size) != zip_int64_t(st.size))
                out = "<read error>";
            zip_fclose(f);
        }
    }
    zip_discard(z);
    return out;
}

// One update as the fake component saw it.
struct Update {
    QString archive;
    QList<int> highlighted;
    QByteArray temp;
};

// A Save diz set-up over a folder of empty files (the fake update does not
// read them; the run only resets their attributes).
struct Rig {
    QTemporaryDir dir;
    ZipComponent zip;
    FakeHost host;
    FakePane pane;
    RunControl run;
    QString selectedFilePath; // the window's selected entry
    DizWriter writer{zip, host, pane, run};
    std::vector<Update> updates;
    std::function<ZipStatus(int)> answer = [](int) {
        return ZipStatus(0);
    }; // by update number, from 1
    QStringList freeSpaceAskedFor;

    explicit Rig(int files) : pane(QString(), {})
    {
        platform::setUserFoldersOverride(dir.path());
        pane.folder = dir.path() + "/zips";
        for (int i = 0; i < files; ++i) {
            const QString name = QStringLiteral("a%1.zip").arg(i, 4, 10, QLatin1Char('0'));
            test::writeBytes(pane.folder + '/' + name, QByteArray());
            pane.names.append(name);
        }
        pane.selected.assign(size_t(files), false);
        host.run = &run;
        writer.setFreeSpaceQuery([this](const QString& path) {
            freeSpaceAskedFor.append(path);
            return qint64(5000);
        });
        writer.setUpdateCall([this](ZipComponent& z) {
            updates.push_back({z.archivePath(), pane.selection(), test::readBytes(temp())});
            [&] {
                QVERIFY(!z.keepPaths());
                QCOMPARE(z.memberMask(), temp() + '\r');
                QCOMPARE(host.caption, QString("&Abort"));
                QVERIFY(run.keepRunning);
            }();
            return answer(int(updates.size()));
        });
    }
    ~Rig() { platform::setUserFoldersOverride(QString()); }

    QString temp() const { return platform::tempDizPath(); }
    QString path(int index) const { return pane.folder + '/' + pane.names.at(index); }
    QStringList archives() const
    {
        QStringList out;
        for (const Update& u : updates)
            out.append(u.archive);
        return out;
    }
};

const QStringList kIdleTail = {"saving 0 keep=1", "busy 0 keep=1"};

// Save diz over real archives in <dir>/zips, every file selected; the user's
// folders in <dir>/prog. start() reads the folder once the archives are made.
struct ArchiveRig {
    QTemporaryDir dir;
    QString folder = dir.path() + "/zips";
    ZipComponent zip;
    FakeHost host;
    FolderListing listing;
    RunControl run;
    std::optional<DizWriter> writer;

    ArchiveRig()
    {
        platform::setUserFoldersOverride(dir.path() + "/prog");
        QDir().mkpath(dir.path() + "/prog");
    }
    ~ArchiveRig() { platform::setUserFoldersOverride(QString()); }
    bool start()
    {
        if (!listing.setFolderPath(folder))
            return false;
        writer.emplace(zip, host, listing, run);
        for (int i = 0; i < listing.count(); ++i)
            listing.setSelected(i, true);
        return true;
    }
};

} // namespace

class TestDizWriter : public QObject {
    Q_OBJECT

private slots:
    void emptyBoxDoesNothing()
    {
        Rig rig(2);
        rig.pane.select({0});
        rig.writer.press(rig.selectedFilePath);
        QVERIFY(rig.host.log.isEmpty());
        QVERIFY(!QFile::exists(rig.temp()));
        QVERIFY(!rig.run.keepRunning);
    }

    void boxTextPlusCrLfIsStored_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("temp");
        QTest::newRow("HELLO") << "HELLO" << QByteArray("HELLO\r\n");
        QTest::newRow("spaces only") << "  " << QByteArray("  \r\n");
        QTest::newRow("line end only") << "\n" << QByteArray("\r\n\r\n");
        QTest::newRow("DOS glyphs")
            << QString::fromUtf8("╔═╗♪◙␀\u00A0") << QByteArray("\xc9\xcd\xbb\r\n\0\xff\r\n", 9);
    }
    void boxTextPlusCrLfIsStored()
    {
        QFETCH(QString, box);
        QFETCH(QByteArray, temp);
        Rig rig(1);
        rig.pane.select({0});
        rig.host.box = box;
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(rig.updates.size(), size_t(1));
        QCOMPARE(rig.updates[0].temp, temp);
        QCOMPARE(test::readBytes(rig.temp()), temp); // it stays after the run
    }

    void selectedArchivesInOrderEachHighlighted()
    {
        Rig rig(8);
        rig.pane.select({1, 4, 7});
        rig.host.box = "new";
        rig.answer = [&](int n) {
            if (n == 1) // the file is written once, before the first archive
                test::writeBytes(rig.temp(), "changed");
            return ZipStatus(0);
        };
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(rig.archives(), QStringList({rig.path(1), rig.path(4), rig.path(7)}));
        QCOMPARE(rig.updates[0].highlighted, QList<int>({1}));
        QCOMPARE(rig.updates[1].highlighted, QList<int>({4}));
        QCOMPARE(rig.updates[2].highlighted, QList<int>({7}));
        QCOMPARE(rig.updates[2].temp, QByteArray("changed"));
        QCOMPARE(rig.pane.selection(), QList<int>({7})); // stays highlighted
        QCOMPARE(rig.host.box, QString("new"));
        QCOMPARE(rig.freeSpaceAskedFor.size(), 1);
    }

    void runAndIdleStates()
    {
        Rig rig(1);
        rig.pane.select({0});
        rig.host.box = "x";
        rig.writer.press(rig.selectedFilePath);
        const QStringList expected =
            QStringList{"saving 1 keep=1", "busy 1 keep=1", "progress 0 keep=1", "yield keep=1"} +
            kIdleTail;
        QCOMPARE(rig.host.log, expected);
        QVERIFY(!rig.run.keepRunning);
        QVERIFY(!rig.writer.isRunning());
    }

    void errorStatusesAreShownAndTheRunGoesOn_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("box");
        QTest::newRow("positive") << 7 << "          Error # 7";
        QTest::newRow("negative") << -3 << "          Error #-3";
        QTest::newRow("not a zip") << 102 << "          Error # 102";
    }
    void errorStatusesAreShownAndTheRunGoesOn()
    {
        QFETCH(int, status);
        QFETCH(QString, box);
        Rig rig(3);
        rig.pane.select({0, 1, 2});
        rig.host.box = "desc";
        rig.answer = [status](int n) { return ZipStatus(n == 2 ? status : 0); };
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(rig.updates.size(), size_t(3));
        QCOMPARE(rig.host.box, box); // a later success does not clear it
    }

    void readOnlyDriveIsRefused_data()
    {
        QTest::addColumn<qint64>("freeSpace");
        QTest::addColumn<bool>("refused");
        QTest::newRow("999") << qint64(999) << true;
        QTest::newRow("1000") << qint64(1000) << false;
        QTest::newRow("0") << qint64(0) << true;
        QTest::newRow("beyond 32 bits") << (qint64(1) << 32) << false;
    }
    void readOnlyDriveIsRefused()
    {
        QFETCH(qint64, freeSpace);
        QFETCH(bool, refused);
        Rig rig(2);
        rig.pane.select({0, 1});
        rig.host.box = "desc";
        rig.selectedFilePath = rig.path(1);
        QString asked;
        rig.writer.setFreeSpaceQuery([&](const QString& path) {
            asked = path;
            return freeSpace;
        });
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(asked, rig.path(1));
        QCOMPARE(rig.updates.empty(), refused);
        QCOMPARE(rig.host.readOnlyDriveNoted, refused);
        QCOMPARE(rig.host.box, refused ? QString("Read only drive") : QString("desc"));
        if (refused) {
            QCOMPARE(rig.pane.selection(), QList<int>({0, 1})); // nothing touched
            QCOMPARE(rig.host.log.mid(rig.host.log.size() - kIdleTail.size()), kIdleTail);
        }
    }

    void abortBetweenArchives()
    {
        Rig rig(5);
        rig.pane.select({0, 1, 2, 3, 4});
        rig.host.box = "desc";
        rig.host.onYield = [&] {
            if (rig.updates.size() == 2)
                rig.writer.press(rig.selectedFilePath); // the button reads "&Abort"
        };
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(rig.archives(), QStringList({rig.path(0), rig.path(1)}));
        QVERIFY(rig.zip.abortRequest());
        QCOMPARE(rig.host.caption, QString("Save &diz"));
        QCOMPARE(rig.pane.selection(), QList<int>({1}));
        QVERIFY(!rig.run.keepRunning);
    }

    void abortDuringAnUpdate()
    {
        Rig rig(5);
        rig.pane.select({0, 1, 2, 3, 4});
        rig.host.box = "desc";
        QString captionAfterAbort;
        rig.answer = [&](int n) {
            if (n != 2)
                return ZipStatus(0);
            rig.writer.press(rig.selectedFilePath); // served while the component works
            captionAfterAbort = rig.host.caption;
            rig.writer.press(rig.selectedFilePath); // "Save &diz" again: the run is still finishing
            return rig.zip.abortRequest() ? ZipStatus::Aborted : ZipStatus::Success;
        };
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(captionAfterAbort, QString("Save &diz"));
        QCOMPARE(rig.archives(), QStringList({rig.path(0), rig.path(1)}));
        QCOMPARE(rig.host.box, QString("          Error # 190"));
        QVERIFY(!rig.run.keepRunning);
        QVERIFY(!rig.writer.isRunning());
    }

    void noSelectionMakesAnEmptyRun()
    {
        Rig rig(3);
        rig.host.box = "desc";
        rig.writer.press(rig.selectedFilePath);
        QVERIFY(rig.updates.empty());
        QCOMPARE(test::readBytes(rig.temp()), QByteArray("desc\r\n"));
        QCOMPARE(rig.freeSpaceAskedFor.size(), 1);
        QCOMPARE(rig.host.log.mid(rig.host.log.size() - kIdleTail.size()), kIdleTail);
    }

    void atMost999Archives_data()
    {
        QTest::addColumn<int>("selected");
        QTest::newRow("999 are stored") << 999;
        QTest::newRow("1000 are refused") << 1000;
    }
    void atMost999Archives()
    {
        QFETCH(int, selected);
        Rig rig(selected);
        for (int i = 0; i < selected; ++i)
            rig.pane.selected[size_t(i)] = true;
        rig.host.box = "desc";
        rig.writer.press(rig.selectedFilePath);
        const bool refused = selected > DizWriter::kMaxArchives;
        QCOMPARE(int(rig.updates.size()), refused ? 0 : selected);
        QCOMPARE(rig.host.notices.size(), refused ? 1 : 0);
        QCOMPARE(rig.host.box, QString("desc"));
        QCOMPARE(rig.pane.selection().size(), refused ? selected : 1);
        QVERIFY(!rig.run.keepRunning);
    }

    void archiveThatCannotBePreparedEndsTheRun()
    {
        Rig rig(4);
        rig.pane.select({0, 2, 3});
        QVERIFY(QFile::remove(rig.path(2))); // gone since the pane was read
        rig.host.box = "desc";
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(rig.archives(), QStringList({rig.path(0)}));
        QCOMPARE(rig.pane.selection(), QList<int>({2}));
        QCOMPARE(rig.host.log.mid(rig.host.log.size() - kIdleTail.size()), kIdleTail);
    }

    void foreignCharacterIsRefusedAndKept()
    {
        Rig rig(1);
        rig.pane.select({0});
        rig.host.box = QString::fromUtf8("ok\nnot € ok");
        rig.writer.press(rig.selectedFilePath);
        QVERIFY(rig.updates.empty());
        QVERIFY(!QFile::exists(rig.temp()));
        QCOMPARE(rig.host.box, QString::fromUtf8("ok\nnot € ok"));
        QCOMPARE(rig.host.caption, QString("Save &diz"));
        QCOMPARE(rig.host.log.first(), QString("select 7 1 keep=0"));
        QCOMPARE(rig.host.notices.size(), 1);
        QVERIFY(rig.host.notices[0].contains("line 2, column 5"));
        QVERIFY(!rig.run.keepRunning);
    }

    // What stands at the temporary file's name is never written through,
    // and without a folder of this user's alone there is no file at all:
    // nothing is stored, and nothing outside that folder changes.
    void temporaryFileThatCannotBeWrittenTouchesNothing_data()
    {
        QTest::addColumn<QString>("inItsPlace");
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a link to a file") << "link";
        QTest::newRow("a link to nowhere") << "dangling link";
        QTest::newRow("no private folder") << "no folder";
    }
    void temporaryFileThatCannotBeWrittenTouchesNothing()
    {
        QFETCH(QString, inItsPlace);
        Rig rig(1);
        rig.pane.select({0});
        const QString target = rig.dir.filePath("elsewhere.txt");
        std::optional<test::ScopedEnv> runtime, cache;
        if (inItsPlace == "folder") {
            QVERIFY(QDir().mkdir(rig.temp()));
        } else if (inItsPlace == "link") {
            QVERIFY(test::writeBytes(target, "theirs"));
            QVERIFY(QFile::link(target, rig.temp()));
        } else if (inItsPlace == "dangling link") {
            QVERIFY(QFile::link(target, rig.temp()));
        } else {
            // The cache folder open to everyone, and no session folder.
            QVERIFY(QDir().mkpath(rig.dir.filePath("cache/vexlo32")));
            QCOMPARE(
                ::chmod(QFile::encodeName(rig.dir.filePath("cache/vexlo32")).constData(), 0777), 0);
            runtime.emplace("XDG_RUNTIME_DIR", QString());
            cache.emplace("XDG_CACHE_HOME", rig.dir.filePath("cache"));
            platform::setUserFoldersOverride(QString());
        }
        rig.host.box = "desc";
        rig.writer.press(rig.selectedFilePath);
        platform::setUserFoldersOverride(rig.dir.path());
        runtime.reset();
        cache.reset();

        QVERIFY(rig.updates.empty());
        QVERIFY(rig.freeSpaceAskedFor.isEmpty());
        QCOMPARE(rig.host.box, QString("desc"));
        QCOMPARE(rig.host.notices.size(), 1);
        QVERIFY2(rig.host.notices[0].startsWith("Not saved: cannot write "),
                 qPrintable(rig.host.notices[0]));
        QCOMPARE(rig.pane.selection(), QList<int>({0}));
        QVERIFY(!rig.run.keepRunning);
        QCOMPARE(test::readBytes(target), QByteArray(inItsPlace == "link" ? "theirs" : ""));
        QCOMPARE(QFile::exists(target), inItsPlace == "link");
        QVERIFY(!QFile::exists(rig.dir.filePath("cache/vexlo32/file_id.diz")));
    }

    void separatorFollowsDir1_data()
    {
        QTest::addColumn<QString>("dirFolder");
        QTest::addColumn<bool>("separator");
        QTest::newRow("folder") << "/Zips" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("root") << "/" << false;
    }
    void separatorFollowsDir1()
    {
        QFETCH(QString, dirFolder);
        QFETCH(bool, separator);
        Rig rig(1);
        rig.pane.select({0});
        rig.host.box = "desc";
        rig.host.dirFolder = dirFolder;
        rig.writer.press(rig.selectedFilePath);
        if (separator) {
            QCOMPARE(rig.archives(), QStringList({rig.path(0)}));
        } else {
            // No separator: that path names no file, so the run ends there.
            QVERIFY(rig.updates.empty());
            QCOMPARE(rig.pane.selection(), QList<int>({0}));
        }
    }

    void getThenSaveAddsOneEmptyLine()
    {
        Rig rig(1);
        rig.pane.select({0});
        DizReader reader(rig.zip, rig.host, rig.pane, rig.run);
        reader.setExtractCall([&](ZipComponent&) {
            test::writeBytes(rig.temp(), "A\r\nB\r\nC\r\n");
            return ZipStatus(0);
        });
        reader.getDiz(QString());
        QCOMPARE(rig.host.box, QString("A\nB\nC\n"));
        rig.writer.press(rig.selectedFilePath);
        QCOMPARE(rig.updates.size(), size_t(1));
        QCOMPARE(rig.updates[0].temp, QByteArray("A\r\nB\r\nC\r\n\r\n"));
    }

    // With the real zip component.

    void realSaveKeepsANonZipByteIdentical()
    {
        ArchiveRig rig;
        const QString& folder = rig.folder;
        FakeHost& host = rig.host;
        QVERIFY(test::makeZip(folder + "/a.zip", {{"readme.txt", "a"}, {"FILE_ID.DIZ", "old"}}));
        QVERIFY(test::writeBytes(folder + "/b.lzh", "-lh5- not a zip archive"));
        QVERIFY(test::makeZip(folder + "/c.zip", {{"readme.txt", "c"}}));
        QVERIFY(QFile::setPermissions(folder + "/c.zip", QFile::ReadOwner));
        QVERIFY(rig.start());
        host.box = QString::fromUtf8("╔═╗\nnew\n");
        rig.writer->press(folder + "/a.zip");

        const QByteArray stored("\xc9\xcd\xbb\r\nnew\r\n\r\n");
        QCOMPARE(memberOf(folder + "/a.zip", "file_id.diz"), stored);
        QCOMPARE(memberOf(folder + "/a.zip", "readme.txt"), QByteArray("a"));
        QCOMPARE(test::readBytes(folder + "/b.lzh"), QByteArray("-lh5- not a zip archive"));
        QCOMPARE(memberOf(folder + "/c.zip", "file_id.diz"), stored);
        QVERIFY(QFileInfo(folder + "/c.zip").isWritable()); // attributes reset
        QVERIFY2(host.box.startsWith("          Error # "), qPrintable(host.box));
        QVERIFY(host.box.mid(18).toInt() > 0);
    }

    // Between archives the window serves its events: a copy on another
    // display, or anyone else, may then rewrite or remove the temporary
    // file. Every archive still receives the text of the box.
    void laterArchivesGetTheBoxWhateverTheFileBecomes_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("rewritten") << "rewritten";
        QTest::newRow("removed") << "removed";
        QTest::newRow("a folder in its place") << "folder";
    }
    void laterArchivesGetTheBoxWhateverTheFileBecomes()
    {
        QFETCH(QString, meanwhile);
        ArchiveRig rig;
        const QString& folder = rig.folder;
        FakeHost& host = rig.host;
        for (const char* name : {"/a.zip", "/b.zip", "/c.zip"})
            QVERIFY(test::makeZip(folder + name, {{"FILE_ID.DIZ", "old"}}));
        QVERIFY(rig.start());
        host.box = QStringLiteral("ours");
        const QString temp = platform::tempDizPath();
        host.onYield = [&] {
            QFile::remove(temp);
            if (meanwhile == "rewritten")
                test::writeBytes(temp, "another display's\r\n");
            else if (meanwhile == "folder")
                QDir().mkdir(temp);
        };
        rig.writer->press(folder + "/a.zip");

        for (const char* name : {"/a.zip", "/b.zip", "/c.zip"})
            QCOMPARE(memberOf(folder + name, "file_id.diz"), QByteArray("ours\r\n"));
        QCOMPARE(host.box, QString("ours"));
    }

    // Someone else's archive (its owner could not be kept), even one this
    // user may write, counts as one whose attributes cannot be reset: the
    // run ends there, with that archive untouched and highlighted.
    void someoneElsesArchiveEndsTheRun()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to make a file of another user");
        QTemporaryDir dir;
        const QString prog = dir.path() + "/prog";
        const QString folder = dir.path() + "/zips";
        QVERIFY(QDir().mkpath(prog));
        QVERIFY(QDir().mkpath(folder));
        for (const QString& path : {dir.path(), prog, folder})
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0777), 0);
        QStringList archives;
        for (const char* name : {"a.zip", "b.zip", "c.zip"}) {
            archives << folder + '/' + name;
            QVERIFY(test::makeZip(archives.last(), {{"readme.txt", "r"}, {"FILE_ID.DIZ", "old"}}));
        }
        QCOMPARE(::chown(QFile::encodeName(archives[0]).constData(), 65534, 65534), 0);
        QCOMPARE(::chown(QFile::encodeName(archives[2]).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(archives[1]).constData(), 0666), 0); // root's
        const QByteArray rootsBefore = test::readBytes(archives[1]);

        const int rc = test::inChild([&]() -> int {
            if (!test::dropToNobody())
                return test::kChildCannot;
            platform::setUserFoldersOverride(prog);
            ZipComponent zip;
            FakeHost host;
            FolderListing listing;
            if (!listing.setFolderPath(folder) || listing.count() != 3)
                return 2;
            RunControl run;
            DizWriter writer(zip, host, listing, run);
            for (int i = 0; i < 3; ++i)
                listing.setSelected(i, true);
            host.box = QStringLiteral("new");
            writer.press(archives[0]);
            if (memberOf(archives[0], "file_id.diz") != "new\r\n")
                return 3; // the first one is ours and stored
            if (test::readBytes(archives[1]) != rootsBefore)
                return 4;
            if (memberOf(archives[2], "file_id.diz") != "old")
                return 5; // the run ended before it
            if (listing.isSelected(0) || !listing.isSelected(1) || listing.isSelected(2))
                return 6;
            return host.caption == "Save &diz" && !run.keepRunning ? 0 : 7;
        });
        if (rc == test::kChildCannot)
            QSKIP("cannot run as another user");
        QCOMPARE(rc, 0);
        QCOMPARE(test::readBytes(archives[1]), rootsBefore);
    }
};

QTEST_GUILESS_MAIN(TestDizWriter)
#include "test_diz_writer.moc"
