// SPDX-License-Identifier: MIT
// Save diz killed at random moments: every archive is afterwards either
// byte-identical to before or fully updated and valid, and what a killed
// update left beside an archive is gone after the next run. Also the rules
// by which the zip layer tells such leftovers from a user's files.

#include "diz/StrayUpdateFiles.h"
#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "reliability_support.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

using namespace vexlo;

namespace {

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

// The description and the CRC of every other member, read with libzip's
// consistency checks on; false when the archive does not open or a member
// does not read back whole.
bool readArchive(const QString& path, QByteArray& diz, QMap<QByteArray, quint32>& crcs)
{
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!z)
        return false;
    bool ok = true;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n && ok; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0) {
            ok = false;
            break;
        }
        zip_file_t* f = zip_fopen_index(z, zip_uint64_t(i), 0);
        if (!f) {
            ok = false;
            break;
        }
        QByteArray data(qsizetype(st.size), '\0');
        ok = zip_fread(f, data.data(), st.size) == zip_int64_t(st.size) && zip_fclose(f) == 0;
        if (QByteArray(st.name) == "file_id.diz")
            diz = data;
        else
            crcs.insert(QByteArray(st.name), st.crc);
    }
    zip_discard(z);
    return ok;
}

bool unzipTestPasses(const QString& path)
{
    QProcess unzip;
    unzip.start("unzip", {"-tqq", path});
    return unzip.waitForFinished(60000) && unzip.exitStatus() == QProcess::NormalExit &&
           unzip.exitCode() == 0;
}

} // namespace

class TestKillSave : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("unzip").isEmpty())
            QSKIP("unzip is not installed (scripts/deps.sh --test installs it)");
    }

    void tempNamePattern_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::newRow("our name") << ".game.zip.vexlo32-a1b2c3d4e5" << true;
        QTest::newRow("digits only") << ".game.zip.vexlo32-0000000000" << true;
        QTest::newRow("not hidden") << "game.zip.vexlo32-a1b2c3d4e5" << false;
        QTest::newRow("capitals") << ".game.zip.vexlo32-A1B2C3D4E5" << false;
        QTest::newRow("nine letters") << ".game.zip.vexlo32-a1b2c3d4e" << false;
        QTest::newRow("eleven letters") << ".game.zip.vexlo32-a1b2c3d4e5f" << false;
        QTest::newRow("another archive") << ".other.zip.vexlo32-a1b2c3d4e5" << false;
        QTest::newRow("prefix of the name") << ".ame.zip.vexlo32-a1b2c3d4e5" << false;
        QTest::newRow("another program") << ".game.zip.vexlo33-a1b2c3d4e5" << false;
        QTest::newRow("the archive itself") << "game.zip" << false;
        // What earlier versions and other programs leave, and users' copies.
        QTest::newRow("libzip's name") << "game.zip.a1b2c3" << false;
        QTest::newRow("a dated copy") << "game.zip.201224" << false;
        QTest::newRow("a backup") << "game.zip.backup" << false;
        QTest::newRow("six letters") << "game.zip.todo00" << false;
        QTest::newRow("an editor's swap file") << ".game.zip.swp" << false;
    }
    void tempNamePattern()
    {
        QFETCH(QString, name);
        QFETCH(bool, matches);
        QCOMPARE(diz::isUpdateTempName(name, "game.zip"), matches);
    }

    // Only what an update of ours would have left goes; everything a user
    // could have put beside the archive stays, also copies of it.
    void onlyLeftoversAreRemoved()
    {
        QTemporaryDir dir;
        const QString archive = dir.path() + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"file_id.diz", "old\r\n"}}));
        const QByteArray copy = test::readBytes(archive);
        auto file = [&](const QString& name, const QByteArray& bytes) {
            QVERIFY(test::writeBytes(dir.path() + "/" + name, bytes));
        };
        file(".game.zip.vexlo32-aaaaaaaaaa", QByteArray()); // named, nothing written
        file(".game.zip.vexlo32-bbbbbbbbbb", copy);         // killed before the exchange
        file(".game.zip.vexlo32-cccccccccc", "MZ stub");    // a self-extractor's
        file("game.zip.backup", copy);                      // the user's copies
        file("game.zip.201224", copy);
        file("game.zip.todo00", QByteArray());
        file("game.zip.a1b2c3", copy);               // an older version's: not provably ours
        file(".other.zip.vexlo32-dddddddddd", copy); // another archive's
        file("linked", copy);
        QVERIFY(
            ::link(QFile::encodeName(dir.path() + "/linked").constData(),
                   QFile::encodeName(dir.path() + "/.game.zip.vexlo32-eeeeeeeeee").constData()) ==
            0);
        file("target", copy);
        QVERIFY(QFile::link(dir.path() + "/target", dir.path() + "/.game.zip.vexlo32-ffffffffff"));
        QVERIFY(QDir().mkpath(dir.path() + "/.game.zip.vexlo32-gggggggggg"));
        file(".game.zip.vexlo32-hhhhhhhhhh", copy); // held open by another process below

        QProcess holder;
        holder.start("sh", {"-c", "exec 3<\"$1\"; echo held; exec sleep 30", "sh",
                            dir.path() + "/.game.zip.vexlo32-hhhhhhhhhh"});
        QVERIFY(holder.waitForReadyRead(10000));

        QCOMPARE(diz::removeStrayUpdateFiles(archive), 3);
        holder.kill();
        holder.waitForFinished();
        const QStringList kept = {".game.zip.vexlo32-eeeeeeeeee",
                                  ".game.zip.vexlo32-ffffffffff",
                                  ".game.zip.vexlo32-gggggggggg",
                                  ".game.zip.vexlo32-hhhhhhhhhh",
                                  ".other.zip.vexlo32-dddddddddd",
                                  "game.zip",
                                  "game.zip.201224",
                                  "game.zip.a1b2c3",
                                  "game.zip.backup",
                                  "game.zip.todo00",
                                  "linked",
                                  "target"};
        QCOMPARE(namesIn(dir.path()), kept);
        // The update itself runs the clean-up: the open one is gone once closed.
        const QString diz = dir.path() + "/file_id.diz";
        QVERIFY(test::writeBytes(diz, "new\r\n"));
        diz::ZipComponent zip;
        zip.setMemberMask(diz + '\r');
        zip.setArchivePath(archive);
        QCOMPARE(zip.UpdateMembers(0), diz::ZipStatus::Success);
        const QStringList after = namesIn(dir.path());
        QVERIFY(!after.contains(".game.zip.vexlo32-hhhhhhhhhh"));
        for (const QString name : {"game.zip.backup", "game.zip.201224", "game.zip.todo00"}) {
            QVERIFY2(after.contains(name), qPrintable(name));
            if (name != QLatin1String("game.zip.todo00"))
                QCOMPARE(test::readBytes(dir.path() + '/' + name), copy);
        }
    }

    // Updating many archives of one folder lists the folder once, yet finds
    // every archive's leftovers, also those that appear after that listing.
    void oneCleanerForManyArchives()
    {
        QTemporaryDir dir;
        const QByteArray zipStart("PK\x03\x04 partial archive", 20);
        QStringList archives;
        for (int i = 0; i < 4; ++i) {
            archives << dir.path() + QString("/a%1.zip").arg(i);
            QVERIFY(test::makeZip(archives.last(), {{"file_id.diz", "old\r\n"}}));
        }
        auto leftover = [&](int archive, const char* letter) {
            const QString name = QString("/.a%1.zip.vexlo32-%2")
                                     .arg(archive)
                                     .arg(QString(10, QChar::fromLatin1(*letter)));
            QVERIFY(test::writeBytes(dir.path() + name, zipStart));
        };
        leftover(0, "a");
        leftover(2, "b");
        leftover(2, "c");
        QVERIFY(test::writeBytes(dir.path() + "/a1.zip.notes!", zipStart)); // no leftover

        const QString diz = dir.path() + "/file_id.diz";
        QVERIFY(test::writeBytes(diz, "new\r\n"));
        diz::ZipComponent zip;
        zip.setMemberMask(diz + '\r');
        auto update = [&](int archive) {
            zip.setArchivePath(archives[archive]);
            QCOMPARE(zip.UpdateMembers(0), diz::ZipStatus::Success);
        };
        update(0);
        QVERIFY(!namesIn(dir.path()).contains(".a0.zip.vexlo32-aaaaaaaaaa"));
        // Another process is killed meanwhile and leaves one of a3. Folder
        // times move in ticks of a few ms: the wait makes the change one the
        // times can show.
        QTest::qWait(30);
        leftover(3, "d");
        update(1);
        update(2);
        update(3);
        QCOMPARE(namesIn(dir.path()), (QStringList{"a0.zip", "a1.zip", "a1.zip.notes!", "a2.zip",
                                                   "a3.zip", "file_id.diz"}));

        // The cleaner on its own: the second archive's leftovers come from the
        // listing the first call made.
        leftover(1, "e");
        leftover(2, "f");
        diz::StrayUpdateCleaner cleaner;
        QCOMPARE(cleaner.removeFor(archives[1]), 1);
        QCOMPARE(cleaner.removeFor(archives[0]), 0);
        QCOMPARE(cleaner.removeFor(archives[2]), 1);
        QCOMPARE(cleaner.removeFor(archives[2]), 0);
        QVERIFY(namesIn(dir.path()).contains("a1.zip.notes!"));
    }

    // The real thing: whatever a killed update leaves (an unnamed file leaves
    // nothing; the moment of the exchange leaves a file of our own form) is
    // what the next update removes.
    void killedUpdatesAtRandomMoments()
    {
        const int runs = qEnvironmentVariableIntValue("VEXLO32_KILL_RUNS") > 0
                             ? qEnvironmentVariableIntValue("VEXLO32_KILL_RUNS")
                             : 200;
        QTemporaryDir dir;
        const QString folder = dir.path() + "/archives";
        const QString tmp = dir.path() + "/tmp";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir().mkpath(tmp));
        QRandomGenerator random(20240611);
        QStringList archives;
        QMap<QString, QMap<QByteArray, quint32>> originalCrcs;
        for (int a = 0; a < 3; ++a) {
            QByteArray data(qsizetype(3 + a) << 20, '\0');
            random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
            const QString path = QString("%1/disk%2.zip").arg(folder).arg(a + 1);
            QVERIFY(test::makeZip(path, {{"program.exe", data, true},
                                         {"readme.txt", QByteArray(1000, 'r')},
                                         {"file_id.diz", "first\r\n"}}));
            QByteArray diz;
            QVERIFY(readArchive(path, diz, originalCrcs[path]));
            archives << path;
        }
        const QString dizFile = dir.path() + "/new.diz";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp);
        auto start = [&](QProcess& p) {
            p.setProcessEnvironment(env);
            p.start(qEnvironmentVariable("VEXLO32_BINARY"),
                    QStringList{"--save-diz", dizFile} + archives);
        };

        // One whole run tells how long a run takes; kills are spread over it.
        QVERIFY(test::writeBytes(dizFile, "warm up\r\n"));
        QElapsedTimer timer;
        timer.start();
        {
            QProcess p;
            start(p);
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
        }
        const int window = std::max(20, int(timer.elapsed() * 12 / 10));

        int killedMidway = 0; // runs that left some archives new and some old
        int leftovers = 0;    // runs after which a temporary file stood beside an archive
        int finished = 0;     // runs that ended before the kill
        QByteArray previousDiz = "warm up\r\n";
        for (int run = 0; run < runs; ++run) {
            QMap<QString, QByteArray> before;
            for (const QString& a : archives)
                before.insert(a, sha(test::readBytes(a)));
            const QByteArray newDiz = "run " + QByteArray::number(run) + "\r\n";
            QVERIFY(test::writeBytes(dizFile, newDiz));

            QProcess p;
            start(p);
            QVERIFY(p.waitForStarted());
            QThread::usleep(random.bounded(window) * 1000ULL);
            if (p.waitForFinished(0)) {
                ++finished;
            } else {
                p.kill();
                QVERIFY(p.waitForFinished(30000) || p.state() == QProcess::NotRunning);
            }

            int updated = 0;
            for (const QString& a : archives) {
                const QByteArray now = test::readBytes(a);
                if (sha(now) == before.value(a))
                    continue;
                QByteArray diz;
                QMap<QByteArray, quint32> crcs;
                QVERIFY2(readArchive(a, diz, crcs), qPrintable(a));
                QCOMPARE(diz, newDiz);
                QCOMPARE(crcs, originalCrcs.value(a));
                QVERIFY2(unzipTestPasses(a), qPrintable(a));
                ++updated;
            }
            if (updated > 0 && updated < archives.size())
                ++killedMidway;
            const QStringList names = namesIn(folder);
            if (names.size() > archives.size())
                ++leftovers;
            // Each update removes what an earlier one left of its archive
            // before it starts its own: never more than one per archive.
            QVERIFY2(names.size() <= 2 * archives.size(), qPrintable(names.join(' ')));
            for (const QString& n : names) {
                const bool leftover =
                    n.startsWith(u'.') && diz::isUpdateTempName(n, n.mid(1).section(u'.', 0, 1));
                QVERIFY2(archives.contains(folder + '/' + n) || leftover, qPrintable(n));
            }
            previousDiz = newDiz;
        }

        // The next whole run leaves nothing but the archives.
        QVERIFY(test::writeBytes(dizFile, "last\r\n"));
        QProcess p;
        start(p);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(namesIn(folder), (QStringList{"disk1.zip", "disk2.zip", "disk3.zip"}));
        for (const QString& a : archives)
            QVERIFY(unzipTestPasses(a));
        qInfo("%d kills over a %d ms window: %d ended before the kill, %d left archives "
              "half old and half new, %d left a temporary file that a later run removed",
              runs, window, finished, killedMidway, leftovers);
        // Nor anything in the temporary folder, killed or not.
        QCOMPARE(namesIn(tmp), QStringList());
        // Killed updates that left a named file are rare now: only the
        // moment between naming the new file and the exchange leaves one.
        QVERIFY(finished < runs); // the kills did reach running updates
    }
};

QTEST_GUILESS_MAIN(TestKillSave)
#include "test_kill_save.moc"
