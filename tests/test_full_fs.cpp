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

    void runIsolated(const std::function<int()>& body, const char* what)
    {
        const int rc = inChild(body);
        if (rc == kChildCannot)
            QSKIP(qPrintable(QString("no private mount namespace here: %1 not tested").arg(what)));
        QCOMPARE(rc, 0);
    }

private slots:
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
                CHILD_CHECK(zip.ReadMember(other + "/second.zip", "file_id.diz", read) == 0);
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
                if (readOnly)
                    CHILD_CHECK(remountReadOnly(QFile::encodeName(mnt)));
                else
                    CHILD_CHECK(fill(mnt) && ::unlink(QFile::encodeName(mnt + "/filler")) == 0 &&
                                writeBytes(mnt + "/filler", QByteArray(60 * 1024 - 4096, 'f')));
                const QString list = mnt + "/list.txt";

                SharedState state;
                state.KeepRunning = true;
                FakeHost host;
                FolderListing pane;
                diz::ZipComponent zip;
                catalog::ListWriter writer;
                catalog::CatalogJob job{state, pane, zip, writer, host};
                const catalog::MakeListResult result = catalog::MakeListRun(job, list, listed);
                CHILD_CHECK(!result.ok);
                CHILD_CHECK(result.errorText.toUtf8().contains(reason));

                QByteArray err;
                CHILD_CHECK(runProgramRaw({"--make-list", QFile::encodeName(listed), "--output",
                                           QFile::encodeName(list)}) == 1);
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
                const qint16 status = zip.UpdateMembers(0);
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

    // Power loss: the new archive reaches the disk before it is renamed over
    // the old one, and the folder is flushed after the rename. Checked on the
    // system calls of the command line.
    void committedUpdateIsFlushed()
    {
        if (QStandardPaths::findExecutable("strace").isEmpty())
            QSKIP("strace is not installed");
        const QString archive = m_root.path() + "/flushed.zip";
        QVERIFY(makeZip(archive, {{"file_id.diz", "old\r\n"}}));
        const QString diz = m_root.path() + "/file_id.diz";
        QVERIFY(writeBytes(diz, "NEW\r\n"));
        QProcess p;
        // The leak checker of a sanitizer build cannot run under a tracer.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        p.setProcessEnvironment(env);
        p.start("strace",
                {"-f", "-qq", "-e", "trace=rename,renameat,renameat2,openat,fsync,fdatasync", "-o",
                 m_root.path() + "/trace", qEnvironmentVariable("VEXLO32_BINARY"), "--save-diz",
                 diz, archive});
        QVERIFY(p.waitForFinished(60000));
        if (p.exitCode() != 0 && readBytes(m_root.path() + "/trace").isEmpty())
            QSKIP("strace cannot trace here");
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = readBytes(m_root.path() + "/trace").split('\n');
        const QByteArray archiveBytes = QFile::encodeName(archive);
        qsizetype renamed = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].contains("rename") && lines[i].contains(archiveBytes + "\""))
                renamed = i;
        }
        QVERIFY2(renamed >= 0, "no rename over the archive");
        // A descriptor opened on a path (exactly, or the archive's name plus
        // a temporary suffix) is fsynced within [from, to). The path may be
        // opened more than once (the new archive is also read back).
        auto fsynced = [&](auto matches, qsizetype from, qsizetype to) {
            QList<QByteArray> fds;
            for (qsizetype i = from; i < to; ++i) {
                const QByteArray& l = lines[i];
                const qsizetype q = l.indexOf("\"");
                const QByteArray path = q < 0 ? QByteArray() : l.mid(q + 1, l.indexOf('"', q + 1) - q - 1);
                if (l.contains("openat(") && matches(path) && l.contains("= ") && !l.contains("= -1"))
                    fds.append(l.mid(l.lastIndexOf("= ") + 2).trimmed());
                for (const QByteArray& fd : fds)
                    if (l.contains("fsync(" + fd + ")") && l.contains("= 0"))
                        return true;
            }
            return false;
        };
        auto isTemporary = [&](const QByteArray& path) {
            return path.startsWith(archiveBytes + ".") && path.size() == archiveBytes.size() + 7;
        };
        auto isFolder = [&](const QByteArray& path) { return path == QFile::encodeName(m_root.path()); };
        QVERIFY2(fsynced(isTemporary, 0, renamed), "the new archive is not flushed before the rename");
        QVERIFY2(fsynced(isFolder, renamed, lines.size()), "its folder is not flushed after the rename");
    }
};

QTEST_GUILESS_MAIN(TestFullFs)
#include "test_full_fs.moc"
