// SPDX-License-Identifier: MIT
#include "diz/ArchiveKinds.h"
#include "diz/DizReader.h"
#include "diz/FolderListing.h"
#include "diz/ZipComponent.h"
#include "platform/Paths.h"
#include "test_diz_fakes.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;
using namespace vexlo::diz;
using vexlo::test::FakeHost;
using vexlo::test::FakePane;

namespace {

// A Get diz set-up whose program folder (and so the temporary file) is a
// fresh temporary folder.
struct Rig {
    QTemporaryDir dir;
    ZipComponent zip;
    FakeHost host;
    FakePane pane;
    RunControl run;
    QString chosenFolder;     // the window's last chosen folder
    QString selectedFilePath; // what the window keeps of a Get diz
    DizReader reader{zip, host, pane, run};
    int extractCalls = 0;

    // A Get diz as the window makes it: the path taken becomes the selected one.
    void getDiz(DizReader& from)
    {
        const QString path = from.getDiz(chosenFolder);
        if (!path.isNull())
            selectedFilePath = path;
    }
    void getDiz() { getDiz(reader); }

    explicit Rig(const QStringList& names = {"a.zip"}) : pane(QStringLiteral("/zips"), names)
    {
        platform::setUserFoldersOverride(dir.path());
    }
    ~Rig() { platform::setUserFoldersOverride(QString()); }

    QString temp() const { return platform::tempDizPath(); }

    // The extraction answers the status and, when given, leaves that file.
    void fakeExtract(ZipStatus status, const QByteArray* file = nullptr)
    {
        reader.setExtractCall([this, status, file](ZipComponent&) {
            ++extractCalls;
            if (file)
                test::writeBytes(temp(), *file);
            return status;
        });
    }
};

const QString kCrc = QStringLiteral("          ** CRC Error ** ");

using Members = std::vector<test::Member>;

// Makes an archive of another kind, or says why the row cannot run.
#define MAKE_KIND_OR_SKIP(kind, path, ...)                                                         \
    do {                                                                                           \
        const QString made = test::makeKindArchive(kind, path, __VA_ARGS__);                       \
        if (made == QLatin1String("missing"))                                                      \
            QSKIP(qPrintable(QStringLiteral("no tool for ") + kind));                              \
        QVERIFY2(made.isEmpty(), qPrintable(made));                                                \
    } while (false)

// Reads the description of the file at path as Make list does: one
// descriptor, the first bytes deciding the reader.
ZipStatus readAnyKind(ZipComponent& zip, const QString& path, QByteArray& out)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ZipStatus::CannotOpenArchive;
    const ZipStatus status = readMemberOfAnyKind(zip, fd, QStringLiteral("file_id.diz"), out);
    ::close(fd);
    return status;
}

} // namespace

Q_DECLARE_METATYPE(Members)

class TestDizReader : public QObject {
    Q_OBJECT

private slots:
    void statusReactions_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("writesFile");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("saveEnabled"); // -1: left as it was
        QTest::addColumn<bool>("focus");
        QTest::newRow("0 with file") << 0 << true << "A\nB\n" << 1 << true;
        QTest::newRow("100 is read like 0") << 100 << true << "A\nB\n" << 1 << true;
        QTest::newRow("50 is read like 0") << 50 << true << "A\nB\n" << 1 << true;
        QTest::newRow("negative is read like 0") << -3 << true << "A\nB\n" << 1 << true;
        QTest::newRow("0 without file") << 0 << false << "" << 0 << false;
        QTest::newRow("140 nothing matched") << 140 << false << "" << -1 << true;
        QTest::newRow("190 aborted") << 190 << true << "" << -1 << false;
        QTest::newRow("150 CRC error") << 150 << true << kCrc + "150" << 0 << false;
        QTest::newRow("101 above 100") << 101 << false << kCrc + "101" << 0 << false;
        QTest::newRow("32767") << 32767 << false << kCrc + "32767" << 0 << false;
    }
    void statusReactions()
    {
        QFETCH(int, status);
        QFETCH(bool, writesFile);
        QFETCH(QString, box);
        QFETCH(int, saveEnabled);
        QFETCH(bool, focus);
        Rig rig;
        rig.pane.select({0});
        rig.host.box = QStringLiteral("old text");
        const QByteArray file("A\r\nB\r\n");
        rig.fakeExtract(ZipStatus(status), writesFile ? &file : nullptr);
        rig.getDiz();
        QCOMPARE(rig.extractCalls, 1);
        QCOMPARE(rig.host.box, box);
        QCOMPARE(rig.host.saveEnabled, saveEnabled);
        QCOMPARE(rig.host.focusCount > 0, focus);
        QCOMPARE(rig.host.log.first(), QString("box")); // emptied first
        // The progress bar is reset once the description is being read.
        QCOMPARE(rig.host.log.contains("progress 0"), status <= 100 && status != 140);
    }

    void unreadableTemporaryFileGivesEmptyBox()
    {
        Rig rig;
        rig.pane.select({0});
        rig.fakeExtract(ZipStatus::Success);
        QVERIFY(QDir().mkdir(rig.temp())); // stands there, but is no file
        rig.getDiz();
        QCOMPARE(rig.host.box, QString());
        QCOMPARE(rig.host.saveEnabled, 0);
        QCOMPARE(rig.host.focusCount, 0);
    }

    // No folder of this user's alone to extract into: the archive is not
    // read, and the box says so as for a target that cannot be written.
    void noPrivateTemporaryFolderIsAnUnwritableTarget()
    {
        Rig rig;
        rig.pane.select({0});
        rig.fakeExtract(ZipStatus::Success);
        const QString open = rig.dir.filePath("cache/vexlo32");
        QVERIFY(QDir().mkpath(open));
        QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);
        {
            const test::ScopedEnv runtime("XDG_RUNTIME_DIR", QString());
            const test::ScopedEnv cache("XDG_CACHE_HOME", rig.dir.filePath("cache"));
            platform::setUserFoldersOverride(QString());
            rig.getDiz();
            platform::setUserFoldersOverride(rig.dir.path());
        }
        QCOMPARE(rig.extractCalls, 0);
        QCOMPARE(rig.host.box, kCrc + "109");
        QCOMPARE(rig.host.saveEnabled, 0);
        QVERIFY(QDir(open).isEmpty());
    }

    void earlierTemporaryFileIsKeptAndShown()
    {
        Rig rig;
        rig.pane.select({0});
        QVERIFY(test::writeBytes(rig.temp(), "stale\r\n"));
        bool stoodThere = false;
        rig.reader.setExtractCall([&](ZipComponent&) {
            stoodThere = QFile::exists(rig.temp());
            return ZipStatus(50);
        });
        rig.getDiz();
        QVERIFY(stoodThere);
        QCOMPARE(rig.host.box, QString("stale\n"));
        QCOMPARE(rig.host.saveEnabled, 1);
    }

    void componentIsAskedAsAgreed()
    {
        Rig rig({"one.zip", "two.zip", "three.zip", "four.zip", "five.zip", "six.zip"});
        rig.pane.select({2, 5});
        QString mask, target, archive;
        bool keepPaths = true;
        rig.reader.setExtractCall([&](ZipComponent& zip) {
            keepPaths = zip.keepPaths();
            mask = zip.memberMask();
            target = zip.targetFolder();
            archive = zip.archivePath();
            return ZipStatus(ZipStatus::NothingMatched);
        });
        rig.getDiz();
        QVERIFY(!keepPaths);
        QCOMPARE(mask, QString("file_id.diz"));
        QCOMPARE(target, platform::temporaryFolder());
        QCOMPARE(archive, QString("/zips/six.zip")); // the last selected entry wins
        QCOMPARE(rig.selectedFilePath, archive);
    }

    void joiningRule_data()
    {
        QTest::addColumn<QString>("paneFolder");
        QTest::addColumn<QString>("chosenFolder");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("path");
        QTest::newRow("nothing chosen yet") << "/zips"
                                            << "" << true << "/zips/a.zip";
        QTest::newRow("root, nothing chosen: doubled") << "/"
                                                       << "" << true << "//a.zip";
        QTest::newRow("root chosen") << "/"
                                     << "/" << true << "/a.zip";
        QTest::newRow("folder chosen") << "/zips"
                                       << "/zips" << true << "/zips/a.zip";
        QTest::newRow("the chosen folder decides") << "/zips"
                                                   << "/" << true << "/zipsa.zip";
        QTest::newRow("no selection") << "/zips"
                                      << "/zips" << false << "/zips/";
        QTest::newRow("no selection, root chosen") << "/"
                                                   << "/" << false << "/";
    }
    void joiningRule()
    {
        QFETCH(QString, paneFolder);
        QFETCH(QString, chosenFolder);
        QFETCH(bool, selected);
        QFETCH(QString, path);
        Rig rig;
        rig.pane.folder = paneFolder;
        rig.chosenFolder = chosenFolder;
        if (selected)
            rig.pane.select({0});
        rig.fakeExtract(ZipStatus::NothingMatched);
        rig.getDiz();
        QCOMPARE(rig.selectedFilePath, path);
    }

    void onlyZipNamesAreRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("read");
        QTest::newRow("upper case") << "GAME.ZIP" << true;
        QTest::newRow("lower case") << "game.zip" << true;
        QTest::newRow("mixed") << "game.zIp" << true;
        QTest::newRow("no dot") << "gamezip" << true;
        QTest::newRow("text") << "README.TXT" << false;
        QTest::newRow("zip inside") << "a.zipx" << false;
        QTest::newRow("short") << "ip" << false;
    }
    void onlyZipNamesAreRead()
    {
        QFETCH(QString, name);
        QFETCH(bool, read);
        Rig rig({name});
        rig.pane.select({0});
        rig.host.saveEnabled = 1;
        rig.fakeExtract(ZipStatus::NothingMatched);
        rig.getDiz();
        QCOMPARE(rig.extractCalls, read ? 1 : 0);
        QCOMPARE(rig.host.box, QString());
        QCOMPARE(rig.host.saveEnabled, read ? 1 : 0); // 140 keeps it, a non-ZIP withdraws it
    }

    void noSelectionWithdrawsSaveDiz()
    {
        Rig rig;
        rig.host.saveEnabled = 1;
        rig.fakeExtract(ZipStatus::Success);
        rig.getDiz();
        QCOMPARE(rig.extractCalls, 0);
        QCOMPARE(rig.host.saveEnabled, 0);
    }

    void linesOfTheFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("box");
        QTest::newRow("three lines") << QByteArray("A\r\nB\r\nC\r\n") << "A\nB\nC\n";
        QTest::newRow("last line open") << QByteArray("A\r\nB") << "A\nB\n";
        QTest::newRow("empty file") << QByteArray() << "";
        QTest::newRow("a lone CR ends a line") << QByteArray("A\rB\r") << "A\nB\n";
        QTest::newRow("a lone LF does not") << QByteArray("A\nB") << QString::fromUtf8("A◙B\n");
        QTest::newRow("empty lines") << QByteArray("\r\n\r\n") << "\n\n";
        QTest::newRow("DOS art") << QByteArray("\xc9\xcd\xbb\r\n\xc8\xcd\xbc\r\n")
                                 << QString::fromUtf8("╔═╗\n╚═╝\n");
    }
    void linesOfTheFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, box);
        Rig rig;
        rig.pane.select({0});
        rig.fakeExtract(ZipStatus::Success, &file);
        rig.getDiz();
        QCOMPARE(rig.host.box, box);
        QCOMPARE(rig.host.saveEnabled, 1);
        QCOMPARE(rig.host.log.last(), QString("focus"));
    }

    void secondReadReplacesTheText()
    {
        Rig rig({"a.zip", "b.zip"});
        const QByteArray first("first\r\n"), second("second\r\n");
        rig.pane.select({0});
        rig.fakeExtract(ZipStatus::Success, &first);
        rig.getDiz();
        rig.pane.selected = {false, true};
        rig.fakeExtract(ZipStatus::Success, &second);
        rig.getDiz();
        QCOMPARE(rig.host.box, QString("second\n"));
    }

    void nothingHappensWhileARunIsGoing()
    {
        Rig rig;
        rig.pane.select({0});
        rig.run.keepRunning = true;
        rig.selectedFilePath = "/zips/other.zip";
        rig.host.box = "being saved";
        rig.fakeExtract(ZipStatus::Success);
        rig.getDiz();
        QCOMPARE(rig.extractCalls, 0);
        QCOMPARE(rig.host.box, QString("being saved"));
        QCOMPARE(rig.selectedFilePath, QString("/zips/other.zip"));
    }

    // Archives of other kinds, made with Debian's tools.

    void otherKinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("members");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("hideNames");
        QTest::addColumn<int>("keepBytes"); // the archive cut to this size; -1 whole
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray diz("\xc9\xcd\xbb Star Fighter v1.2\r\nA space game\r\n");
        const auto row = [&](const char* name, const char* kind, const Members& members,
                             ZipStatus status, const QByteArray& bytes = QByteArray(),
                             const QString& password = QString(), bool hideNames = false,
                             int keepBytes = -1) {
            QTest::newRow(name) << QString(kind) << QVariant::fromValue(members) << password
                                << hideNames << keepBytes << int(statusCode(status)) << bytes;
        };
        const Members usual{{"readme.txt", "read me"}, {"FILE_ID.DIZ", diz}};
        for (const char* kind : {"7z", "lzh", "cab", "arj", "tar", "tar.gz", "tar.bz2", "tar.xz"})
            row(kind, kind, usual, ZipStatus::Success, diz);
        row("lzh lower case", "lzh", {{"file_id.diz", diz}}, ZipStatus::Success, diz);
        row("cab mixed case", "cab", {{"File_Id.Diz", diz}}, ZipStatus::Success, diz);
        row("7z empty description", "7z", {{"file_id.diz", ""}, {"a", "b"}}, ZipStatus::Success,
            QByteArray());
        for (const char* kind : {"7z", "lzh", "cab", "arj", "tar.gz"}) {
            row(qPrintable(QStringLiteral("%1 none").arg(kind)), kind, {{"readme.txt", "x"}},
                ZipStatus::NothingMatched);
            row(qPrintable(QStringLiteral("%1 only in a folder").arg(kind)), kind,
                {{"sub/file_id.diz", diz}, {"readme.txt", "x"}}, ZipStatus::NothingMatched);
        }
        row("tar root one after a folder's", "tar",
            {{"sub/FILE_ID.DIZ", "no"}, {"file_id.diz", diz}}, ZipStatus::Success, diz);
        row("arj root one after a folder's", "arj",
            {{"sub/FILE_ID.DIZ", "no"}, {"file_id.diz", diz}}, ZipStatus::Success, diz);
        const QByteArray limit(kMaxMemberSize, 'x');
        row("7z at the limit", "7z", {{"file_id.diz", limit}}, ZipStatus::Success, limit);
        row("7z over the limit", "7z", {{"file_id.diz", limit + 'x'}}, ZipStatus::MemberTooLarge);
        row("tar.xz over the limit", "tar.xz", {{"file_id.diz", limit + 'x'}},
            ZipStatus::MemberTooLarge);
        row("arj over the limit", "arj", {{"file_id.diz", test::noise(kMaxMemberSize + 10)}},
            ZipStatus::MemberTooLarge);
        row("7z encrypted", "7z", usual, ZipStatus::EncryptedMember, QByteArray(), "secret");
        row("7z encrypted names", "7z", usual, ZipStatus::EncryptedMember, QByteArray(), "secret",
            true);
        row("7z cut short", "7z", {{"file_id.diz", test::noise(4000)}}, ZipStatus::CorruptArchive,
            QByteArray(), QString(), false, 2000);
        row("tar.gz cut short", "tar.gz", {{"file_id.diz", test::noise(40000)}},
            ZipStatus::CorruptArchive, QByteArray(), QString(), false, 20000);
        row("lzh cut short", "lzh", {{"file_id.diz", test::noise(4000)}}, ZipStatus::CorruptArchive,
            QByteArray(), QString(), false, 2000);
        row("arj main header cut short", "arj", usual, ZipStatus::CorruptArchive, QByteArray(),
            QString(), false, 20);
    }
    void otherKinds()
    {
        QFETCH(QString, kind);
        QFETCH(QVariant, members);
        QFETCH(QString, password);
        QFETCH(bool, hideNames);
        QFETCH(int, keepBytes);
        QFETCH(int, status);
        QFETCH(QByteArray, bytes);
        if (kind == QLatin1String("arj") && !arjAvailable())
            QSKIP("arj is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath("archive." + kind);
        MAKE_KIND_OR_SKIP(kind, path, members.value<Members>(), password, hideNames);
        if (keepBytes >= 0)
            QVERIFY(QFile::resize(path, keepBytes));
        const QByteArray before = test::readBytes(path);
        ZipComponent zip;
        QByteArray out("left over");
        QCOMPARE(int(statusCode(readAnyKind(zip, path, out))), status);
        QCOMPARE(out, bytes);
        // Read only: the archive and its folder are as they were.
        QCOMPARE(test::readBytes(path), before);
        QCOMPARE(test::folderEntries(dir.path()), QStringList{"archive." + kind});
    }

    void kindsByFirstBytes_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("kind");
        QTest::newRow("zip") << QByteArray("PK\x03\x04....") << int(ArchiveKind::Zip);
        QTest::newRow("empty zip") << QByteArray("PK\x05\x06") << int(ArchiveKind::Zip);
        QTest::newRow("split zip") << QByteArray("PK\x07\x08") << int(ArchiveKind::Zip);
        QTest::newRow("PK alone") << QByteArray("PK") << int(ArchiveKind::Other);
        QTest::newRow("arj") << QByteArray("\x60\xea\x29\x00") << int(ArchiveKind::Arj);
        QTest::newRow("7z") << QByteArray("7z\xbc\xaf\x27\x1c") << int(ArchiveKind::Other);
        QTest::newRow("rar") << QByteArray("Rar!\x1a\x07") << int(ArchiveKind::Other);
        QTest::newRow("nothing") << QByteArray() << int(ArchiveKind::Other);
    }
    void kindsByFirstBytes()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, kind);
        QCOMPARE(int(kindFromHead(head)), kind);
    }

    void kindNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("off");
        QTest::addColumn<bool>("on");
        QTest::newRow("zip") << "GAME.ZIP" << true << true;
        QTest::newRow("no dot zip") << "gamezip" << true << true;
        for (const char* name :
             {"GAME.ARJ", "game.lzh", "Game.Lha", "g.rar", "g.7z", "g.cab", "g.iso", "g.tar",
              "g.TGZ", "g.tar.gz", "g.tar.bz2", "g.tbz", "g.txz", "g.tar.xz", "g.tar.zst"})
            QTest::newRow(name) << name << false << true;
        for (const char* name :
             {"readme.txt", "g.gz", "g.arc", "g.exe", "g.7zp", "g.rar.txt", ".7z", "g.diz", "g7z"})
            QTest::newRow(name) << name << false << false;
    }
    void kindNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, off);
        QFETCH(bool, on);
        QCOMPARE(isArchiveName(name, false), off);
        QCOMPARE(isArchiveName(name, true), on);
    }

    // A ".lzh" that holds a ZIP is read as the ZIP it is, by the zip layer.
    void zipUnderAnotherNameGoesToTheZipLayer()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("really.lzh");
        QVERIFY(test::makeZip(path, {{"FILE_ID.DIZ", "zip inside\r\n"}}));
        ZipComponent zip;
        QSignalSpy progress(&zip, &ZipComponent::Status);
        QByteArray out;
        QCOMPARE(readAnyKind(zip, path, out), ZipStatus::Success);
        QCOMPARE(out, QByteArray("zip inside\r\n"));
        QVERIFY(!progress.isEmpty()); // the zip component's own reading
    }

    void noArchiveOfAnyKind_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        QTest::newRow("text") << QByteArray("just some text\n") << 102;
        QTest::newRow("empty") << QByteArray() << 102;
        QTest::newRow("7z signature alone") << QByteArray("7z\xbc\xaf\x27\x1c") << 103;
    }
    void noArchiveOfAnyKind()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString path = dir.filePath("fake.7z");
        QVERIFY(test::writeBytes(path, content));
        ZipComponent zip;
        QByteArray out;
        QCOMPARE(int(statusCode(readAnyKind(zip, path, out))), status);
        QVERIFY(out.isEmpty());
    }

    // Get diz: with the option, another kind's description is shown and
    // Save diz stays off; without it, such a name is not even opened.
    void getDizOfAnotherKind_data()
    {
        QTest::addColumn<bool>("allKinds");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("box");
        QTest::newRow("off") << false << "GAME.7Z"
                             << "";
        QTest::newRow("on") << true << "GAME.7Z"
                            << "Star\nFighter\n";
        QTest::newRow("on, no description") << true << "NODIZ.7Z"
                                            << "";
        QTest::newRow("on, damaged") << true << "BAD.7Z" << kCrc + "103";
        QTest::newRow("on, not a kind's name") << true << "GAME.BIN"
                                               << "";
    }
    void getDizOfAnotherKind()
    {
        QFETCH(bool, allKinds);
        QFETCH(QString, name);
        QFETCH(QString, box);
        Rig rig;
        const QString folder = rig.dir.path() + "/kinds";
        MAKE_KIND_OR_SKIP("7z", folder + "/GAME.7Z",
                          Members{{"file_id.diz", "Star\r\nFighter\r\n"}});
        QVERIFY(QFile::copy(folder + "/GAME.7Z", folder + "/GAME.BIN"));
        MAKE_KIND_OR_SKIP("7z", folder + "/NODIZ.7Z", Members{{"readme", "x"}});
        QVERIFY(
            test::writeBytes(folder + "/BAD.7Z", test::readBytes(folder + "/GAME.7Z").left(40)));
        FakePane pane(folder, {name});
        pane.select({0});
        DizReader reader(rig.zip, rig.host, pane, rig.run);
        reader.setAllKinds(allKinds);
        rig.host.saveEnabled = 1;
        rig.host.box = "earlier";
        rig.getDiz(reader);
        QCOMPARE(rig.host.box, box);
        QCOMPARE(rig.host.saveEnabled, 0);
        QVERIFY(!QFileInfo::exists(rig.temp())); // read in memory
    }

    // With the real zip component.

    void realArchiveDescriptionIsShown()
    {
        Rig rig;
        const QString folder = rig.dir.path() + "/zips";
        QVERIFY(test::makeZip(folder + "/GAME.ZIP",
                              {{"readme.txt", "hello"}, {"FILE_ID.DIZ", "A\r\nB\r\nC\r\n"}}));
        QVERIFY(test::makeZip(folder + "/nodiz.zip", {{"readme.txt", "hello"}}));
        FolderListing listing;
        QVERIFY(listing.setFolderPath(folder));
        DizReader reader(rig.zip, rig.host, listing, rig.run);
        listing.setSelected(0, true);
        rig.getDiz(reader);
        QCOMPARE(rig.host.box, QString("A\nB\nC\n"));
        QCOMPARE(rig.host.saveEnabled, 1);
        QCOMPARE(test::readBytes(rig.temp()), QByteArray("A\r\nB\r\nC\r\n"));

        // No description: the box is emptied, Save diz keeps its state.
        listing.setSelected(0, false);
        listing.setSelected(1, true);
        rig.getDiz(reader);
        QCOMPARE(rig.host.box, QString());
        QCOMPARE(rig.host.saveEnabled, 1);
    }

    void realArchiveThroughDoubledSeparator()
    {
        Rig rig;
        QVERIFY(test::makeZip(rig.dir.path() + "/a.zip", {{"file_id.diz", "x"}}));
        FakePane pane("/" + rig.dir.path(), {"a.zip"}); // "//tmp/..."
        pane.select({0});
        DizReader reader(rig.zip, rig.host, pane, rig.run);
        rig.getDiz(reader);
        QVERIFY(rig.selectedFilePath.startsWith("//"));
        QCOMPARE(rig.host.box, QString("x\n"));
    }

    void realCorruptedMemberIsACrcError()
    {
        Rig rig;
        const QString path = rig.dir.path() + "/bad.zip";
        const QByteArray text("A description that gets damaged.\r\n");
        QVERIFY(test::makeZip(path, {{"file_id.diz", text, true}}));
        QByteArray bytes = test::readBytes(path);
        const qsizetype at = bytes.indexOf(text);
        QVERIFY(at > 0);
        bytes[at + 3] = 'X'; // the stored data no longer matches its CRC
        QVERIFY(test::writeBytes(path, bytes));
        FakePane pane(rig.dir.path(), {"bad.zip"});
        pane.select({0});
        DizReader reader(rig.zip, rig.host, pane, rig.run);
        rig.host.saveEnabled = 1;
        rig.getDiz(reader);
        QVERIFY2(rig.host.box.startsWith(kCrc), qPrintable(rig.host.box));
        const int status = rig.host.box.mid(kCrc.size()).toInt();
        QVERIFY(status > 100 && status != 140 && status != 190);
        QCOMPARE(rig.host.saveEnabled, 0);
    }

    void realAbortLeavesEverythingAsItWas()
    {
        Rig rig;
        QByteArray big;
        for (int i = 0; i < 20000; ++i)
            big += "line of a long description " + QByteArray::number(i) + "\r\n";
        QVERIFY(big.size() < kMaxMemberSize);
        QVERIFY(test::makeZip(rig.dir.path() + "/a.zip", {{"file_id.diz", big}}));
        FakePane pane(rig.dir.path(), {"a.zip"});
        pane.select({0});
        DizReader reader(rig.zip, rig.host, pane, rig.run);
        connect(&rig.zip, &ZipComponent::Status, &rig.zip,
                [&](int) { rig.zip.setAbortRequest(true); });
        rig.host.saveEnabled = 1;
        rig.getDiz(reader);
        QCOMPARE(rig.host.box, QString());
        QCOMPARE(rig.host.saveEnabled, 1);
        QCOMPARE(rig.host.focusCount, 0);
    }
};

QTEST_GUILESS_MAIN(TestDizReader)
#include "test_diz_reader.moc"
