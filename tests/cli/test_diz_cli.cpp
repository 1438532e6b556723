#include "diz/ZipStatus.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

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
        QCOMPARE(lines[0] + '\n', failureLine(missing, diz::ZipStatus::CannotOpenArchive));
        QVERIFY(lines[1].startsWith("vexlo32: " + QFile::encodeName(notZip) + ": "));
        QCOMPARE(membersOf(good1).value("file_id.diz"), QByteArray("new"));
        QCOMPARE(membersOf(good2).value("file_id.diz"), QByteArray("new"));
        QCOMPARE(test::readBytes(notZip), QByteArray("plain text"));
        QVERIFY(!QFile::exists(missing));
    }
};

QTEST_GUILESS_MAIN(TestDizCli)
#include "test_diz_cli.moc"
