// SPDX-License-Identifier: MIT
// Hostile and broken archives: each one gives a defined status from the zip
// component, an entry in the list, a defined answer from --get-diz and
// --save-diz, and nothing is written anywhere but the temporary description
// file (and the list file). The archives are assembled here, by libzip or
// field by field, with the faults patched in.

#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "platform/Paths.h"
#include "reliability_support.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace vexlo;
using vexlo::diz::ZipStatus::Aborted;
using vexlo::diz::ZipStatus::NothingMatched;
using vexlo::diz::ZipStatus::Success;

namespace {

const QByteArray kDiz = "HOSTILE TEST v1\r\nsecond line\r\n";

QByteArray libzipArchive(const std::vector<test::Member>& members)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/a.zip";
    if (!test::makeZip(path, members))
        return QByteArray();
    return test::readBytes(path);
}

// Sets the uncompressed size in every local and central header.
QByteArray withDeclaredSize(QByteArray zip, quint32 size)
{
    for (qsizetype i = zip.indexOf("PK\x03\x04"); i >= 0; i = zip.indexOf("PK\x03\x04", i + 4))
        test::putLe32(zip, i + 22, size);
    for (qsizetype i = zip.indexOf("PK\x01\x02"); i >= 0; i = zip.indexOf("PK\x01\x02", i + 4))
        test::putLe32(zip, i + 24, size);
    return zip;
}

bool writeClearRefs()
{
    QFile f("/proc/self/clear_refs");
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

qint64 statusKiB(const char* key)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(strlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

QByteArray twoMembers()
{
    return test::rawZip({{"readme.txt", "just a readme file\r\n"}, {"file_id.diz", kDiz}});
}

} // namespace

class TestHostileZip : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_archives; // the listed folder, holding the one archive
    QString m_program;  // where extraction writes the temporary description
    QString m_tmp;      // TMPDIR of the programs started

    QString archive() const { return m_archives + "/hostile.zip"; }

    void put(const QByteArray& bytes)
    {
        QDir(m_archives).removeRecursively();
        QVERIFY(QDir().mkpath(m_archives));
        QVERIFY(test::writeBytes(archive(), bytes));
    }

    QByteArray listEntryOf(const QByteArray& list)
    {
        for (const QByteArray& line : list.split('\n')) {
            if (line.startsWith("HOSTILE.ZIP"))
                return line.mid(63).trimmed(); // the description column, long layout
        }
        return "(no entry)";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_archives = m_root.path() + "/archives";
        m_program = m_root.path() + "/program";
        m_tmp = m_root.path() + "/tmp";
        QVERIFY(QDir().mkpath(m_program));
        QVERIFY(QDir().mkpath(m_tmp));
    }
    void init()
    {
        QDir(m_program).removeRecursively();
        QDir().mkpath(m_program);
    }

    void brokenArchives_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected"); // -1: any failure status above 100
        QTest::addColumn<QByteArray>("description");

        const QByteArray good = twoMembers();
        QTest::newRow("well formed") << good << int(Success) << QByteArray("Hostile test v1");

        const qsizetype central = test::centralOffset(good);
        const qsizetype end = test::endRecordOffset(good);
        QTest::newRow("central directory cut, no end record")
            << good.left(central + 30) << -1 << QByteArray();
        QByteArray cutInside = good.left(end - 20) + good.mid(end);
        QTest::newRow("central directory cut, end record kept") << cutInside << -1 << QByteArray();

        QByteArray offsetPastEnd = good;
        test::putLe32(offsetPastEnd, end + 16, quint32(good.size() + 1000));
        QTest::newRow("central offset past the end") << offsetPastEnd << -1 << QByteArray();
        QByteArray offsetShifted = good;
        test::putLe32(offsetShifted, end + 16, quint32(central + 1));
        QTest::newRow("central offset shifted") << offsetShifted << -1 << QByteArray();

        // The description's central header points at the readme's local header.
        QByteArray localWrong = good;
        const qsizetype secondCentral = good.indexOf("PK\x01\x02", central + 4);
        test::putLe32(localWrong, secondCentral + 42, 0);
        QTest::newRow("local offset points at another member") << localWrong << -1 << QByteArray();
        QByteArray localPastEnd = good;
        test::putLe32(localPastEnd, secondCentral + 42, quint32(good.size() + 5));
        QTest::newRow("local offset past the end") << localPastEnd << -1 << QByteArray();

        QTest::newRow("forged size 100 MiB")
            << test::rawZip({{"file_id.diz", kDiz, 0, false, qint64(100) << 20}}) << -1
            << QByteArray();
        QTest::newRow("forged size too small")
            << test::rawZip({{"file_id.diz", kDiz, 0, false, 3}}) << -1 << QByteArray();
        QTest::newRow("zip bomb: 100 MiB of zeros, size forged to 200 bytes")
            << withDeclaredSize(libzipArchive({{"file_id.diz", QByteArray(100 << 20, '\0')}}), 200)
            << -1 << QByteArray();
        QTest::newRow("encrypted (traditional flag)")
            << test::rawZip({{"file_id.diz", kDiz, 0x0001}}) << int(diz::ZipStatus::EncryptedMember)
            << QByteArray();
        QTest::newRow("zip64 member and end records")
            << test::rawZip({{"readme.txt", "r\r\n", 0, true}, {"file_id.diz", kDiz, 0, true}},
                            true)
            << int(Success) << QByteArray("Hostile test v1");
        QTest::newRow("dot-dot and absolute names")
            << test::rawZip({{"../file_id.diz", kDiz},
                             {"/file_id.diz", kDiz},
                             {"..\\file_id.diz", kDiz},
                             {"../../../../tmp/file_id.diz", kDiz}})
            << int(NothingMatched) << QByteArray();
        QTest::newRow("names differing in case: the first one counts")
            << test::rawZip({{"FILE_ID.DIZ", "UPPER one\r\n"}, {"file_id.diz", "lower one\r\n"}})
            << int(Success) << QByteArray("Upper one");
        QTest::newRow("not an archive") << QByteArray(5000, 'x') << -1 << QByteArray();
        QTest::newRow("only an end record")
            << test::rawZip({}) << int(NothingMatched) << QByteArray();
    }

    // The zip component itself, as Get diz and the window's list use it.
    void brokenArchives()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        QFETCH(QByteArray, description);
        put(bytes);
        const auto before = test::snapshotTree(m_root.path());

        diz::ZipComponent zip;
        zip.setKeepPaths(false);
        zip.setMemberMask("file_id.diz");
        zip.setTargetFolder(m_program);
        zip.setArchivePath(archive());
        const diz::ZipStatus status = zip.ExtractMembers(0);
        if (expected >= 0) {
            QCOMPARE(int(status), expected);
        } else {
            QVERIFY2(diz::isFailure(status), qPrintable(QString::number(diz::statusCode(status))));
        }
        QByteArray read;
        QCOMPARE(zip.ReadMember(archive(), "file_id.diz", read), status);

        // Nothing but the temporary description file appeared or changed.
        auto after = test::snapshotTree(m_root.path());
        if (status == Success) {
            QVERIFY(after.remove("program/file_id.diz") == 1);
            QVERIFY(test::readBytes(m_program + "/file_id.diz").startsWith(read));
            QVERIFY(read.toLower().startsWith(description.toLower()));
        }
        after.remove("program"); // its time changes with the file in it
        auto expectedTree = before;
        expectedTree.remove("program");
        QCOMPARE(after, expectedTree);
    }

    // The same archives through the command line: --make-list gives each an
    // entry, --get-diz a defined answer, --save-diz either a valid update or
    // an unchanged archive; nothing else is left behind.
    void brokenArchivesThroughTheProgram_data() { brokenArchives_data(); }
    void brokenArchivesThroughTheProgram()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        QFETCH(QByteArray, description);
        put(bytes);
        const QString list = m_root.path() + "/list.txt";
        const QString dizFile = m_root.path() + "/new.diz";
        QVERIFY(test::writeBytes(dizFile, "NEW ONE\r\n"));
        QFile::remove(list);
        const auto before = test::snapshotTree(m_root.path());
        const QStringList env{"TMPDIR=" + m_tmp};

        const test::RunResult made = test::runProgram(
            {"--make-list", m_archives, "--output", list, "--long"}, {}, 60000, env);
        QCOMPARE(made.exitCode, 0);
        const QByteArray entry = listEntryOf(test::readBytes(list));
        if (expected == int(Success))
            QCOMPARE(entry.toLower(), description.toLower());
        else if (expected == int(NothingMatched))
            QCOMPARE(entry, QByteArray());
        else
            QVERIFY2(entry.startsWith("** CRC Error ** 1"), entry.constData());

        const test::RunResult got = test::runProgram({"--get-diz", archive()}, {}, 60000, env);
        QCOMPARE(got.exitCode == 0, expected == int(Success));

        const test::RunResult saved =
            test::runProgram({"--save-diz", dizFile, archive()}, {}, 60000, env);
        const QByteArray now = test::readBytes(archive());
        if (saved.exitCode == 0) {
            const test::RunResult back = test::runProgram({"--get-diz", archive()}, {}, 60000, env);
            QCOMPARE(back.out, QByteArray("NEW ONE\r\n"));
        } else {
            QCOMPARE(now, bytes); // a refused update leaves the archive as it was
        }

        auto after = test::snapshotTree(m_root.path());
        QVERIFY(after.remove("list.txt") == 1);
        after.remove("archives/hostile.zip");
        auto expectedTree = before;
        expectedTree.remove("archives/hostile.zip");
        if (saved.exitCode == 0) // the folder's time moves with the replaced archive
            after.remove("archives"), expectedTree.remove("archives");
        after.remove(""), expectedTree.remove("");
        QCOMPARE(after.keys(), expectedTree.keys());
    }

    // A deflated description of 100 MiB of zeros is refused by its declared
    // size; with the size forged small, reading stops at the limit. Either
    // way the program's memory stays far below the member's size.
    void zipBombKeepsMemoryBounded_data()
    {
        QTest::addColumn<bool>("forged");
        QTest::newRow("true size") << false;
        QTest::newRow("forged size") << true;
    }
    void zipBombKeepsMemoryBounded()
    {
        QFETCH(bool, forged);
        QByteArray bomb = libzipArchive({{"file_id.diz", QByteArray(100 << 20, '\0')}});
        QVERIFY(!bomb.isEmpty());
        QVERIFY(bomb.size() < (1 << 20));
        if (forged)
            bomb = withDeclaredSize(bomb, 100);
        put(bomb);
        bomb.clear();
        bomb.squeeze();

        // The peak resident size of this process, reset to the current one
        // first, so that only the reading counts.
        const bool canMeasure = writeClearRefs();
        const qint64 start = statusKiB("VmRSS:");
        diz::ZipComponent zip;
        QByteArray read;
        QCOMPARE(zip.ReadMember(archive(), "file_id.diz", read), diz::ZipStatus::MemberTooLarge);
        QVERIFY(read.isEmpty());
        if (canMeasure) {
            const qint64 peak = statusKiB("VmHWM:");
            QVERIFY2(peak - start < 16 * 1024, qPrintable(QString::number(peak - start)));
        }

        const test::RunResult got =
            test::runProgram({"--get-diz", archive()}, {}, 60000, {"TMPDIR=" + m_tmp});
        QCOMPARE(got.exitCode, 1);
        QVERIFY(got.out.isEmpty());
        QVERIFY(got.err.contains("too large"));
        QVERIFY(QDir(m_tmp).isEmpty());
        if (!canMeasure)
            QSKIP("cannot reset the peak resident size here; only the statuses were checked");
    }

    // 65,535 members: the classic end record's count is full, so libzip
    // writes the ZIP64 end records. The description is the last member.
    void sixtyFiveThousandMembers()
    {
        std::vector<test::Member> members;
        members.reserve(65535);
        for (int i = 0; i < 65534; ++i)
            members.push_back({QString("m%1.txt").arg(i), QByteArray("x"), true});
        members.push_back({"file_id.diz", kDiz, true});
        QByteArray bytes = libzipArchive(members);
        QVERIFY(!bytes.isEmpty());
        put(bytes);

        diz::ZipComponent zip;
        QByteArray read;
        QCOMPARE(zip.ReadMember(archive(), "FILE_ID.DIZ", read), Success);
        QCOMPARE(read, kDiz);

        const QString dizFile = m_root.path() + "/new.diz";
        QVERIFY(test::writeBytes(dizFile, "MANY\r\n"));
        zip.setMemberMask(dizFile + '\r');
        QVERIFY(test::writeBytes(m_root.path() + "/file_id.diz", "MANY\r\n"));
        zip.setMemberMask(m_root.path() + "/file_id.diz\r");
        zip.setArchivePath(archive());
        QCOMPARE(zip.UpdateMembers(0), Success);
        QCOMPARE(zip.ReadMember(archive(), "file_id.diz", read), Success);
        QCOMPARE(read, QByteArray("MANY\r\n"));
        QByteArray other;
        QCOMPARE(zip.ReadMember(archive(), "m65533.txt", other), Success);
        QCOMPARE(QDir(m_archives).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"hostile.zip"});
    }
};

QTEST_GUILESS_MAIN(TestHostileZip)
#include "test_hostile_zip.moc"
