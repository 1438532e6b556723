// SPDX-License-Identifier: MIT
// Updates change the description and nothing else: archives made by several
// writers keep every other byte; archives whose records overlap or disagree
// are refused untouched; the archive is replaced only if it is still the file
// that was read, keeping its owner, group, mode and attributes; someone
// else's archive and a hard-linked one are refused; a failed write leaves the
// old archive; and libzip, the descriptor source, reads what we hold.

#include "diz/DescriptorSource.h"
#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "reliability_support.h"
#include "testsupport.h"
#include "zip_regions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace vexlo;
using namespace vexlo::diz;
using test::readBytes;
using test::writeBytes;

namespace {

const QString kDiz = QStringLiteral("file_id.diz");
const QByteArray kNew = QByteArrayLiteral("NEW DESCRIPTION\r\n\xc9\xcd\xbb\r\n");

QByteArray nativeOf(const QString& path)
{
    return QFile::encodeName(path);
}

bool libzipOpens(const QString& path, bool strict)
{
    int error = 0;
    zip_t* z =
        zip_open(nativeOf(path).constData(), ZIP_RDONLY | (strict ? ZIP_CHECKCONS : 0), &error);
    if (z)
        zip_discard(z);
    return z != nullptr;
}

// Runs a command in a folder; its exit code, 127 when the tool is missing.
int shell(const QString& folder, const QString& script, QByteArray* output = nullptr)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = p.readAll();
    return p.exitCode();
}

bool unzipTestPasses(const QString& archive, QByteArray* output)
{
    return shell(QFileInfo(archive).path(), "unzip -tq '" + QFileInfo(archive).fileName() + "'",
                 output) == 0;
}

void appendTo(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

struct StatOf {
    struct stat st {};
    bool ok = false;
    explicit StatOf(const QString& path) { ok = ::lstat(nativeOf(path).constData(), &st) == 0; }
};

// Python's zipfile makes archives the way many other tools do.
const char kPythonCommon[] = R"(
import io, struct, sys, zipfile, zlib
game = open('game.exe', 'rb').read()
diz = open('FILE_ID.DIZ', 'rb').read()
class Stream(io.RawIOBase):  # unseekable: members get data descriptors
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
)";

} // namespace

class TestZipUpdate : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_case = 0;

    // A folder with the files the archives are made of.
    QString freshFolder()
    {
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QDir().mkpath(folder);
        writeBytes(folder + "/game.exe", test::noise(150000, quint32(m_case)));
        writeBytes(folder + "/readme.txt", QByteArray(3000, 'r'));
        writeBytes(folder + "/FILE_ID.DIZ", "OLD DESCRIPTION\r\n");
        writeBytes(folder + QString::fromUtf8("/Café.txt"), "caf\xc3\xa9\n");
        writeBytes(folder + "/stub.bin", "MZ" + test::noise(4094, 99));
        return folder;
    }

    ZipStatus update(const QString& archive, const QByteArray& data = kNew)
    {
        ZipComponent zip;
        zip.setArchivePath(archive);
        return zip.UpdateMemberData(kDiz, data);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // libzip reads the archive we hold, also from a point inside the file.
    void descriptorSourceReads()
    {
        const QString folder = freshFolder();
        const QByteArray big = test::noise(3 * 1024 * 1024 + 17);
        QVERIFY(test::makeZip(folder + "/a.zip", {{"game.exe", big, true}, {kDiz, "text"}}));
        QVERIFY(writeBytes(folder + "/b.zip", "stub" + readBytes(folder + "/a.zip")));
        const int fd = ::open(nativeOf(folder + "/b.zip").constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        int error = 0;
        QVERIFY(!openArchiveAt(fd, 0, 0, &error)); // the offsets do not count the stub
        zip_t* z = openArchiveAt(fd, 4, ZIP_CHECKCONS, &error);
        QVERIFY2(z, qPrintable(QString::number(error)));
        zip_file_t* file = zip_fopen(z, "game.exe", 0);
        QVERIFY(file);
        QByteArray got;
        char buffer[5000];
        zip_int64_t n;
        while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
            got.append(buffer, qsizetype(n));
        QCOMPARE(n, zip_int64_t(0));
        zip_fclose(file);
        zip_discard(z);
        ::close(fd);
        QCOMPARE(got, big);
        // And the zip layer reads such an archive as unzip does.
        ZipComponent zip;
        QByteArray diz;
        QCOMPARE(zip.ReadMember(folder + "/b.zip", kDiz, diz), ZipStatus::Success);
        QCOMPARE(diz, QByteArray("text"));
    }

    // Archives of several writers and shapes: after the update every byte
    // outside the description, its central header, the offsets it moved and
    // the end records is as it was; unzip and libzip accept the result.
    void writersKeepEveryOtherByte_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("localTimeDiffers"); // one local header's time changed afterwards
        const QString stub = "cat stub.bin a.zip > b.zip && mv b.zip a.zip";
        QTest::newRow("zip: description last")
            << "zip -q -X a.zip game.exe readme.txt FILE_ID.DIZ" << false;
        QTest::newRow("zip: description first, the others move")
            << "zip -q -X a.zip FILE_ID.DIZ game.exe readme.txt" << false;
        QTest::newRow("zip: no description, one is added")
            << "zip -q -X a.zip game.exe readme.txt" << false;
        QTest::newRow("zip: ZIP64 records") << "zip -q -fz a.zip FILE_ID.DIZ game.exe" << false;
        QTest::newRow("zip: streamed, with data descriptors")
            << "zip -q - FILE_ID.DIZ game.exe readme.txt | cat > a.zip" << false;
        QTest::newRow("zip: stub, offsets adjusted")
            << "zip -q a.zip game.exe FILE_ID.DIZ && " + stub + " && zip -q -A a.zip" << false;
        QTest::newRow("zip: stub, offsets not adjusted")
            << "zip -q a.zip game.exe FILE_ID.DIZ && " + stub << false;
        QTest::newRow("zip: stub not adjusted, ZIP64, description added")
            << "zip -q -fz a.zip game.exe readme.txt && " + stub << false;
        QTest::newRow("zip: stub adjusted, a local time that differs")
            << "zip -q a.zip game.exe FILE_ID.DIZ && " + stub + " && zip -q -A a.zip" << true;
        QTest::newRow("zip: archive comment")
            << "zip -q a.zip FILE_ID.DIZ game.exe && echo 'A comment' | zip -q -z a.zip" << false;
        QTest::newRow("zip: encrypted description")
            << "zip -q a.zip game.exe && zip -q -P secret a.zip FILE_ID.DIZ" << false;
        QTest::newRow("zip: bzip2 members")
            << "zip -q -Z bzip2 a.zip FILE_ID.DIZ game.exe readme.txt" << false;
        QTest::newRow("zip: UTF-8 name")
            << QString::fromUtf8("zip -q a.zip FILE_ID.DIZ Café.txt") << false;
        QTest::newRow("python: data descriptors")
            << QString("python3 -c \"%1\nz = zipfile.ZipFile(Stream(open('a.zip', 'wb')), 'w', "
                       "zipfile.ZIP_DEFLATED)\nz.writestr('FILE_ID.DIZ', diz)\n"
                       "z.writestr('game.exe', game)\nz.close()\"")
                   .arg(kPythonCommon)
            << false;
        QTest::newRow("python: ZIP64 forced")
            << QString("python3 -c \"%1\nz = zipfile.ZipFile('a.zip', 'w')\n"
                       "with z.open('game.exe', 'w', force_zip64=True) as m: m.write(game)\n"
                       "with z.open('FILE_ID.DIZ', 'w', force_zip64=True) as m: m.write(diz)\n"
                       "z.writestr('readme.txt', b'read me')\nz.close()\"")
                   .arg(kPythonCommon)
            << false;
        QTest::newRow("python: Unicode path extra field")
            << QString("python3 -c \"%1\nz = zipfile.ZipFile('a.zip', 'w', zipfile.ZIP_DEFLATED)\n"
                       "u = 'caf\\u00e9.txt'.encode()\ni = zipfile.ZipInfo('cafe.txt')\n"
                       "i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, "
                       "zlib.crc32(b'cafe.txt')) + u\nz.writestr(i, b'x')\n"
                       "z.writestr('FILE_ID.DIZ', diz)\nz.writestr('game.exe', game)\nz.close()\"")
                   .arg(kPythonCommon)
            << false;
        QTest::newRow("python: bzip2 and stored")
            << QString("python3 -c \"%1\nz = zipfile.ZipFile('a.zip', 'w')\n"
                       "z.writestr('game.exe', game, zipfile.ZIP_BZIP2)\n"
                       "z.writestr('FILE_ID.DIZ', diz, zipfile.ZIP_STORED)\n"
                       "z.writestr('readme.txt', b'r' * 999, zipfile.ZIP_DEFLATED)\nz.close()\"")
                   .arg(kPythonCommon)
            << false;
        QTest::newRow("libzip: 1,000 members") << QString() << false;
    }
    void writersKeepEveryOtherByte()
    {
        QFETCH(QString, script);
        QFETCH(bool, localTimeDiffers);
        const QString folder = freshFolder();
        const QString archive = folder + "/a.zip";
        if (script.isEmpty()) {
            std::vector<test::Member> members;
            for (int i = 0; i < 1000; ++i)
                members.push_back({QStringLiteral("f%1.dat").arg(i, 4, 10, QChar(u'0')),
                                   test::noise(100 + i * 7, quint32(i)), i % 2 == 0});
            QVERIFY(test::makeZip(archive, members));
        } else {
            QByteArray output;
            const int made = shell(folder, script, &output);
            if (made == 127)
                QSKIP("the tool that makes this archive is not installed");
            QVERIFY2(made == 0, output.constData());
        }
        if (localTimeDiffers) {
            QByteArray bytes = readBytes(archive);
            const qsizetype local = bytes.indexOf(QByteArray("PK\x03\x04", 4));
            QVERIFY(local >= 0);
            bytes[local + 10] = char(bytes[local + 10] ^ 0x21);
            QVERIFY(writeBytes(archive, bytes));
            QVERIFY(!libzipOpens(archive, true));
        }
        const QByteArray before = readBytes(archive);
        const bool strictBefore = libzipOpens(archive, true);
        const bool unzip = !QStandardPaths::findExecutable("unzip").isEmpty();
        QByteArray output;
        // unzip reads an archive with an unadjusted stub, with a warning.
        const bool unzipBefore = unzip && unzipTestPasses(archive, &output);

        QCOMPARE(update(archive), ZipStatus::Success);
        const QByteArray after = readBytes(archive);
        const QString changed = test::zipChangesBeyondOneMember(before, after);
        QVERIFY2(changed.isEmpty(), qPrintable(changed));
        ZipComponent zip;
        QByteArray stored;
        QCOMPARE(zip.ReadMember(archive, kDiz, stored), ZipStatus::Success);
        QCOMPARE(stored, kNew);
        QCOMPARE(libzipOpens(archive, true), strictBefore);
        if (unzip) {
            // Never worse than before (an encrypted description is no more).
            const bool unzipAfter = unzipTestPasses(archive, &output);
            QVERIFY2(unzipAfter || !unzipBefore, output.constData());
            QVERIFY2(output.contains("No errors detected"), output.constData());
        }
        QCOMPARE(test::folderEntries(folder).filter(".vexlo32-"), QStringList());

        // Stored again, the description goes where it went the first time.
        QVERIFY(update(archive, "again") == ZipStatus::Success);
        const QString again = test::zipChangesBeyondOneMember(after, readBytes(archive));
        QVERIFY2(again.isEmpty(), qPrintable(again));
    }

    // Archives an update cannot keep byte for byte are never rewritten.
    void refusedArchivesStayUntouched_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("status");
        using test::RawMember;
        const QByteArray one = test::rawZip({{"game.exe", QByteArray(2000, 'g')}});
        {
            // 300 central headers naming one member's bytes.
            QByteArray many = one;
            const qsizetype cd = test::centralOffset(many);
            const qsizetype end = test::endRecordOffset(many);
            const QByteArray header = many.mid(cd, end - cd);
            QByteArray directory;
            for (int i = 0; i < 300; ++i)
                directory += header;
            many = many.left(cd) + directory + many.mid(end);
            const qsizetype e = test::endRecordOffset(many);
            test::putLe16(many, e + 8, 300);
            test::putLe16(many, e + 10, 300);
            test::putLe32(many, e + 12, quint32(directory.size()));
            QTest::newRow("300 members at one place") << many << int(ZipStatus::OverlappingMembers);
        }
        {
            // A member whose stored data holds another member's whole record.
            const QByteArray inner = test::rawZip({{"inner.txt", "inside"}});
            const qsizetype innerEnd = test::centralOffset(inner);
            QByteArray outer =
                test::rawZip({{"outer.bin", inner.left(innerEnd)}, {"inner.txt", "inside"}});
            const qsizetype cd = test::centralOffset(outer);
            const qsizetype second = outer.indexOf(QByteArray("PK\x01\x02", 4), cd + 4);
            test::putLe32(outer, second + 42, quint32(30 + 9)); // into outer.bin's data
            QTest::newRow("a member inside another") << outer << int(ZipStatus::OverlappingMembers);
        }
        {
            QByteArray bad = one;
            bad[30] = 'G'; // the local name
            QTest::newRow("a local name that differs")
                << bad << int(ZipStatus::InconsistentRecords);
        }
        {
            QByteArray bad = one;
            test::putLe32(bad, 18, 1999); // the local compressed size
            QTest::newRow("a local size that differs")
                << bad << int(ZipStatus::InconsistentRecords);
        }
        {
            // The directory puts the member's header inside other bytes.
            QByteArray bad =
                test::rawZip({{"pad.bin", QByteArray(5000, '\0')}, {"game.exe", "game"}});
            const qsizetype second =
                bad.indexOf(QByteArray("PK\x01\x02", 4), test::centralOffset(bad) + 4);
            test::putLe32(bad, second + 42, 1000);
            QTest::newRow("no local header where the directory says")
                << bad << int(ZipStatus::InconsistentRecords);
        }
        {
            RawMember described{"game.exe", QByteArray(100, 'd')};
            described.flags = 0x0008;
            QByteArray bad = test::rawZip({described});
            // No descriptor follows the data: the directory starts there.
            QTest::newRow("a data descriptor that is missing")
                << bad << int(ZipStatus::InconsistentRecords);
        }
    }
    void refusedArchivesStayUntouched()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, status);
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/odd.zip";
        QVERIFY(writeBytes(path, archive));
        QCOMPARE(int(update(path)), status);
        QCOMPARE(readBytes(path), archive);
        QCOMPARE(test::folderEntries(folder), QStringList{"odd.zip"});
        QVERIFY(!zipStatusText(ZipStatus(status)).startsWith("status "));
    }

    // The new archive gets the old one's mode before it replaces it.
    void modeIsKept_data()
    {
        QTest::addColumn<int>("mode");
        for (int mode : {0600, 0644, 0755, 0444, 02644})
            QTest::newRow(qPrintable(QString::number(mode, 8))) << mode;
    }
    void modeIsKept()
    {
        QFETCH(int, mode);
        const QString folder = freshFolder();
        const QString archive = folder + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"game.exe", "exe"}, {kDiz, "old"}}));
        QCOMPARE(::chmod(nativeOf(archive).constData(), mode_t(mode)), 0);
        QCOMPARE(update(archive), ZipStatus::Success);
        QCOMPARE(int(StatOf(archive).st.st_mode & 07777), mode);
    }

    // A write that fails, in the middle or at the end, leaves the archive
    // byte for byte as it was and nothing beside it.
    void failedWriteLeavesOriginal_data()
    {
        QTest::addColumn<int>("memberSize");
        QTest::addColumn<int>("limit");
        QTest::newRow("during the copy") << 3 * 1024 * 1024 << 1536 * 1024;
        QTest::newRow("at the new member") << 200000 << 200050;
    }
    void failedWriteLeavesOriginal()
    {
        QFETCH(int, memberSize);
        QFETCH(int, limit);
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QVERIFY(QDir().mkpath(folder));
        const QString archive = folder + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"game.exe", test::noise(memberSize), true}}));
        const QByteArray bytes = readBytes(archive);
        ZipStatus status = ZipStatus::Success;
        {
            test::FileSizeLimit lowered{rlim_t(limit)};
            QVERIFY(lowered.ok());
            status = update(archive, test::noise(800));
        }
        QCOMPARE(status, ZipStatus::CannotWriteArchive);
        QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(test::folderEntries(folder), QStringList{"game.zip"});
    }

    // Another program at work on the archive while we update it: its version
    // wins, ours is dropped, and the update says so.
    void changedDuringTheUpdate_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("another version renamed over it") << "rename";
        QTest::newRow("zip adds a member") << "zip";
        QTest::newRow("bytes appended") << "append";
    }
    void changedDuringTheUpdate()
    {
        QFETCH(QString, action);
        if (action == "zip" && QStandardPaths::findExecutable("zip").isEmpty())
            QSKIP("zip is not installed");
        const QString folder = freshFolder();
        const QString archive = folder + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"game.exe", test::noise(200000), true}, {kDiz, "old"}}));
        QVERIFY(test::makeZip(folder + "/other.zip", {{"other.txt", "theirs"}}));
        const QByteArray theirs = readBytes(folder + "/other.zip");
        const QByteArray original = readBytes(archive);

        ZipComponent zip;
        bool acted = false;
        connect(&zip, &ZipComponent::Adding, this, [&](int) {
            if (acted)
                return;
            acted = true;
            if (action == "rename")
                QVERIFY(::rename(nativeOf(folder + "/other.zip").constData(),
                                 nativeOf(archive).constData()) == 0);
            else if (action == "zip")
                QCOMPARE(shell(folder, "zip -q game.zip readme.txt"), 0);
            else // in place, through a descriptor of its own
                appendTo(archive, "appended");
        });
        zip.setArchivePath(archive);
        QCOMPARE(zip.UpdateMemberData(kDiz, kNew), ZipStatus::ArchiveChanged);
        QVERIFY(acted);
        const QByteArray now = readBytes(archive);
        if (action == "rename") {
            QCOMPARE(now, theirs);
        } else if (action == "append") {
            QCOMPARE(now, original + "appended");
        } else {
            QByteArray diz;
            QCOMPARE(zip.ReadMember(archive, kDiz, diz), ZipStatus::Success);
            QCOMPARE(diz, QByteArray("old"));
            QByteArray listing;
            QCOMPARE(shell(folder, "unzip -l game.zip", &listing), 0);
            QVERIFY2(listing.contains("readme.txt"), listing.constData());
        }
        QCOMPARE(test::folderEntries(folder).filter(".vexlo32-"), QStringList());
    }

    // Two processes store into one archive at once, each its own member:
    // an update that reports success is never lost.
    void twoSavesAtOnce()
    {
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QVERIFY(QDir().mkpath(folder));
        const QString archive = folder + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"game.exe", test::noise(4 << 20), true}}));
        int bothSucceeded = 0;
        for (int round = 0; round < 8; ++round) {
            int gate[2];
            QVERIFY(::pipe(gate) == 0);
            pid_t children[2];
            for (int c = 0; c < 2; ++c) {
                children[c] = ::fork();
                if (children[c] == 0) {
                    ::close(gate[1]);
                    char go;
                    if (::read(gate[0], &go, 1) != 0)
                        ::_exit(3);
                    ZipComponent zip;
                    zip.setArchivePath(archive);
                    const QString name = c == 0 ? "a.txt" : "b.txt";
                    ::_exit(zip.UpdateMemberData(name, QByteArray::number(round)) ==
                                    ZipStatus::Success
                                ? 0
                                : 1);
                }
            }
            ::close(gate[0]);
            ::close(gate[1]); // both start now
            int ok[2];
            for (int c = 0; c < 2; ++c) {
                int status = 0;
                QCOMPARE(::waitpid(children[c], &status, 0), children[c]);
                QVERIFY(WIFEXITED(status));
                ok[c] = WEXITSTATUS(status) == 0;
            }
            ZipComponent reader;
            for (int c = 0; c < 2; ++c) {
                QByteArray got;
                const ZipStatus read = reader.ReadMember(archive, c == 0 ? "a.txt" : "b.txt", got);
                if (ok[c]) {
                    QCOMPARE(read, ZipStatus::Success);
                    QCOMPARE(got, QByteArray::number(round));
                }
            }
            bothSucceeded += ok[0] && ok[1];
        }
        QCOMPARE(bothSucceeded, 8); // the second waits for the first, then reads its result
        QCOMPARE(test::folderEntries(folder), QStringList{"game.zip"});
    }

    // Owner, group and extended attributes stay; a hard-linked archive is
    // refused instead of being split.
    void ownershipAndLinks()
    {
        const QString folder = freshFolder();
        const QString archive = folder + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"game.exe", "exe"}, {kDiz, "old"}}));
        const bool xattrs =
            ::setxattr(nativeOf(archive).constData(), "user.vexlo32", "kept", 4, 0) == 0;
        if (::geteuid() == 0)
            QCOMPARE(::chown(nativeOf(archive).constData(), 65534, 65534), 0);
        const StatOf before(archive);
        QCOMPARE(update(archive), ZipStatus::Success);
        const StatOf after(archive);
        QVERIFY(after.st.st_ino != before.st.st_ino);
        QCOMPARE(after.st.st_uid, before.st.st_uid);
        QCOMPARE(after.st.st_gid, before.st.st_gid);
        if (xattrs) {
            char value[16] = {};
            QCOMPARE(::getxattr(nativeOf(archive).constData(), "user.vexlo32", value, sizeof value),
                     ssize_t(4));
            QCOMPARE(QByteArray(value), QByteArray("kept"));
        }

        // A default ACL of the folder would give the new file rights the old
        // one never had: the new version has exactly the old one's.
        QByteArray acl;
        auto entry = [&](quint16 tag, quint16 perm, quint32 id) {
            for (quint64 v : {quint64(tag), quint64(perm)})
                acl.append(char(v & 0xff)).append(char(v >> 8));
            for (int i = 0; i < 4; ++i)
                acl.append(char((id >> (8 * i)) & 0xff));
        };
        acl = QByteArray("\x02\0\0\0", 4); // version 2
        entry(0x01, 7, 0xFFFFFFFFu);       // owner
        entry(0x02, 4, 1234);              // a user who may read
        entry(0x04, 5, 0xFFFFFFFFu);       // group
        entry(0x10, 5, 0xFFFFFFFFu);       // mask
        entry(0x20, 0, 0xFFFFFFFFu);       // others
        if (::setxattr(nativeOf(folder).constData(), "system.posix_acl_default", acl.constData(),
                       size_t(acl.size()), 0) == 0) {
            QCOMPARE(::chmod(nativeOf(archive).constData(), 0640), 0);
            QCOMPARE(update(archive, "no ACL"), ZipStatus::Success);
            QCOMPARE(
                ::getxattr(nativeOf(archive).constData(), "system.posix_acl_access", nullptr, 0),
                ssize_t(-1));
            QCOMPARE(int(StatOf(archive).st.st_mode & 07777), 0640);
        }

        QVERIFY(::link(nativeOf(archive).constData(), nativeOf(folder + "/copy.zip").constData()) ==
                0);
        const QByteArray linked = readBytes(archive);
        QCOMPARE(update(archive, "split?"), ZipStatus::ArchiveHardLinked);
        QCOMPARE(readBytes(archive), linked);
        QCOMPARE(StatOf(archive).st.st_ino, StatOf(folder + "/copy.zip").st.st_ino);
    }

    // Whatever the old description was stored as (a link, a folder), the
    // new one is a plain file that keeps the old permissions.
    void replacedDescriptionIsAPlainFile()
    {
        const QString folder = freshFolder();
        const QString archive = folder + "/a.zip";
        const int made =
            shell(folder, "python3 -c \"import zipfile\nz = zipfile.ZipFile('a.zip', "
                          "'w')\ni = zipfile.ZipInfo('FILE_ID.DIZ')\ni.create_system = 3\n"
                          "i.external_attr = (0o120000 | 0o751) << 16 | 0x10\n"
                          "z.writestr(i, 'elsewhere')\nz.close()\"");
        if (made == 127)
            QSKIP("python3 is not installed");
        QCOMPARE(made, 0);
        QCOMPARE(update(archive), ZipStatus::Success);
        int error = 0;
        zip_t* z = zip_open(nativeOf(archive).constData(), ZIP_RDONLY, &error);
        QVERIFY(z);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        QCOMPARE(zip_file_get_external_attributes(z, 0, 0, &system, &attributes), 0);
        zip_discard(z);
        QCOMPARE(int(system), 3);
        QCOMPARE(attributes >> 16, zip_uint32_t(S_IFREG | 0751));
        QCOMPARE(attributes & 0x10, zip_uint32_t(0));
    }

    // Someone else's archive in a folder we may write: never replaced (it
    // would become ours), whether we may write the archive or not. Our own
    // read-only archive is updated and stays read-only.
    void someoneElsesArchive_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("ours");
        QTest::newRow("root's, 0644") << 0644 << false;
        QTest::newRow("root's, 0444") << 0444 << false;
        QTest::newRow("root's, writable by all") << 0666 << false;
        QTest::newRow("our own, 0444") << 0444 << true;
    }
    void someoneElsesArchive()
    {
        QFETCH(int, mode);
        QFETCH(bool, ours);
        if (::geteuid() != 0)
            QSKIP("needs root to make a file of another user");
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QVERIFY(QDir().mkpath(folder));
        ::chmod(nativeOf(m_dir.path()).constData(), 0755);
        QCOMPARE(::chmod(nativeOf(folder).constData(), 0777), 0); // no sticky bit
        const QString archive = folder + "/game.zip";
        QVERIFY(test::makeZip(archive, {{"game.exe", "exe"}, {kDiz, "old"}}));
        const QString diz = folder + "/new.diz";
        QVERIFY(writeBytes(diz, "NEW\r\n"));
        ::chmod(nativeOf(diz).constData(), 0644);
        if (ours)
            QCOMPARE(::chown(nativeOf(archive).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(nativeOf(archive).constData(), mode_t(mode)), 0);
        const QByteArray before = readBytes(archive);
        QByteArray out;
        const int rc = test::inChild([&]() -> int {
            if (!test::dropToNobody())
                return test::kChildCannot;
            return test::runProgramRaw({"--save-diz", nativeOf(diz), nativeOf(archive)});
        });
        if (rc == test::kChildCannot)
            QSKIP("cannot run as another user");
        const StatOf after(archive);
        QCOMPARE(int(after.st.st_mode & 07777), mode);
        if (ours) {
            QCOMPARE(rc, 0);
            QCOMPARE(after.st.st_uid, uid_t(65534));
            ZipComponent zip;
            QByteArray stored;
            QCOMPARE(zip.ReadMember(archive, kDiz, stored), ZipStatus::Success);
            QCOMPARE(stored, QByteArray("NEW\r\n"));
        } else {
            QCOMPARE(rc, 1);
            QCOMPARE(after.st.st_uid, uid_t(0));
            QCOMPARE(readBytes(archive), before);
        }
        QCOMPARE(test::folderEntries(folder), (QStringList{"game.zip", "new.diz"}));
    }
};

QTEST_GUILESS_MAIN(TestZipUpdate)
#include "test_zip_update.moc"
