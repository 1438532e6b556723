#include "diz/ArchiveFileSource.h"
#include "diz/StrayUpdateFiles.h"
#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo::diz;
using vexlo::test::FileSizeLimit;
using vexlo::test::folderEntries;
using vexlo::test::makeZip;
using vexlo::test::Member;
using vexlo::test::noise;
using vexlo::test::readBytes;
using vexlo::test::runProgram;
using vexlo::test::writeBytes;

namespace {

const QString kDiz = QStringLiteral("file_id.diz");


mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Every member's stored name with its raw (still compressed) bytes.
std::map<QString, QByteArray> rawMembers(const QString& path)
{
    std::map<QString, QByteArray> out;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return out;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_file_t* file = zip_stat_index(archive, zip_uint64_t(i), 0, &st) == 0
                               ? zip_fopen_index(archive, zip_uint64_t(i), ZIP_FL_COMPRESSED)
                               : nullptr;
        if (!file)
            continue;
        QByteArray bytes;
        char buffer[65536];
        zip_int64_t got;
        while ((got = zip_fread(file, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, qsizetype(got));
        zip_fclose(file);
        out[QString::fromUtf8(st.name)] = bytes;
    }
    zip_discard(archive);
    return out;
}

QByteArray memberData(const QString& path, const QString& name)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return QByteArray();
    QByteArray out;
    zip_file_t* file = zip_fopen(archive, name.toUtf8().constData(), ZIP_FL_NOCASE);
    if (file) {
        out = QByteArray("");
        char buffer[65536];
        zip_int64_t got;
        while ((got = zip_fread(file, buffer, sizeof buffer)) > 0)
            out.append(buffer, qsizetype(got));
        if (got < 0)
            out = QByteArray();
        zip_fclose(file);
    }
    zip_discard(archive);
    return out;
}

// Runs a tool; exit code, or -1 when it could not be run.
int runTool(const QString& program, const QStringList& args, QByteArray* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The leak checker of a sanitizer build cannot run under a tracer.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = process.readAll();
    return process.exitCode();
}

struct SourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using SourcePtr = std::unique_ptr<zip_source_t, SourceFree>;

SourcePtr sourceFor(const QString& path)
{
    return SourcePtr(createArchiveFileSource(QFile::encodeName(path), nullptr));
}

} // namespace

class TestZipSource : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_case = 0;

    QString freshPath(const QString& name)
    {
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QDir().mkpath(folder);
        return folder + u'/' + name;
    }

    qint16 update(const QString& archive, const QByteArray& content)
    {
        const QString source = m_dir.filePath(QStringLiteral("src%1").arg(++m_case));
        QDir().mkpath(source);
        if (!writeBytes(source + u'/' + kDiz, content))
            return -1;
        ZipComponent zip;
        zip.setMemberMask(source + u'/' + kDiz + u'\r');
        zip.setArchivePath(archive);
        return zip.UpdateMembers(0);
    }

    void checkWithUnzip(const QString& archive)
    {
        const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
        if (unzip.isEmpty())
            return; // libzip's own reading has been checked by the caller
        QByteArray output;
        QCOMPARE(runTool(unzip, {QStringLiteral("-tqq"), archive}, &output), 0);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // --- the source on its own --------------------------------------------

    void readsWhatLibzipWrote()
    {
        const QString archive = freshPath("game.zip");
        const QByteArray big = noise(3 * 1024 * 1024 + 17); // beyond one read block
        QVERIFY(makeZip(archive, {{"game.exe", big, true}, {kDiz, "text", false}}));
        int error = 0;
        zip_t* zip = openArchiveFile(QFile::encodeName(archive), ZIP_RDONLY, &error);
        QVERIFY2(zip, qPrintable(QString::number(error)));
        zip_file_t* file = zip_fopen(zip, "game.exe", 0);
        QVERIFY(file);
        QByteArray got;
        char buffer[5000]; // not a divisor of the block size
        zip_int64_t n;
        while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
            got.append(buffer, qsizetype(n));
        QCOMPARE(n, zip_int64_t(0));
        zip_fclose(file);
        zip_discard(zip);
        QCOMPARE(got, big);
    }

    void missingAndEmptyFilesAreNoArchives()
    {
        int error = 0;
        const QString missing = freshPath("none.zip");
        QVERIFY(!openArchiveFile(QFile::encodeName(missing), 0, &error));
        QCOMPARE(error, ZIP_ER_NOENT);
        const QString empty = freshPath("empty.zip");
        QVERIFY(writeBytes(empty, QByteArray()));
        error = 0;
        QVERIFY(!openArchiveFile(QFile::encodeName(empty), 0, &error));
        QCOMPARE(error, ZIP_ER_NOZIP);
        QCOMPARE(readBytes(empty), QByteArray());
    }

    void supportsWriting()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "old", false}}));
        int error = 0;
        zip_t* zip = openArchiveFile(QFile::encodeName(archive), 0, &error);
        QVERIFY(zip);
        // libzip opens read-only what lacks any of the write commands.
        QCOMPARE(zip_get_archive_flag(zip, ZIP_AFL_RDONLY, 0), 0);
        zip_discard(zip);
    }

    // Writes that seek back into and past the buffered run, across the
    // buffer's size, land where they were meant to: an archive written with
    // holes that later writes fill is committed byte for byte.
    void seekingWritesLandInPlace()
    {
        const QString model = freshPath("model.zip");
        QVERIFY(makeZip(model, {{"game.exe", noise(2 * 1024 * 1024 + 100, 3), true}}));
        const QByteArray expected = readBytes(model);
        const qsizetype size = expected.size();

        const QString path = freshPath("data.bin");
        QVERIFY(writeBytes(path, "original"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        SourcePtr source = sourceFor(path);
        QVERIFY(source);
        QCOMPARE(zip_source_begin_write(source.get()), 0);

        // The temporary file has the name the leftover clean-up knows.
        const QString folder = QFileInfo(path).absolutePath();
        const QStringList during = folderEntries(folder);
        QCOMPARE(during.size(), 2);
        const QString temp = during.at(0) == "data.bin" ? during.at(1) : during.at(0);
        QVERIFY2(isUpdateTempName(temp, QStringLiteral("data.bin")), qPrintable(temp));

        const struct {
            zip_int64_t offset;
            int whence;
            qsizetype at; // where the patch lands
            qsizetype length;
        } patches[] = {{10, SEEK_SET, 10, 4},
                       {-50, SEEK_END, size - 4 - 50, 4},
                       {1024 * 1024 - 2, SEEK_SET, 1024 * 1024 - 2, 6},
                       {0, SEEK_END, size - 4, 4}}; // past what the first write left
        QByteArray first = expected.left(size - 4);
        for (const auto& patch : patches)
            if (patch.at + patch.length <= first.size())
                first.replace(patch.at, patch.length, QByteArray(patch.length, 'X'));
        QCOMPARE(zip_source_write(source.get(), first.constData(), zip_uint64_t(first.size())),
                 zip_int64_t(first.size()));
        QCOMPARE(zip_source_tell_write(source.get()), zip_int64_t(first.size()));
        for (const auto& patch : patches) {
            QCOMPARE(zip_source_seek_write(source.get(), patch.offset, patch.whence), 0);
            QCOMPARE(zip_source_tell_write(source.get()), zip_int64_t(patch.at));
            const QByteArray bytes = expected.mid(patch.at, patch.length);
            QCOMPARE(zip_source_write(source.get(), bytes.constData(), zip_uint64_t(bytes.size())),
                     zip_int64_t(bytes.size()));
        }
        QCOMPARE(readBytes(path), QByteArray("original")); // not before the commit
        QCOMPARE(zip_source_commit_write(source.get()), 0);
        QCOMPARE(readBytes(path), expected);
        QCOMPARE(int(modeOf(path)), 0640);
        QCOMPARE(folderEntries(folder), QStringList{"data.bin"});
    }

    // What was written must open as an archive before it may replace one.
    void commitRefusesWhatIsNoArchive()
    {
        const QString model = freshPath("model.zip");
        QVERIFY(makeZip(model, {{"game.exe", noise(4000, 4), true}, {kDiz, "text", true}}));
        QByteArray broken = readBytes(model);
        broken.chop(10); // the end record cut short
        const QString path = freshPath("game.zip");
        QVERIFY(makeZip(path, {{kDiz, "old", true}}));
        const QByteArray original = readBytes(path);
        for (const QByteArray& written : {QByteArray("no archive at all"), broken}) {
            SourcePtr source = sourceFor(path);
            QVERIFY(source);
            QCOMPARE(zip_source_begin_write(source.get()), 0);
            QCOMPARE(zip_source_write(source.get(), written.constData(),
                                      zip_uint64_t(written.size())),
                     zip_int64_t(written.size()));
            QCOMPARE(zip_source_commit_write(source.get()), -1);
            QCOMPARE(readBytes(path), original);
            QCOMPARE(folderEntries(QFileInfo(path).absolutePath()), QStringList{"game.zip"});
        }
    }

    void rollbackRemovesTemporaryFile()
    {
        const QString path = freshPath("data.bin");
        QVERIFY(writeBytes(path, "original"));
        {
            SourcePtr source = sourceFor(path);
            QCOMPARE(zip_source_begin_write(source.get()), 0);
            QCOMPARE(zip_source_write(source.get(), "new", 3), zip_int64_t(3));
            zip_source_rollback_write(source.get());
            QCOMPARE(folderEntries(QFileInfo(path).absolutePath()), QStringList{"data.bin"});
            // Freed while writing: the temporary file goes too.
            QCOMPARE(zip_source_begin_write(source.get()), 0);
            QCOMPARE(zip_source_write(source.get(), "new", 3), zip_int64_t(3));
        }
        QCOMPARE(readBytes(path), QByteArray("original"));
        QCOMPARE(folderEntries(QFileInfo(path).absolutePath()), QStringList{"data.bin"});
    }

    // --- updates through the zip layer ------------------------------------

    // The new archive's data reaches the disk before its name replaces the
    // archive, and the folder after: seen in the real program's system calls.
    void flushedBeforeRename()
    {
        const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
        if (strace.isEmpty())
            QSKIP("strace is not installed");
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(300000), true}, {kDiz, "old", false}}));
        const QString diz = freshPath("new.diz");
        QVERIFY(writeBytes(diz, "new text"));
        const QString log = freshPath("trace.log");
        const QByteArray program = qgetenv("VEXLO32_BINARY");
        QVERIFY(!program.isEmpty());
        QByteArray output;
        const QStringList traceArgs = {"-f", "-o", log, "-e", "trace=openat,fchmod,fsync,rename,renameat2",
                                       QString::fromLocal8Bit(program), "--save-diz", diz, archive};
        const int code = runTool(strace, traceArgs, &output);
        if (code != 0 && !QFileInfo::exists(log))
            QSKIP("strace cannot trace here (no ptrace)");
        QVERIFY2(code == 0, output.constData());
        QCOMPARE(memberData(archive, kDiz), QByteArray("new text"));

        const QStringList lines = QString::fromLocal8Bit(readBytes(log)).split(u'\n');
        const QString a = QRegularExpression::escape(archive);
        const QRegularExpression created("openat\\(AT_FDCWD, \"(" + a +
                                         "\\.[0-9a-z]{6})\", [^)]*O_CREAT[^)]*\\) = (\\d+)");
        const QRegularExpression folderOpen("openat\\(AT_FDCWD, \"" +
                                            QRegularExpression::escape(QFileInfo(archive).path()) +
                                            "\", [^)]*O_DIRECTORY[^)]*\\) = (\\d+)");
        int createdAt = -1, chmodAt = -1, syncAt = -1, renameAt = -1, folderSyncAt = -1;
        QString temp, fd, folderFd;
        for (int i = 0; i < lines.size(); ++i) {
            const QString& line = lines.at(i);
            QRegularExpressionMatch m;
            if (createdAt < 0 && (m = created.match(line)).hasMatch()) {
                createdAt = i;
                temp = m.captured(1);
                fd = m.captured(2);
            } else if (createdAt >= 0 && chmodAt < 0 && line.contains("fchmod(" + fd + ",")) {
                chmodAt = i;
            } else if (createdAt >= 0 && syncAt < 0 && line.contains("fsync(" + fd + ")") &&
                       line.contains("= 0")) {
                syncAt = i;
            } else if (createdAt >= 0 && renameAt < 0 && line.contains("rename") &&
                       line.contains('"' + temp + '"') && line.contains('"' + archive + '"') &&
                       line.contains("= 0")) {
                renameAt = i;
            } else if (renameAt >= 0 && folderFd.isEmpty() &&
                       (m = folderOpen.match(line)).hasMatch()) {
                folderFd = m.captured(1);
            } else if (!folderFd.isEmpty() && folderSyncAt < 0 &&
                       line.contains("fsync(" + folderFd + ")")) {
                folderSyncAt = i;
            }
        }
        QVERIFY2(createdAt >= 0, "no temporary file was created");
        QVERIFY2(chmodAt > createdAt, "the permissions are not set on the new file");
        QVERIFY2(syncAt > chmodAt, "the new file is not flushed after its last change");
        QVERIFY2(renameAt > syncAt, "renamed before it was flushed");
        QVERIFY2(folderSyncAt > renameAt, "the folder is not flushed after the rename");
    }

    void permissionsSetBeforeRename_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("0600") << 0600;
        QTest::newRow("0644") << 0644;
        QTest::newRow("0755") << 0755;
        QTest::newRow("0444") << 0444;
    }
    void permissionsSetBeforeRename()
    {
        QFETCH(int, mode);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(2000), false}, {kDiz, "old", false}}));
        QCOMPARE(::chmod(QFile::encodeName(archive).constData(), mode_t(mode)), 0);
        // Through the source alone: the zip layer's own chmod after the
        // commit cannot be what makes this pass.
        int error = 0;
        zip_t* zip = openArchiveFile(QFile::encodeName(archive), 0, &error);
        QVERIFY(zip);
        zip_source_t* data = zip_source_buffer(zip, "new", 3, 0);
        QVERIFY(zip_file_add(zip, "file_id.diz", data, ZIP_FL_OVERWRITE) >= 0);
        QCOMPARE(zip_close(zip), 0);
        QCOMPARE(int(modeOf(archive)), mode);
        QCOMPARE(memberData(archive, kDiz), QByteArray("new"));
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});
    }

    // A write that fails, in the middle of the data or at the last flush,
    // leaves the archive byte for byte as it was and no file beside it.
    void failedWriteLeavesOriginal_data()
    {
        QTest::addColumn<int>("memberSize");
        QTest::addColumn<int>("limit");
        QTest::newRow("during the data") << 3 * 1024 * 1024 << 1536 * 1024;
        QTest::newRow("at the final flush") << 200000 << 100000;
        QTest::newRow("just short of the end") << 200000 << 200050;
    }
    void failedWriteLeavesOriginal()
    {
        QFETCH(int, memberSize);
        QFETCH(int, limit);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(memberSize), true}, {kDiz, "old", false}}));
        const QByteArray bytes = readBytes(archive);
        qint16 status = 0;
        {
            const QString source = m_dir.filePath(QStringLiteral("src%1").arg(++m_case));
            QVERIFY(QDir().mkpath(source));
            QVERIFY(writeBytes(source + u'/' + kDiz, "a new description"));
            ZipComponent zip;
            zip.setMemberMask(source + u'/' + kDiz + u'\r');
            zip.setArchivePath(archive);
            FileSizeLimit lowered{rlim_t(limit)};
            QVERIFY(lowered.ok());
            status = zip.UpdateMembers(0);
        }
        QCOMPARE(status, ZipStatus::CannotWriteArchive);
        QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});
    }

    void zip64MembersSurvive()
    {
        const QString zipTool = QStandardPaths::findExecutable(QStringLiteral("zip"));
        if (zipTool.isEmpty())
            QSKIP("the zip tool (to force ZIP64 records) is not installed");
        const QString folder = QFileInfo(freshPath("x")).absolutePath();
        QVERIFY(writeBytes(folder + "/game.exe", noise(1500000, 5)));
        QVERIFY(writeBytes(folder + "/FILE_ID.DIZ", "old"));
        const QString archive = folder + "/game.zip";
        QProcess process;
        process.setWorkingDirectory(folder);
        process.start(zipTool, {"-q", "-fz", "-0", "game.zip", "game.exe", "FILE_ID.DIZ"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QFile::remove(folder + "/game.exe");
        QFile::remove(folder + "/FILE_ID.DIZ");
        // The archive really has ZIP64 extra fields (header id 0x0001).
        QVERIFY(readBytes(archive).contains(QByteArray("\x01\x00", 2)));
        const auto before = rawMembers(archive);
        QCOMPARE(before.size(), size_t(2));

        QCOMPARE(update(archive, "new"), ZipStatus::Success);
        QCOMPARE(memberData(archive, kDiz), QByteArray("new"));
        const auto after = rawMembers(archive);
        QCOMPARE(after.size(), size_t(2));
        QCOMPARE(after.at("game.exe"), before.at("game.exe"));
        checkWithUnzip(archive);
        QCOMPARE(folderEntries(folder), QStringList{"game.zip"});
    }

    void thousandMembersSurvive()
    {
        const QString archive = freshPath("many.zip");
        std::vector<Member> members;
        for (int i = 0; i < 1000; ++i)
            members.push_back({QStringLiteral("f%1.dat").arg(i, 4, 10, QChar(u'0')),
                               noise(100 + i * 7, quint32(i)), i % 2 == 0});
        QVERIFY(makeZip(archive, members));
        const auto before = rawMembers(archive);
        QCOMPARE(before.size(), size_t(1000));

        QCOMPARE(update(archive, "description"), ZipStatus::Success);
        auto after = rawMembers(archive);
        QCOMPARE(after.size(), size_t(1001));
        QCOMPARE(memberData(archive, kDiz), QByteArray("description"));
        after.erase(kDiz);
        QVERIFY(after == before);
        checkWithUnzip(archive);
    }

    // An archive libzip opens only because it is lenient: the directory puts
    // the last member's local header in the middle of other bytes. Keeping
    // the archive's start as it is would keep that fault, and libzip could
    // no longer open the result; the update rebuilds the archive instead.
    void misplacedHeaderArchiveStillUpdates_data()
    {
        QTest::addColumn<bool>("withDescription");
        QTest::newRow("description added") << false;
        QTest::newRow("description replaced") << true;
    }
    void misplacedHeaderArchiveStillUpdates()
    {
        QFETCH(bool, withDescription);
        const QString archive = freshPath("odd.zip");
        // The first member is stored zeros, so the misplaced "header" reads
        // as one with empty name and extra fields.
        const QByteArray zeros(5000, '\0');
        std::vector<Member> members = {{"game.exe", zeros, true},
                                       {"docs/readme.txt", "read me", true}};
        if (withDescription)
            members.insert(members.begin(), Member{kDiz, "old", true});
        QVERIFY(makeZip(archive, members));
        QByteArray bytes = readBytes(archive);
        const qsizetype last = bytes.lastIndexOf(QByteArray("PK\x01\x02", 4));
        QVERIFY(last > 0);
        const qsizetype exeAt = bytes.indexOf(QByteArray("game.exe"));
        QVERIFY(exeAt > 0);
        const quint32 bogus = quint32(exeAt + 8 + 1000); // inside the zeros
        for (int i = 0; i < 4; ++i)
            bytes[last + 42 + i] = char((bogus >> (8 * i)) & 0xff);
        QVERIFY(writeBytes(archive, bytes));
        int error = 0;
        zip_t* lenient = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
        QVERIFY(lenient);
        zip_discard(lenient);

        QCOMPARE(update(archive, "new text"), ZipStatus::Success);
        ZipComponent zip;
        QByteArray stored;
        QCOMPARE(zip.ReadMember(archive, kDiz, stored), ZipStatus::Success);
        QCOMPARE(stored, QByteArray("new text"));
        QCOMPARE(memberData(archive, "game.exe"), zeros);
        zip_t* strict = zip_open(QFile::encodeName(archive).constData(),
                                 ZIP_RDONLY | ZIP_CHECKCONS, &error);
        QVERIFY2(strict, "the updated archive is not consistent");
        zip_discard(strict);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"odd.zip"});
    }

    // A well-formed archive keeps its members' bytes where they were: only
    // what follows the last unchanged member is written anew.
    void consistentArchiveKeepsItsStart()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(200000, 9), false}, {kDiz, "old", true}}));
        const QByteArray before = readBytes(archive);
        const qsizetype descriptionAt = before.indexOf(QByteArray("PK\x03\x04", 4), 4);
        QVERIFY(descriptionAt > 0);
        QCOMPARE(update(archive, "new"), ZipStatus::Success);
        const QByteArray after = readBytes(archive);
        QCOMPARE(after.left(descriptionAt), before.left(descriptionAt));
        QCOMPARE(memberData(archive, kDiz), QByteArray("new"));
    }
};

QTEST_GUILESS_MAIN(TestZipSource)
#include "test_zip_source.moc"
