// SPDX-License-Identifier: MIT
#include "platform/DiskInfo.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

using vexlo::platform::DiskInfo;

namespace {

// Exit status of the probe when this machine does not let it isolate itself.
constexpr int kProbeCannotIsolate = 77;

qint64 freeSpaceOf(const QString& path)
{
    DiskInfo info;
    info.setDriveLetter(path);
    return info.FreeSpace();
}

// The figure computed independently of DiskInfo, to bracket its answer.
qint64 statvfsKiB(const QString& folder)
{
    struct statvfs vfs;
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0)
        return -1;
    return qint64(double(vfs.f_bavail) * double(vfs.f_frsize) / 1024.0);
}

bool writeProcFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

// A private mount namespace, so that the mounts the probe makes are seen by
// no other process. Falls back to a user namespace when not privileged.
bool enterPrivateMounts()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeProcFile("/proc/self/setgroups", "deny");
        if (!writeProcFile("/proc/self/uid_map",
                           QByteArray("0 ") + QByteArray::number(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", QByteArray("0 ") + QByteArray::number(gid) + " 1"))
            return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// test_diskinfo --probe [--tmpfs DIR OPTIONS]... [--uid UID] -- PATH...
// Mounts the tmpfs file systems in a private namespace, drops to the user id
// if asked, and prints FreeSpace of each path on its own line.
int runProbe(int argc, char** argv)
{
    int i = 2;
    bool needMounts = false;
    struct Mount {
        QByteArray dir;
        unsigned long flags;
        QByteArray data;
    };
    std::vector<Mount> mounts;
    long uid = -1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--tmpfs") == 0 && i + 2 < argc) {
            Mount m{argv[i + 1], 0, QByteArray()};
            QList<QByteArray> data;
            for (const QByteArray& option : QByteArray(argv[i + 2]).split(',')) {
                if (option == "ro")
                    m.flags |= MS_RDONLY;
                else
                    data.append(option);
            }
            m.data = data.join(',');
            mounts.push_back(m);
            needMounts = true;
            i += 2;
        } else if (std::strcmp(argv[i], "--uid") == 0 && i + 1 < argc) {
            uid = std::strtol(argv[++i], nullptr, 10);
        } else {
            return 2;
        }
    }
    if (needMounts) {
        if (!enterPrivateMounts())
            return kProbeCannotIsolate;
        for (const Mount& m : mounts) {
            if (::mount("vexlo32-test", m.dir.constData(), "tmpfs", m.flags, m.data.constData()) !=
                0)
                return kProbeCannotIsolate;
        }
    }
    if (uid >= 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0)
            return kProbeCannotIsolate;
    }
    for (++i; i < argc; ++i)
        std::printf("%lld\n", static_cast<long long>(freeSpaceOf(QString::fromLocal8Bit(argv[i]))));
    return 0;
}

struct ProbeResult {
    int exitCode = -1;
    QList<qint64> figures;
};

ProbeResult probe(const QStringList& options, const QStringList& paths)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(),
                  QStringList{"--probe"} + options + QStringList{"--"} + paths);
    ProbeResult result;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            result.figures.append(line.toLongLong());
    }
    return result;
}

} // namespace

class TestDiskInfo : public QObject {
    Q_OBJECT

private slots:
    void writableFolderHasRoom()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const qint64 before = statvfsKiB(dir.path());
        const qint64 figure = freeSpaceOf(dir.path());
        const qint64 after = statvfsKiB(dir.path());
        QVERIFY2(figure >= DiskInfo::kWritableThreshold, qPrintable(QString::number(figure)));
        // Other processes write to the same disk meanwhile: allow 64 MiB.
        QVERIFY2(
            figure >= qMin(before, after) - 65536 && figure <= qMax(before, after) + 65536,
            qPrintable(QStringLiteral("%1 not near %2..%3").arg(figure).arg(before).arg(after)));
    }

    void judgedFolder_data()
    {
        QTest::addColumn<QString>("relative"); // path under the temp folder
        QTest::addColumn<QString>("expected"); // folder under the temp folder that decides
                                               // (empty: the temp folder itself)
        QTest::newRow("existing folder") << "zips"
                                         << "zips";
        QTest::newRow("existing file") << "zips/a.zip"
                                       << "zips";
        QTest::newRow("not yet created file") << "zips/list.txt"
                                              << "zips";
        QTest::newRow("not yet created nested") << "zips/new/deeper/list.txt"
                                                << "zips";
        QTest::newRow("trailing separator") << "zips/new/"
                                            << "zips";
        // Taken as given: "ZIPS" is not "zips", and is yet to be created.
        QTest::newRow("other letter case") << "ZIPS/NEW/list.txt"
                                           << "";
        QTest::newRow("hidden folder") << ".hidden/x"
                                       << ".hidden";
    }
    void judgedFolder()
    {
        QFETCH(QString, relative);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("zips"));
        QVERIFY(QDir(dir.path()).mkpath(".hidden"));
        QVERIFY(vexlo::test::writeBytes(dir.path() + "/zips/a.zip", "PK"));
        QCOMPARE(DiskInfo::judgedFolder(dir.path() + "/" + relative),
                 expected.isEmpty() ? dir.path() : dir.path() + "/" + expected);
    }

    void notYetCreatedPathGivesItsFileSystemsFigure()
    {
        QTemporaryDir dir;
        const QString nested = dir.path() + "/not/yet/made/Vexlo.txt";
        const qint64 before = statvfsKiB(dir.path());
        const qint64 figure = freeSpaceOf(nested);
        const qint64 after = statvfsKiB(dir.path());
        QVERIFY(figure >= DiskInfo::kWritableThreshold);
        QVERIFY(figure >= qMin(before, after) - 65536 && figure <= qMax(before, after) + 65536);
        QVERIFY(!QFile::exists(dir.path() + "/not")); // asking creates nothing
    }

    void emptyAndRelativePathsUseTheCurrentFolder()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("sub"));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path() + "/sub"));
        const QString here = QDir::currentPath();
        const QString fromEmpty = DiskInfo::judgedFolder(QString());
        const QString fromRelative = DiskInfo::judgedFolder("new/list.txt");
        const qint64 figure = freeSpaceOf(QString());
        QVERIFY(QDir::setCurrent(saved));
        QCOMPARE(fromEmpty, here);
        QCOMPARE(fromRelative, here);
        QVERIFY(figure >= DiskInfo::kWritableThreshold);
    }

    void unusablePathsGiveZero_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("file used as a folder") << "a.zip/list.txt";
        QTest::newRow("below a file") << "a.zip/deeper/list.txt";
    }
    void unusablePathsGiveZero()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(vexlo::test::writeBytes(dir.path() + "/a.zip", "PK"));
        QCOMPARE(DiskInfo::judgedFolder(dir.path() + "/" + relative), QString());
        QCOMPARE(freeSpaceOf(dir.path() + "/" + relative), qint64(0));
    }

    void folderNotWritableByTheUserGivesZero()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("locked"));
        QVERIFY(QDir(dir.path()).mkpath("open"));
        QVERIFY(QFile::setPermissions(
            dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                            QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
        QVERIFY(QFile::setPermissions(dir.path() + "/locked",
                                      QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(dir.path() + "/open", QFileDevice::Permissions(0x7777)));
        const QStringList paths{dir.path() + "/locked", dir.path() + "/locked/new/list.txt",
                                dir.path() + "/open", dir.path() + "/open/list.txt"};

        QList<qint64> figures;
        if (::geteuid() != 0) {
            for (const QString& path : paths)
                figures.append(freeSpaceOf(path));
        } else {
            // root may write anywhere: ask as an ordinary user instead.
            const ProbeResult result = probe({"--uid", "65534"}, paths);
            if (result.exitCode == kProbeCannotIsolate)
                QSKIP("cannot drop to an ordinary user here");
            QCOMPARE(result.exitCode, 0);
            figures = result.figures;
        }
        QFile::setPermissions(dir.path() + "/locked",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(figures.size(), paths.size());
        QCOMPARE(figures[0], qint64(0));
        QCOMPARE(figures[1], qint64(0));
        // The same user may write beside it: the zeros come from the folder.
        QVERIFY(figures[2] >= DiskInfo::kWritableThreshold);
        QVERIFY(figures[3] >= DiskInfo::kWritableThreshold);
    }

    void readOnlyMountGivesZeroAndEachMountItsOwnFigure()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("ro"));
        QVERIFY(QDir(dir.path()).mkpath("rw"));
        const QString ro = dir.path() + "/ro";
        const QString rw = dir.path() + "/rw";
        // Two fresh 8 MiB file systems mounted where only the probe sees them.
        const ProbeResult result =
            probe({"--tmpfs", ro, "ro,size=8m", "--tmpfs", rw, "size=8m"},
                  {ro, ro + "/new/Vexlo.txt", rw, rw + "/a/b/Vexlo.txt", dir.path()});
        if (result.exitCode == kProbeCannotIsolate)
            QSKIP("no private mount namespace available for a read-only mount");
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.figures.size(), 5);
        QCOMPARE(result.figures[0], qint64(0));
        QCOMPARE(result.figures[1], qint64(0));
        QCOMPARE(result.figures[2], qint64(8 * 1024));
        QCOMPARE(result.figures[3], qint64(8 * 1024));
        // The folder holding the mounts is on another file system.
        QVERIFY(result.figures[4] >= DiskInfo::kWritableThreshold);
        QVERIFY(result.figures[4] != qint64(8 * 1024));
    }
};

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--probe") == 0)
        return runProbe(argc, argv);
    QCoreApplication app(argc, argv);
    TestDiskInfo test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_diskinfo.moc"
