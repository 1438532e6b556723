// SPDX-License-Identifier: MIT
#include "diz/Cp437.h"
#include "diz/ZipStatus.h"
#include "legacy_zip.h"
#include "testsupport.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

#include <cerrno>
#include <cstring>

using namespace vexlo;
using vexlo::test::runProgram;

namespace {

// The members' names and bytes, as libzip reads them.
QMap<QString, QByteArray> membersOf(const QString& archive)
{
    QMap<QString, QByteArray> out;
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (!z)
        return out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t st;
        zip_file_t* f = zip_stat_index(z, zip_uint64_t(i), 0, &st) == 0
                            ? zip_fopen_index(z, zip_uint64_t(i), 0)
                            : nullptr;
        if (!f)
            continue;
        QByteArray data(qsizetype(st.size), '\0');
        zip_fread(f, data.data(), st.size);
        zip_fclose(f);
        out.insert(QString::fromUtf8(st.name), data);
    }
    zip_discard(z);
    return out;
}

QByteArray failureLine(const QString& subject, diz::ZipStatus status)
{
    return "vexlo32: " + QFile::encodeName(subject) + ": " + diz::zipStatusText(status).toUtf8() +
           '\n';
}

// What --get-diz gives: the description on standard output and 0 (status
// 0), or nothing there, the failure line on standard error and 1.
void checkGetDiz(const test::RunResult& run, int status, const QByteArray& diz,
                 const QString& archive)
{
    if (status == 0) {
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, diz);
    } else {
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, failureLine(archive, diz::ZipStatus(status)));
    }
}

} // namespace

class TestDizCli : public QObject {
    Q_OBJECT

private slots:
    void usageMistakesExitWith2_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("get without archive") << QStringList{"--get-diz"};
        QTest::newRow("get with two") << QStringList{"--get-diz", "a.zip", "b.zip"};
        QTest::newRow("save without archive") << QStringList{"--save-diz", "d.txt"};
        QTest::newRow("save without anything") << QStringList{"--save-diz"};
    }
    void usageMistakesExitWith2()
    {
        QFETCH(QStringList, args);
        const test::RunResult run = runProgram(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY(!run.err.isEmpty());
    }

    void getMissingArchiveFails()
    {
        QTemporaryDir dir;
        const QString archive = dir.path() + "/missing.zip";
        const test::RunResult run = runProgram({"--get-diz", archive});
        QVERIFY(run.exitCode > 0);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.startsWith("vexlo32: " + QFile::encodeName(archive) + ": "));
        QCOMPARE(run.err.count('\n'), 1);
    }

    void saveWithUnreadableDescriptionTouchesNothing()
    {
        QTemporaryDir dir;
        const QString archive = dir.path() + "/a.zip";
        QVERIFY(test::makeZip(archive, {{"file_id.diz", "old"}}));
        const QByteArray before = test::readBytes(archive);
        const test::RunResult run = runProgram({"--save-diz", dir.path() + "/none.txt", archive});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(
            run.err.startsWith("vexlo32: " + QFile::encodeName(dir.path() + "/none.txt") + ": "));
        QCOMPARE(test::readBytes(archive), before);
    }

    // With the real zip component.

    void getWritesTheBytesUnchanged()
    {
        QTemporaryDir dir;
        const char raw[] = "\xc9\xcd\xbb lone CR\r lone LF\n\0\xff end";
        const QByteArray bytes(raw, sizeof raw - 1);
        const QString archive = dir.path() + "/GAME.ZIP";
        QVERIFY(test::makeZip(archive, {{"readme.txt", "x"}, {"FILE_ID.DIZ", bytes}}));
        const test::RunResult run = runProgram({"--get-diz", archive});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, bytes);
    }

    void getWithoutDescriptionFails()
    {
        QTemporaryDir dir;
        const QString archive = dir.path() + "/a.zip";
        QVERIFY(test::makeZip(archive, {{"readme.txt", "x"}}));
        const test::RunResult run = runProgram({"--get-diz", archive});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.err, failureLine(archive, diz::ZipStatus::NothingMatched));
    }

    // Archives of PKZIP 1.x, and every reason a description cannot be read:
    // the description on standard output and 0, or nothing there, one line
    // on standard error naming the archive and the reason, and 1.
    void getPkzip1AndFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status"); // 0: the description is written
        QTest::newRow("shrunk") << "shrunk" << 0;
        QTest::newRow("reduced") << "reduced" << 0;
        QTest::newRow("imploded") << "imploded" << 0;
        QTest::newRow("no description") << "none" << 140;
        QTest::newRow("unsupported method") << "method 10" << 108;
        QTest::newRow("damaged stream") << "truncated" << 103;
        QTest::newRow("wrong crc") << "crc" << 104;
        QTest::newRow("too large") << "large" << 105;
        QTest::newRow("not an archive") << "text" << 102;
        QTest::newRow("cut short") << "cut" << 103;
    }
    void getPkzip1AndFailures()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString archive = dir.path() + "/OLDGAME.ZIP";
        const QByteArray diz("\xc9\xcd\xbb OLD GAME \x90\r\n\xc8\xcd\xbc\r\n");
        test::OldMember member{"FILE_ID.DIZ", diz, 6, 4};
        if (kind == "shrunk")
            member.method = 1;
        else if (kind == "reduced")
            member.method = 4;
        else if (kind == "none")
            member.name = "README.TXT";
        else if (kind == "method 10")
            member.method = 10;
        else if (kind == "truncated")
            member.raw = test::implodeStream(diz, 4).left(20);
        else if (kind == "crc")
            member.declaredCrc = 1234;
        else if (kind == "large")
            member.declaredSize = diz::kMaxMemberSize + 1;
        const QByteArray bytes = test::oldZipBytes({{"GAME.EXE", "MZ", 1}, member});
        QVERIFY(test::writeBytes(archive, kind == "text"  ? QByteArray("plain text, no archive\r\n")
                                          : kind == "cut" ? bytes.left(bytes.size() - 10)
                                                          : bytes));
        checkGetDiz(runProgram({"--get-diz", archive}), status, diz, archive);
    }

    // --all-kinds: another kind by its first bytes, whatever its name; a ZIP
    // named so is read by the zip layer as ever. Without it, only ZIP.
    void getOtherKinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("allKinds");
        QTest::addColumn<bool>("fromInput");
        QTest::addColumn<int>("status"); // 0: the description is written
        QTest::newRow("7z") << "7z"
                            << "GAME.7Z" << true << false << 0;
        QTest::newRow("lzh") << "lzh"
                             << "GAME.LZH" << true << false << 0;
        QTest::newRow("arj") << "arj"
                             << "GAME.ARJ" << true << false << 0;
        QTest::newRow("cab from standard input") << "cab"
                                                 << "-" << true << true << 0;
        QTest::newRow("7z under a zip name") << "7z"
                                             << "GAME.ZIP" << true << false << 102;
        QTest::newRow("7z without the option") << "7z"
                                               << "GAME.7Z" << false << false << 102;
    }
    void getOtherKinds()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(bool, allKinds);
        QFETCH(bool, fromInput);
        QFETCH(int, status);
        if (kind == QLatin1String("arj") && QStandardPaths::findExecutable("arj").isEmpty())
            QSKIP("arj is not installed");
        QTemporaryDir dir;
        const QByteArray diz("\xc9\xcd\xbb Other kind\r\n");
        const QString archive = dir.path() + "/" + (fromInput ? "input" : name);
        const QString made = test::makeKindArchive(kind, archive, {{"FILE_ID.DIZ", diz}});
        if (made == QLatin1String("missing"))
            QSKIP("the tool for this kind is not installed");
        QVERIFY2(made.isEmpty(), qPrintable(made));
        QStringList args{"--get-diz", fromInput ? "-" : archive};
        if (allKinds)
            args << "--all-kinds";
        // Piped, so that the program reads it into memory.
        checkGetDiz(runProgram(args, fromInput ? test::readBytes(archive) : QByteArray()), status,
                    diz, archive);
    }

    void saveStoresTheExactBytesUnderTheMemberName()
    {
        QTemporaryDir dir;
        QTemporaryDir tmp; // nothing of the run may be left in it
        const QByteArray bytes("line 1\r\nno line end \xb0\xb1\xb2");
        QVERIFY(test::writeBytes(dir.path() + "/desc.txt", bytes));
        const QString a = dir.path() + "/a.zip", b = dir.path() + "/b.zip";
        QVERIFY(test::makeZip(a, {{"readme.txt", "a"}}));
        QVERIFY(test::makeZip(b, {{"FILE_ID.DIZ", "old"}, {"readme.txt", "b"}}));
        const test::RunResult run = runProgram({"--save-diz", dir.path() + "/desc.txt", a, b},
                                               QByteArray(), 60000, {"TMPDIR=" + tmp.path()});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        const QMap<QString, QByteArray> ma = membersOf(a), mb = membersOf(b);
        QCOMPARE(ma.value("file_id.diz"), bytes);
        QCOMPARE(ma.value("readme.txt"), QByteArray("a"));
        QCOMPARE(mb.value("FILE_ID.DIZ"), bytes); // keeps its stored name
        QCOMPARE(mb.size(), 2);
        QVERIFY(QDir(tmp.path()).isEmpty());
    }

    void saveGoesOnPastFailures()
    {
        QTemporaryDir dir;
        QVERIFY(test::writeBytes(dir.path() + "/file_id.diz", "new"));
        const QString good1 = dir.path() + "/1.zip", missing = dir.path() + "/2.zip",
                      notZip = dir.path() + "/3.zip", good2 = dir.path() + "/4.zip";
        QVERIFY(test::makeZip(good1, {{"readme.txt", "1"}}));
        QVERIFY(test::writeBytes(notZip, "plain text"));
        QVERIFY(test::makeZip(good2, {{"readme.txt", "4"}}));
        const test::RunResult run =
            runProgram({"--save-diz", dir.path() + "/file_id.diz", good1, missing, notZip, good2});
        QCOMPARE(run.exitCode, 1);
        const QList<QByteArray> lines = run.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0] + '\n',
                 "vexlo32: " + QFile::encodeName(missing) + ": " + std::strerror(ENOENT) + '\n');
        QVERIFY(lines[1].startsWith("vexlo32: " + QFile::encodeName(notZip) + ": "));
        QCOMPARE(membersOf(good1).value("file_id.diz"), QByteArray("new"));
        QCOMPARE(membersOf(good2).value("file_id.diz"), QByteArray("new"));
        QCOMPARE(test::readBytes(notZip), QByteArray("plain text"));
        QVERIFY(!QFile::exists(missing));
    }

    // "-" is standard input wherever a file is read; an archive is updated
    // where it lies, so it cannot be one.
    void standardInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("description piped in") << "save";
        QTest::newRow("description piped in, UTF-8") << "save utf8";
        QTest::newRow("archive piped in") << "get";
        QTest::newRow("archive piped in, UTF-8") << "get utf8";
        QTest::newRow("nothing piped in") << "get empty";
        QTest::newRow("an archive of -") << "save into -";
    }
    void standardInput()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString archive = dir.path() + "/a.zip";
        const QByteArray dos("\xc9\xcd\xbb GAME\r\n\x01");
        QVERIFY(test::makeZip(archive, {{"FILE_ID.DIZ", dos}, {"readme.txt", "x"}}));
        const bool utf8 = kind.endsWith("utf8");
        QStringList args;
        QByteArray input;
        if (kind.startsWith("save")) {
            args = QStringList{"--save-diz", "-", kind == "save into -" ? "-" : archive};
            input = utf8 ? QByteArray("\xe2\x95\x94 new\r\n") : QByteArray("new \xb0");
        } else {
            args = QStringList{"--get-diz", "-"};
            input = kind == "get empty" ? QByteArray() : test::readBytes(archive);
        }
        if (utf8)
            args.insert(1, "--utf8");
        const QByteArray before = test::readBytes(archive);
        const test::RunResult run = runProgram(args, input);
        if (kind == "save into -") {
            QCOMPARE(run.exitCode, 2);
            QCOMPARE(test::readBytes(archive), before);
            QVERIFY(!QFile::exists("-"));
        } else if (kind == "get empty") {
            QCOMPARE(run.exitCode, 1);
            QVERIFY(run.err.startsWith("vexlo32: standard input: "));
        } else if (kind.startsWith("save")) {
            QCOMPARE(run.err, QByteArray());
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(membersOf(archive).value("FILE_ID.DIZ"),
                     utf8 ? QByteArray("\xc9 new\r\n") : input);
        } else {
            QCOMPARE(run.err, QByteArray());
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.out,
                     utf8 ? QString::fromUtf8("\u2554\u2550\u2557 GAME\r\n\u263A").toUtf8() : dos);
        }
    }

    // A path that differs from an existing one in letter case only names
    // nothing: an error naming it, and the other file stays as it was.
    void exactPaths_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("save into a case twin") << "save";
        QTest::newRow("read a case twin") << "get";
        QTest::newRow("description from a case twin") << "save from";
    }
    void exactPaths()
    {
        QFETCH(QString, mode);
        QTemporaryDir dir;
        const QString real = dir.path() + "/Games/STARFGHT.ZIP";
        const QString typed = dir.path() + "/games/starfght.zip";
        QVERIFY(QDir().mkpath(dir.path() + "/Games"));
        QVERIFY(test::makeZip(real, {{"FILE_ID.DIZ", "old"}}));
        QVERIFY(test::writeBytes(dir.path() + "/Desc.diz", "new"));
        const QByteArray before = test::readBytes(real);
        QStringList args{"--get-diz", typed};
        QString named = typed;
        if (mode == "save")
            args = QStringList{"--save-diz", dir.path() + "/Desc.diz", typed};
        if (mode == "save from") {
            named = dir.path() + "/desc.diz";
            args = QStringList{"--save-diz", named, real};
        }
        const test::RunResult run = runProgram(args);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err,
                 "vexlo32: " + QFile::encodeName(named) + ": " + std::strerror(ENOENT) + '\n');
        QCOMPARE(test::readBytes(real), before);
        QCOMPARE(test::folderEntries(dir.path() + "/Games"), QStringList{"STARFGHT.ZIP"});
    }

    // --utf8 on the way out and back in gives every byte back.
    void utf8RoundTrip()
    {
        QTemporaryDir dir;
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString archive = dir.path() + "/a.zip";
        QVERIFY(test::makeZip(archive, {{"FILE_ID.DIZ", all}}));
        const test::RunResult out = runProgram({"--get-diz", "--utf8", archive});
        QCOMPARE(out.exitCode, 0);
        QCOMPARE(QString::fromUtf8(out.out).size(), 256); // one character a byte
        QVERIFY(out.out.contains("\t\n\xe2\x99\x82"));    // TAB, LF stay; 0x0B is its glyph
        QVERIFY(test::writeBytes(archive, QByteArray()));
        QVERIFY(test::makeZip(archive, {{"FILE_ID.DIZ", "old"}}));
        const test::RunResult in = runProgram({"--save-diz", "--utf8", "-", archive}, out.out);
        QCOMPARE(in.err, QByteArray());
        QCOMPARE(in.exitCode, 0);
        QCOMPARE(membersOf(archive).value("FILE_ID.DIZ"), all);
    }

    // Text the DOS code page cannot hold, or that is no UTF-8, is refused
    // with where it is, and no archive is touched.
    void utf8Refusals_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("where");
        QTest::addColumn<bool>("fromInput");
        QTest::newRow("euro sign")
            << QByteArray("one\r\ntwo \xe2\x82\xac") << QByteArray("line 2, column 5") << false;
        QTest::newRow("invalid byte") << QByteArray("\xc3\xa9"
                                                    "a\xff")
                                      << QByteArray("line 1, column 3") << true;
        QTest::newRow("emoji after box drawing")
            << QByteArray("\xe2\x95\x94\n\n\xe2\x95\x97\xf0\x9f\x98\x80")
            << QByteArray("line 3, column 2") << true;
        QTest::newRow("truncated sequence")
            << QByteArray("ok\n\xe2\x95") << QByteArray("line 2, column 1") << false;
    }
    void utf8Refusals()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, where);
        QFETCH(bool, fromInput);
        QTemporaryDir dir;
        const QString archive = dir.path() + "/a.zip";
        QVERIFY(test::makeZip(archive, {{"FILE_ID.DIZ", "old"}}));
        const QByteArray before = test::readBytes(archive);
        const QString dizFile = dir.path() + "/d.txt";
        QVERIFY(test::writeBytes(dizFile, text));
        const test::RunResult run = runProgram(
            {"--save-diz", "--utf8", fromInput ? "-" : dizFile, archive}, fromInput ? text : "");
        QCOMPARE(run.exitCode, 1);
        const QByteArray subject = fromInput ? "standard input" : QFile::encodeName(dizFile);
        QVERIFY2(run.err.startsWith("vexlo32: " + subject + ": "), run.err.constData());
        QVERIFY2(run.err.contains(where), run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(test::readBytes(archive), before);
        // Without --utf8 the same bytes are stored as they are.
        QCOMPARE(runProgram({"--save-diz", dizFile, archive}).exitCode, 0);
        QCOMPARE(membersOf(archive).value("FILE_ID.DIZ"), text);
    }
};

QTEST_GUILESS_MAIN(TestDizCli)
#include "test_diz_cli.moc"
