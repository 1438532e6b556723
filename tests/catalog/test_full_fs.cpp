// SPDX-License-Identifier: MIT
// Writing onto a full or read-only file system: a small tmpfs mounted in a
// private mount namespace of a forked child. An update that cannot be
// written leaves the archive byte-identical, leaves nothing beside it and
// reports a status, and the run goes on with the next archive; a list file
// that cannot be written is reported as a failure, never as made. The
// flushing of a committed update is checked on the system calls.

#include "catalog/FolderWalk.h"
#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "reliability_support.h"
#include "test_catalog_support.h"

#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;
using namespace vexlo::test;

namespace {

// Fills the file system holding folder until a write fails.
bool fill(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder + "/filler").constData(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'f');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

// The child's checks: false with a message on stderr.
#define CHILD_CHECK(cond)                                                                          \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "child check failed at line %d: %s\n", __LINE__, #cond);          \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)

QByteArray randomBytes(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((unsigned(i) * 7919u + (unsigned(i) >> 5) * 104729u) & 0xffu);
    return b;
}

} // namespace

class TestFullFs : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    // Where the code under test keeps its temporary description, instead of
    // the user's own folders.
    QTemporaryDir m_userFiles;

    void runIsolated(const std::function<int()>& body, const char* what)
    {
        const int rc = inChild(body);
        if (rc == kChildCannot)
            QSKIP(qPrintable(QString("no private mount namespace here: %1 not tested").arg(what)));
        QCOMPARE(rc, 0);
    }

private slots:
    void initTestCase() { platform::setUserFoldersOverride(m_userFiles.path()); }
    void cleanupTestCase() { platform::setUserFoldersOverride(QString()); }

    void fullFileSystemLeavesTheArchive()
    {
        const QString mnt = m_root.path() + "/full";
        const QString other = m_root.path() + "/other";
        QVERIFY(QDir().mkpath(mnt));
        QVERIFY(QDir().mkpath(other));
        const QString diz = m_root.path() + "/file_id.diz";
        QVERIFY(writeBytes(diz, "NEW DESCRIPTION\r\n"));
        QVERIFY(makeZip(other + "/second.zip", {{"file_id.diz", "old\r\n"}}));

        runIsolated(
            [&]() -> int {
                if (!mountPrivateTmpfs(QFile::encodeName(mnt), 1024))
                    return kChildCannot;
                const QString archive = mnt + "/first.zip";
                CHILD_CHECK(makeZip(archive, {{"program.exe", randomBytes(600 * 1024), true},
                                              {"file_id.diz", "old\r\n"}}));
                const QByteArray before = readBytes(archive);
                CHILD_CHECK(fill(mnt));
                const QStringList namesBefore = namesIn(mnt);

                diz::ZipComponent zip;
                zip.setMemberMask(diz + '\r');
                zip.setArchivePath(archive);
                CHILD_CHECK(zip.UpdateMembers(0) == diz::ZipStatus::CannotWriteArchive);
                CHILD_CHECK(readBytes(archive) == before);
                CHILD_CHECK(namesIn(mnt) == namesBefore);

                // The command line reports it and goes on with the next one.
                CHILD_CHECK(
                    runProgramRaw({"--save-diz", QFile::encodeName(diz), QFile::encodeName(archive),
                                   QFile::encodeName(other + "/second.zip")}) == 1);
                CHILD_CHECK(readBytes(archive) == before);
                CHILD_CHECK(namesIn(mnt) == namesBefore);
                QByteArray read;
                CHILD_CHECK(zip.ReadMember(other + "/second.zip", "file_id.diz", read) ==
                            diz::ZipStatus::Success);
                CHILD_CHECK(read == "NEW DESCRIPTION\r\n");
                return 0;
            },
            "a full file system");
    }

    void listFileOnAFullOrReadOnlyFileSystem_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("full") << false << QByteArray("No space left on device");
        QTest::newRow("read-only") << true << QByteArray("Read-only file system");
    }
    void listFileOnAFullOrReadOnlyFileSystem()
    {
        QFETCH(bool, readOnly);
        QFETCH(QByteArray, reason);
        const QString mnt = m_root.path() + (readOnly ? "/ro" : "/fulllist");
        const QString listed = m_root.path() + "/listed";
        QVERIFY(QDir().mkpath(mnt));
        // Enough files that the list outgrows what is left of the disk.
        for (int i = 0; i < 400; ++i)
            QVERIFY(writeBytes(QString("%1/file%2.txt").arg(listed).arg(i), "x"));

        runIsolated(
            [&]() -> int {
                if (!mountPrivateTmpfs(QFile::encodeName(mnt), 64))
                    return kChildCannot;
                // The previous list, which a failed run must leave whole.
                const QString list = mnt + "/list.txt";
                const QByteArray previous = "\r\n/the previous list\r\nA.TXT  1\r\n";
                CHILD_CHECK(writeBytes(list, previous));
                if (readOnly)
                    CHILD_CHECK(remountReadOnly(QFile::encodeName(mnt)));
                else
                    CHILD_CHECK(fill(mnt) && ::unlink(QFile::encodeName(mnt + "/filler")) == 0 &&
                                writeBytes(mnt + "/filler", QByteArray(60 * 1024 - 8192, 'f')));

                RunControl run;
                run.keepRunning = true;
                catalog::ListOptions options;
                FakeHost host;
                FolderListing pane;
                diz::ZipComponent zip;
                catalog::ListWriter writer;
                catalog::CatalogJob job{run, options, pane, zip, writer, host};
                const catalog::MakeListResult result = catalog::MakeListRun(job, list, listed);
                CHILD_CHECK(!result.ok);
                CHILD_CHECK(result.errorText.toUtf8().contains(reason));

                QByteArray err;
                CHILD_CHECK(runProgramRaw({"--make-list", QFile::encodeName(listed), "--output",
                                           QFile::encodeName(list)}) == 1);
                CHILD_CHECK(readBytes(list) == previous);
                CHILD_CHECK(namesIn(mnt).filter(".vexlo32-").isEmpty());
                return 0;
            },
            "a list file on a full or read-only file system");
    }

    // A read-only file system under the archive: the update fails with a
    // status and the archive stays as it was.
    void archiveOnAReadOnlyFileSystem()
    {
        const QString mnt = m_root.path() + "/roarchive";
        QVERIFY(QDir().mkpath(mnt));
        const QString diz = m_root.path() + "/file_id.diz";
        QVERIFY(writeBytes(diz, "NEW\r\n"));
        runIsolated(
            [&]() -> int {
                if (!mountPrivateTmpfs(QFile::encodeName(mnt), 1024))
                    return kChildCannot;
                const QString archive = mnt + "/game.zip";
                CHILD_CHECK(makeZip(archive, {{"file_id.diz", "old\r\n"}}));
                CHILD_CHECK(remountReadOnly(QFile::encodeName(mnt)));
                const QByteArray before = readBytes(archive);
                diz::ZipComponent zip;
                zip.setMemberMask(diz + '\r');
                zip.setArchivePath(archive);
                const diz::ZipStatus status = zip.UpdateMembers(0);
                CHILD_CHECK(status == diz::ZipStatus::CannotWriteArchive ||
                            status == diz::ZipStatus::CannotOpenArchive);
                CHILD_CHECK(readBytes(archive) == before);
                CHILD_CHECK(runProgramRaw({"--save-diz", QFile::encodeName(diz),
                                           QFile::encodeName(archive)}) == 1);
                return 0;
            },
            "an archive on a read-only file system");
    }

    // A read-only archive in a read-only folder, as a user who owns neither:
    // the command line reports the failure and the archive is unchanged.
    void readOnlyArchiveAndFolderAsAnotherUser()
    {
        const QString folder = m_root.path() + "/locked";
        QVERIFY(QDir().mkpath(folder));
        const QString archive = folder + "/game.zip";
        QVERIFY(makeZip(archive, {{"file_id.diz", "old\r\n"}}));
        const QString diz = m_root.path() + "/file_id.diz";
        QVERIFY(writeBytes(diz, "NEW\r\n"));
        ::chmod(QFile::encodeName(m_root.path()).constData(), 0755);
        ::chmod(QFile::encodeName(diz).constData(), 0644);
        ::chmod(QFile::encodeName(archive).constData(), 0444);
        ::chmod(QFile::encodeName(folder).constData(), 0555);
        const QByteArray before = readBytes(archive);
        const int rc = inChild([&]() -> int {
            if (!dropToNobody())
                return kChildCannot;
            if (::geteuid() != 0 && ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
                return kChildCannot; // this user may write there after all
            return runProgramRaw(
                {"--save-diz", QFile::encodeName(diz), QFile::encodeName(archive)});
        });
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        if (rc == kChildCannot)
            QSKIP("cannot run as a user without write permission");
        QCOMPARE(rc, 1);
        QCOMPARE(readBytes(archive), before);
        QCOMPARE(namesIn(folder), QStringList{"game.zip"});
    }

    // A list in a folder where this user may not make files, but may write
    // the list itself: it is written in place, as it always was.
    void listInAFolderWeMayNotWrite()
    {
        const QString folder = m_root.path() + "/lists";
        const QString listed = m_root.path() + "/listed-ro";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeBytes(listed + "/a.txt", "x"));
        const QString list = folder + "/list.txt";
        QVERIFY(writeBytes(list, "old list"));
        ::chmod(QFile::encodeName(m_root.path()).constData(), 0755);
        ::chmod(QFile::encodeName(listed).constData(), 0755);
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        ::chmod(QFile::encodeName(list).constData(), 0666);
        const int rc = inChild([&]() -> int {
            if (!dropToNobody() || ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
                return kChildCannot;
            return runProgramRaw(
                {"--make-list", QFile::encodeName(listed), "--output", QFile::encodeName(list)});
        });
        if (rc == kChildCannot)
            QSKIP("cannot run as a user without write permission to the folder");
        QCOMPARE(rc, 0);
        QVERIFY(readBytes(list).contains("A.TXT"));
        QCOMPARE(namesIn(folder), QStringList{"list.txt"});
    }

    // Power loss: the new archive gets its mode and reaches the disk before
    // it takes the archive's place, and the folder is flushed after. Checked
    // on the system calls of the command line.
    void committedUpdateIsFlushed()
    {
        if (QStandardPaths::findExecutable("strace").isEmpty())
            QSKIP("strace is not installed");
        const QString archive = m_root.path() + "/flushed.zip";
        QVERIFY(makeZip(archive,
                        {{"game.exe", randomBytes(300000), true}, {"file_id.diz", "old\r\n"}}));
        const QString diz = m_root.path() + "/file_id.diz";
        QVERIFY(writeBytes(diz, "NEW\r\n"));
        QProcess p;
        // The leak checker of a sanitizer build cannot run under a tracer.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        p.setProcessEnvironment(env);
        p.start("strace",
                {"-f", "-qq", "-e",
                 "trace=rename,renameat,renameat2,openat,fchmod,fsync,fdatasync,linkat,fcntl,dup",
                 "-o", m_root.path() + "/trace", qEnvironmentVariable("VEXLO32_BINARY"),
                 "--save-diz", diz, archive});
        QVERIFY(p.waitForFinished(60000));
        if (p.exitCode() != 0 && readBytes(m_root.path() + "/trace").isEmpty())
            QSKIP("strace cannot trace here");
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = readBytes(m_root.path() + "/trace").split('\n');
        auto result = [](const QByteArray& line) {
            return line.mid(line.lastIndexOf("= ") + 2).trimmed();
        };
        auto find = [&](qsizetype from, auto matches) {
            for (qsizetype i = from; i < lines.size(); ++i)
                if (matches(lines[i]))
                    return i;
            return qsizetype(-1);
        };
        const QByteArray folder = QFile::encodeName(m_root.path());
        const qsizetype folderAt = find(0, [&](const QByteArray& l) {
            return l.contains("openat(AT_FDCWD, \"" + folder + "\"") && l.contains("O_DIRECTORY");
        });
        QVERIFY2(folderAt >= 0, "the folder is not opened");
        const QByteArray dirFd = result(lines[folderAt]);
        // The new archive: unnamed in the folder where the file system allows.
        const qsizetype createdAt = find(folderAt, [&](const QByteArray& l) {
            return l.contains("openat(" + dirFd + ",") &&
                   (l.contains("O_TMPFILE") || l.contains("O_CREAT")) && !l.contains("= -1");
        });
        QVERIFY2(createdAt >= 0, "no new file in the archive's folder");
        const QByteArray fd = result(lines[createdAt]);
        const qsizetype chmodAt =
            find(createdAt, [&](const QByteArray& l) { return l.contains("fchmod(" + fd + ","); });
        const qsizetype syncAt = find(createdAt, [&](const QByteArray& l) {
            return l.contains("fsync(" + fd + ")") && l.contains("= 0");
        });
        const qsizetype placedAt = find(createdAt, [&](const QByteArray& l) {
            return l.contains("rename") && l.contains("\"flushed.zip\"") && l.contains("= 0");
        });
        // The folder may be flushed through a copy of its descriptor, once for
        // many updates: any descriptor opened on it, or copied from one, counts.
        QList<QByteArray> folderFds{dirFd};
        qsizetype folderSyncAt = -1;
        for (qsizetype i = folderAt; i < lines.size() && folderSyncAt < 0; ++i) {
            const QByteArray& l = lines[i];
            for (const QByteArray& fd : QList<QByteArray>(folderFds)) {
                if ((l.contains("fcntl(" + fd + ", F_DUPFD") || l.contains(" dup(" + fd + ")")) &&
                    !l.contains("= -1"))
                    folderFds.append(result(l));
                if (i > placedAt && placedAt >= 0 && l.contains("fsync(" + fd + ")") &&
                    l.contains("= 0"))
                    folderSyncAt = i;
            }
            if (l.contains("openat(AT_FDCWD, \"" + folder + "\"") && l.contains("O_DIRECTORY") &&
                !l.contains("= -1"))
                folderFds.append(result(l));
        }
        QVERIFY2(chmodAt > createdAt, "the mode is not set on the new file");
        QVERIFY2(syncAt > chmodAt, "the new file is not flushed after its last change");
        QVERIFY2(placedAt > syncAt, "put in place before it was flushed");
        QVERIFY2(folderSyncAt > placedAt, "the folder is not flushed after");
        QVERIFY(lines[placedAt].contains("RENAME_EXCHANGE") || lines[placedAt].contains("rename"));
        QCOMPARE(namesIn(m_root.path()).filter(".vexlo32-"), QStringList());
    }

    // Some network and FUSE file systems cannot flush a folder: the update
    // that was put in place is no failure there; any other error is told as
    // what it is. And another program that writes into the archive just
    // before the exchange keeps what it wrote.
    void faultsAtTheLastMoment_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("folder flush: EINVAL")
            << "VEXLO32_DIR_FSYNC_ERRNO" << EINVAL << 0 << QByteArray();
        QTest::newRow("folder flush: ENOTSUP")
            << "VEXLO32_DIR_FSYNC_ERRNO" << ENOTSUP << 0 << QByteArray();
        QTest::newRow("folder flush: EIO")
            << "VEXLO32_DIR_FSYNC_ERRNO" << EIO << 1 << QByteArray("could not be flushed");
        QTest::newRow("bytes appended before the exchange")
            << "VEXLO32_APPEND_BEFORE_EXCHANGE" << 0 << 1
            << QByteArray("changed during the update");
    }
    void faultsAtTheLastMoment()
    {
        QFETCH(QString, variable);
        QFETCH(int, error);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        const QString folder =
            m_root.path() + "/fault" + QString::number(qHash(variable) + uint(error));
        QVERIFY(QDir().mkpath(folder));
        const QString archive = folder + "/game.zip";
        QVERIFY(makeZip(archive, {{"file_id.diz", "old\r\n"}}));
        const QByteArray original = readBytes(archive);
        const QString diz = folder + "/new.diz";
        QVERIFY(writeBytes(diz, "NEW\r\n"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", VEXLO32_FAULT_SHIM);
        env.insert(variable, error ? QString::number(error) : archive);
        // A sanitizer build wants its runtime first; the shim goes before it.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("VEXLO32_BINARY"), {"--save-diz", diz, archive});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY2(err.contains(message), err.constData());
        if (variable == "VEXLO32_APPEND_BEFORE_EXCHANGE") {
            QCOMPARE(readBytes(archive), original + "appended");
        } else {
            diz::ZipComponent zip;
            QByteArray stored;
            QCOMPARE(zip.ReadMember(archive, "file_id.diz", stored), diz::ZipStatus::Success);
            QCOMPARE(stored, QByteArray("NEW\r\n")); // in place in every case
        }
        QCOMPARE(namesIn(folder), (QStringList{"game.zip", "new.diz"}));
    }
};

QTEST_GUILESS_MAIN(TestFullFs)
#include "test_full_fs.moc"
