// SPDX-License-Identifier: MIT
#include "diz/LegacyExpander.h"
#include "diz/ZipComponent.h"
#include "diz/ZipStatus.h"
#include "legacy_zip.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
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
using vexlo::test::writeBytes;

namespace {

const QString kDiz = QStringLiteral("file_id.diz");

struct RawMember {
    QByteArray compressed; // the member's data exactly as stored
    qint32 method = -1;
    quint32 crc = 0;
    bool operator==(const RawMember&) const = default;
};

// Every member of an archive by its stored name, with its raw (still
// compressed) bytes: what must survive an update untouched.
std::map<QString, RawMember> rawMembers(const QString& path)
{
    std::map<QString, RawMember> out;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return out;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, zip_uint64_t(i), 0, &st) != 0)
            continue;
        RawMember member;
        member.method = st.comp_method;
        member.crc = st.crc;
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), ZIP_FL_COMPRESSED);
        if (file) {
            char buffer[8192];
            zip_int64_t got;
            while ((got = zip_fread(file, buffer, sizeof buffer)) > 0)
                member.compressed.append(buffer, qsizetype(got));
            zip_fclose(file);
        }
        out[QString::fromUtf8(st.name)] = member;
    }
    zip_discard(archive);
    return out;
}

// The uncompressed content of a member, or a null array.
QByteArray memberData(const QString& path, const QString& name)
{
    QByteArray out;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return out;
    zip_file_t* file = zip_fopen(archive, name.toUtf8().constData(), 0);
    if (file) {
        out = QByteArray("");
        char buffer[8192];
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

// Rewrites fields of every local (PK 3 4) and central (PK 1 2) header, the
// way a forged or exotic archive would have them.
enum class Field { Method, UncompressedSize };
bool patchHeaders(const QString& path, Field field, quint32 value)
{
    QByteArray bytes = readBytes(path);
    int patched = 0;
    for (qsizetype i = 0; i + 46 <= bytes.size(); ++i) {
        qsizetype at = -1;
        int width = 0;
        if (bytes.mid(i, 4) == QByteArray("PK\x03\x04", 4)) {
            at = i + (field == Field::Method ? 8 : 22);
            width = field == Field::Method ? 2 : 4;
        } else if (bytes.mid(i, 4) == QByteArray("PK\x01\x02", 4)) {
            at = i + (field == Field::Method ? 10 : 24);
            width = field == Field::Method ? 2 : 4;
        }
        if (at < 0)
            continue;
        for (int b = 0; b < width; ++b)
            bytes[at + b] = char((value >> (8 * b)) & 0xff);
        ++patched;
    }
    return patched >= 2 && writeBytes(path, bytes);
}

bool makeEncryptedZip(const QString& path, const QByteArray& data)
{
    int error = 0;
    zip_t* archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    zip_source_t* source =
        zip_source_buffer(archive, data.constData(), zip_uint64_t(data.size()), 0);
    const zip_int64_t index = source ? zip_file_add(archive, "file_id.diz", source, 0) : -1;
    if (index < 0 ||
        zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_AES_256, "pw") != 0 ||
        zip_close(archive) != 0) {
        if (index < 0 && source)
            zip_source_free(source);
        zip_discard(archive);
        return false;
    }
    return true;
}

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestZip : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_program; // stands for the program folder: extraction target, update source
    int m_case = 0;

    QString freshPath(const QString& name)
    {
        const QString folder = m_dir.filePath(QString::number(++m_case));
        QDir().mkpath(folder);
        return folder + u'/' + name;
    }

    ZipStatus extract(ZipComponent& zip, const QString& archive)
    {
        zip.setKeepPaths(false);
        zip.setMemberMask(kDiz);
        zip.setTargetFolder(m_program);
        zip.setArchivePath(archive);
        return zip.ExtractMembers(0);
    }

    ZipStatus update(ZipComponent& zip, const QString& archive, const QByteArray& content)
    {
        const QString source = m_program + u'/' + kDiz;
        if (!writeBytes(source, content))
            return ZipStatus(-1);
        zip.setKeepPaths(false);
        zip.setMemberMask(source + u'\r');
        zip.setArchivePath(archive);
        return zip.UpdateMembers(0);
    }

    QString target() const { return m_program + u'/' + kDiz; }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_program = m_dir.filePath(QStringLiteral("program%1").arg(++m_case));
        QVERIFY(QDir().mkpath(m_program));
    }

    // --- extraction -------------------------------------------------------

    void extractMatchesAnyCase_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("store");
        QTest::newRow("lower, deflated") << "file_id.diz" << false;
        QTest::newRow("upper, deflated") << "FILE_ID.DIZ" << false;
        QTest::newRow("mixed, stored") << "File_Id.Diz" << true;
    }
    void extractMatchesAnyCase()
    {
        QFETCH(QString, stored);
        QFETCH(bool, store);
        const QString archive = freshPath("game.zip");
        const QByteArray text("  GREAT GAME\r\nline two\r\n");
        QVERIFY(makeZip(archive, {{"readme.txt", "other", false}, {stored, text, store}}));
        ZipComponent zip;
        QCOMPARE(extract(zip, archive), ZipStatus::Success);
        // Always written under the mask's name, whatever the stored case.
        QCOMPARE(folderEntries(m_program), QStringList{kDiz});
        QCOMPARE(readBytes(target()), text);
    }

    // Paths are taken as given: a lower-cased text is not the archive.
    void extractTakesPathsAsGiven()
    {
        const QString folder = m_dir.filePath("Mixed/Zips");
        const QString archive = folder + "/GAME.ZIP";
        QVERIFY(makeZip(archive, {{kDiz, "text", false}}));
        const QString program = m_dir.filePath("Prog");
        QVERIFY(QDir().mkpath(program));
        ZipComponent zip;
        zip.setMemberMask(kDiz);
        zip.setTargetFolder(program);
        zip.setArchivePath(archive.toLower());
        QVERIFY(zip.ExtractMembers(0) != ZipStatus::Success);
        QVERIFY(!QFile::exists(program + u'/' + kDiz));
        zip.setArchivePath(archive);
        QCOMPARE(zip.ExtractMembers(0), ZipStatus::Success);
        QCOMPARE(readBytes(program + u'/' + kDiz), QByteArray("text"));
    }

    void extractNothingMatched_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("no description") << "readme.txt";
        QTest::newRow("in a folder") << "docs/file_id.diz";
        QTest::newRow("in a dos folder") << "docs\\file_id.diz";
        QTest::newRow("climbing out") << "../file_id.diz";
        QTest::newRow("absolute") << "/file_id.diz";
        QTest::newRow("longer name") << "file_id.diz.bak";
    }
    void extractNothingMatched()
    {
        QFETCH(QString, stored);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{stored, "not the description", false}}));
        QVERIFY(writeBytes(target(), "earlier"));
        // Where a member path taken literally would have led.
        const QStringList elsewhere = {m_dir.filePath(kDiz), QDir::rootPath() + kDiz,
                                       QFileInfo(m_dir.path()).absolutePath() + u'/' + kDiz};
        QList<bool> existed;
        for (const QString& path : elsewhere)
            existed << QFile::exists(path);
        ZipComponent zip;
        QCOMPARE(extract(zip, archive), ZipStatus::NothingMatched);
        QCOMPARE(readBytes(target()), QByteArray("earlier"));
        QCOMPARE(folderEntries(m_program), QStringList{kDiz});
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});
        for (qsizetype i = 0; i < elsewhere.size(); ++i)
            QCOMPARE(QFile::exists(elsewhere[i]), existed[i]);
    }

    void extractReplacesEarlierFile()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "new text", false}}));
        QVERIFY(writeBytes(target(), QByteArray(5000, 'o')));
        ZipComponent zip;
        QCOMPARE(extract(zip, archive), ZipStatus::Success);
        QCOMPARE(readBytes(target()), QByteArray("new text"));
        QCOMPARE(folderEntries(m_program), QStringList{kDiz}); // no temporary left
    }

    void extractFailuresLeaveTarget_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<ZipStatus>("status");
        QTest::newRow("missing") << "missing" << ZipStatus::CannotOpenArchive;
        QTest::newRow("folder") << "folder" << ZipStatus::CannotOpenArchive;
        QTest::newRow("empty file") << "empty" << ZipStatus::NotAZipArchive;
        QTest::newRow("text file") << "garbage" << ZipStatus::NotAZipArchive;
        QTest::newRow("truncated") << "truncated" << ZipStatus::CorruptArchive;
        QTest::newRow("bad directory offset") << "badoffset" << ZipStatus::CorruptArchive;
        QTest::newRow("crc") << "crc" << ZipStatus::CrcError;
        QTest::newRow("unsupported method") << "method" << ZipStatus::UnsupportedMethod;
        QTest::newRow("too large") << "large" << ZipStatus::MemberTooLarge;
        QTest::newRow("forged size") << "forged" << ZipStatus::MemberTooLarge;
        QTest::newRow("size claims more") << "short" << ZipStatus::CorruptArchive;
        QTest::newRow("size claims less") << "long" << ZipStatus::CorruptArchive;
    }
    void extractFailuresLeaveTarget()
    {
        QFETCH(QString, kind);
        QFETCH(ZipStatus, status);
        const QString archive = freshPath("game.zip");
        const QByteArray text("THE DESCRIPTION TEXT, LONG ENOUGH TO FIND");
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(archive));
        } else if (kind == "empty") {
            QVERIFY(writeBytes(archive, QByteArray()));
        } else if (kind == "garbage") {
            QVERIFY(writeBytes(archive, "This is a plain text file, not an archive.\r\n"));
        } else if (kind == "truncated") {
            QVERIFY(makeZip(archive, {{kDiz, text, true}}));
            const QByteArray bytes = readBytes(archive);
            QVERIFY(writeBytes(archive, bytes.left(bytes.size() - 30)));
        } else if (kind == "badoffset") {
            QVERIFY(makeZip(archive, {{kDiz, text, true}}));
            QByteArray bytes = readBytes(archive);
            const qsizetype end = bytes.lastIndexOf(QByteArray("PK\x05\x06", 4));
            QVERIFY(end > 0);
            bytes[end + 16] = char(bytes[end + 16] + 7); // central directory offset
            QVERIFY(writeBytes(archive, bytes));
        } else if (kind == "crc") {
            // A stored member keeps its bytes on disk: flip one of them.
            QVERIFY(makeZip(archive, {{kDiz, text, true}}));
            QByteArray bytes = readBytes(archive);
            const qsizetype at = bytes.indexOf("DESCRIPTION");
            QVERIFY(at > 0);
            bytes[at] = 'd';
            QVERIFY(writeBytes(archive, bytes));
        } else if (kind == "method") {
            QVERIFY(makeZip(archive, {{kDiz, text, false}}));
            QVERIFY(patchHeaders(archive, Field::Method, ZIP_CM_PKWARE_IMPLODE));
        } else if (kind == "large") {
            QVERIFY(makeZip(archive, {{kDiz, QByteArray(kMaxMemberSize + 1, 'x'), false}}));
        } else if (kind == "forged") {
            // Two MiB that claim to be 100 bytes: the limit must hold anyway.
            QVERIFY(makeZip(archive, {{kDiz, QByteArray(2 * kMaxMemberSize, 'A'), false}}));
            QVERIFY(patchHeaders(archive, Field::UncompressedSize, 100));
        } else if (kind == "short" || kind == "long") {
            // The data is whole (its CRC holds) but not what the headers say.
            QVERIFY(makeZip(archive, {{kDiz, text, false}}));
            QVERIFY(patchHeaders(archive, Field::UncompressedSize, kind == "short" ? 5000 : 10));
        }
        QVERIFY(writeBytes(target(), "earlier"));
        ZipComponent zip;
        QCOMPARE(extract(zip, archive), status);
        QCOMPARE(readBytes(target()), QByteArray("earlier"));
        QCOMPARE(folderEntries(m_program), QStringList{kDiz});

        QByteArray read("stale");
        QCOMPARE(zip.ReadMember(archive, kDiz, read), status);
        QVERIFY(read.isEmpty());
    }

    // --- members packed by PKZIP 1.x ------------------------------------------

    // Each method (shrinking also with a wider first code and partial
    // clearings; imploding with both windows, with and without a literal
    // code) on descriptions of every size up to the limit. Info-ZIP unzip
    // first vouches for the archive where it knows the method.
    void legacyMethodsAreRead_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>(
            "flags"); // imploding: its flags; shrinking: clear every so many codes
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<ZipStatus>("status");
        const struct {
            const char* name;
            int method;
            int flags;
        } methods[] = {{"shrunk", 1, 0},           {"shrunk, clearing", 1, 7},
                       {"reduced 1", 2, 0},        {"reduced 2", 3, 0},
                       {"reduced 3", 4, 0},        {"reduced 4", 5, 0},
                       {"imploded 4k", 6, 0},      {"imploded 8k", 6, 2},
                       {"imploded 4k, lit", 6, 4}, {"imploded 8k, lit", 6, 6}};
        for (const auto& m : methods) {
            for (const qsizetype size :
                 {qsizetype(0), qsizetype(1), qsizetype(700), kMaxMemberSize})
                QTest::addRow("%s, %lld bytes", m.name, static_cast<long long>(size))
                    << m.method << m.flags << size << ZipStatus::Success;
            if (m.flags == 0 || m.method == 6)
                QTest::addRow("%s, over the limit", m.name)
                    << m.method << m.flags << kMaxMemberSize + 1 << ZipStatus::MemberTooLarge;
        }
    }
    void legacyMethodsAreRead()
    {
        QFETCH(int, method);
        QFETCH(int, flags);
        QFETCH(qsizetype, size);
        QFETCH(ZipStatus, status);
        const QString archive = freshPath("game.zip");
        const QByteArray data = vexlo::test::dosDescription(size);
        vexlo::test::OldMember diz{"FILE_ID.DIZ", data, method, quint16(method == 6 ? flags : 0)};
        if (method == 1 && flags > 0)
            diz.raw = vexlo::test::shrinkStream(data, true, flags);
        QVERIFY(vexlo::test::makeOldZip(archive, {{"GAME.EXE", noise(3000), 1}, diz}));
        if (method == 1 || method == 6) {
            const vexlo::test::UnzipCheck unzip = vexlo::test::unzipCheck(archive, "FILE_ID.DIZ");
            if (unzip.installed) {
                QVERIFY(unzip.tested);
                QCOMPARE(unzip.data, data);
            }
        }
        ZipComponent zip;
        QByteArray out;
        QCOMPARE(zip.ReadMember(archive, kDiz, out), status);
        QCOMPARE(out, status == ZipStatus::Success ? data : QByteArray());
        if (size == 700) {
            QCOMPARE(extract(zip, archive), ZipStatus::Success);
            QCOMPARE(readBytes(target()), data);
        }
    }

    // A reduced stream by hand: no follower sets (192 bytes of 6-bit zero
    // counts), then plain bytes: a copy of 4 from 6 back, before the start,
    // which gives zeros, and an A. Without an expected size it is read to
    // its end, and still never past the limit.
    void legacyCopyBeforeTheStartGivesZeros()
    {
        const QByteArray raw = QByteArray(192, '\0') + QByteArray("\x90\x01\x05"
                                                                  "A");
        const QByteArray expected("\0\0\0\0A", 5);
        QByteArray out;
        QCOMPARE(expandLegacyMember(2, 0, raw, 5, 100, out), ExpandResult::Done);
        QCOMPARE(out, expected);
        QCOMPARE(expandLegacyMember(2, 0, raw, -1, 100, out), ExpandResult::Done);
        QCOMPARE(out, expected);
        QCOMPARE(expandLegacyMember(2, 0, raw, -1, 4, out), ExpandResult::TooLarge);
        QVERIFY(out.isEmpty());
        QCOMPARE(expandLegacyMember(2, 0, raw, 6, 100, out), ExpandResult::Damaged);
        QCOMPARE(expandLegacyMember(2, 0, raw.left(100), 5, 100, out), ExpandResult::Damaged);
    }

    // A shrunk stream made to cost the most per byte: codes that extend
    // themselves hold the low slots (no clearing frees them), so each new
    // string lands near the top, then a clearing after every byte. Taken
    // for damaged: PKZIP never clears like this, and following it would
    // cost seconds.
    void legacyClearingStormIsDamage()
    {
        QByteArray raw;
        quint32 bits = 0;
        int held = 0;
        auto put = [&](quint32 code, int width) {
            bits |= code << held;
            for (held += width; held >= 8; held -= 8, bits >>= 8)
                raw.append(char(bits & 0xff));
        };
        put('A', 9);
        for (int width = 9; width < 13; ++width) {
            put(256, width);
            put(1, width);
        }
        for (quint32 code = 257; code < 8100; ++code) {
            for (const quint32 c : {quint32('b'), code, 256u, 2u, quint32('c')})
                put(c, 13); // the last string, (code, 'c'), takes code itself
        }
        for (int i = 0; i < 200000; ++i) {
            for (const quint32 c : {quint32('x'), 256u, 2u})
                put(c, 13);
        }
        QByteArray out;
        QCOMPARE(expandLegacyMember(1, 0, raw, -1, kMaxMemberSize, out), ExpandResult::Damaged);
        QVERIFY(out.isEmpty());
    }

    // Damaged members of each method: a failure of the right kind, never a
    // crash, and never bytes that are not the description.
    void legacyDamage_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<ZipStatus>("status");
        const struct {
            const char* name;
            int method;
            int flags;
        } methods[] = {{"shrunk", 1, 0},
                       {"reduced 1", 2, 0},
                       {"reduced 4", 5, 0},
                       {"imploded 4k", 6, 0},
                       {"imploded 8k, lit", 6, 6}};
        const struct {
            const char* kind;
            ZipStatus status;
        } kinds[] = {{"truncated", ZipStatus::CorruptArchive},
                     {"flipped bits", ZipStatus::CrcError}, // or damaged: see below
                     {"wrong crc", ZipStatus::CrcError},
                     {"size claims more", ZipStatus::CorruptArchive},
                     {"size claims less", ZipStatus::CorruptArchive},
                     {"forged size", ZipStatus::MemberTooLarge}};
        for (const auto& m : methods)
            for (const auto& k : kinds)
                QTest::addRow("%s, %s", m.name, k.kind)
                    << m.method << m.flags << k.kind << k.status;
    }
    void legacyDamage()
    {
        QFETCH(int, method);
        QFETCH(int, flags);
        QFETCH(QString, kind);
        QFETCH(ZipStatus, status);
        const QString archive = freshPath("game.zip");
        const QByteArray data =
            vexlo::test::dosDescription(kind == "forged size" ? kMaxMemberSize + 4096 : 4000);
        vexlo::test::OldMember diz{"FILE_ID.DIZ", data, method, quint16(flags)};
        diz.raw = vexlo::test::packAs(method, quint16(flags), data);
        if (kind == "truncated")
            diz.raw.truncate(diz.raw.size() * 2 / 3);
        else if (kind == "wrong crc")
            diz.declaredCrc = qint64(vexlo::test::crcOf(data) ^ 0x10);
        else if (kind == "size claims more")
            diz.declaredSize = data.size() + 100;
        else if (kind == "size claims less")
            diz.declaredSize = data.size() - 50;
        else if (kind == "forged size")
            diz.declaredSize = 100;
        ZipComponent zip;
        QByteArray out;
        if (kind != "flipped bits") {
            QVERIFY(vexlo::test::makeOldZip(archive, {diz}));
            QCOMPARE(zip.ReadMember(archive, kDiz, out), status);
            QVERIFY(out.isEmpty());
            return;
        }
        // One bit at a time, all over the stream: the description comes out
        // whole (the bit lay where nothing reads it), or the member is told
        // damaged or failing its CRC.
        const QByteArray good = diz.raw;
        int failures = 0;
        for (qsizetype at = 0; at < good.size(); at += 1 + good.size() / 97) {
            diz.raw = good;
            diz.raw[at] = char(diz.raw[at] ^ (1 << (at % 8)));
            QVERIFY(vexlo::test::makeOldZip(archive, {diz}));
            const ZipStatus got = zip.ReadMember(archive, kDiz, out);
            if (got == ZipStatus::Success) {
                QCOMPARE(out, data);
                continue;
            }
            ++failures;
            QVERIFY2(got == status || got == ZipStatus::CorruptArchive,
                     qPrintable(QString::number(statusCode(got))));
            QVERIFY(out.isEmpty());
        }
        QVERIFY(failures > 50);
    }

    void memberAtTheLimitIsRead()
    {
        const QString archive = freshPath("game.zip");
        const QByteArray data = noise(kMaxMemberSize);
        QVERIFY(makeZip(archive, {{kDiz, data, false}}));
        ZipComponent zip;
        QCOMPARE(extract(zip, archive), ZipStatus::Success);
        QCOMPARE(readBytes(target()), data);
    }

    // Archives are read from one kept tail and one read ahead of a member:
    // the same bytes wherever the description lies and whatever its size,
    // with the file's size looked up or given by the caller.
    void readsWhereverTheMemberLies_data()
    {
        QTest::addColumn<int>("before");       // bytes of stored noise ahead of it
        QTest::addColumn<int>("after");        // and behind it
        QTest::addColumn<int>("length");       // of the description
        QTest::addColumn<qint64>("sizeGiven"); // -1: looked up; else the file's size plus this
        QTest::newRow("small archive, read at once") << 100 << 100 << 40 << qint64(0);
        QTest::newRow("first of a large archive") << 0 << 300000 << 40 << qint64(0);
        QTest::newRow("last of a large archive") << 300000 << 0 << 40 << qint64(-1);
        QTest::newRow("in the middle, larger than a read ahead")
            << 200000 << 200000 << 70000 << qint64(0);
        QTest::newRow("across the end of a read ahead") << 0 << 200000 << 16300 << qint64(0);
        QTest::newRow("the file shorter than the size given") << 0 << 300000 << 40 << qint64(1000);
    }
    void readsWhereverTheMemberLies()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(int, length);
        QFETCH(qint64, sizeGiven);
        const QString archive = freshPath("game.zip");
        const QByteArray text = noise(length, 3);
        std::vector<Member> members;
        if (before)
            members.push_back({"before.bin", noise(before, 1), true});
        members.push_back({"FILE_ID.DIZ", text, true});
        if (after)
            members.push_back({"after.bin", noise(after, 2), true});
        QVERIFY(makeZip(archive, members));
        const qint64 size = QFileInfo(archive).size();
        QFile file(archive);
        QVERIFY(file.open(QIODevice::ReadOnly));
        ZipComponent zip;
        QByteArray out;
        const ZipStatus status =
            zip.ReadMemberFrom(file.handle(), kDiz, out, sizeGiven < 0 ? -1 : size + sizeGiven);
        if (sizeGiven > 0) {
            // A file that shrank since it was looked at is damaged, never read
            // past its end.
            QCOMPARE(status, ZipStatus::CorruptArchive);
            QVERIFY(out.isEmpty());
            return;
        }
        QCOMPARE(status, ZipStatus::Success);
        QCOMPARE(out, text);
        QCOMPARE(zip.ReadMember(archive, kDiz, out), ZipStatus::Success);
        QCOMPARE(out, text);
    }

    void encryptedMemberIsRefused()
    {
        const QString archive = freshPath("secret.zip");
        if (!makeEncryptedZip(archive, "secret text"))
            QSKIP("this libzip cannot write encrypted members");
        ZipComponent zip;
        QCOMPARE(extract(zip, archive), ZipStatus::EncryptedMember);
        QVERIFY(!QFile::exists(target()));
    }

    void readMemberTouchesNoFile()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive,
                        {{"docs/file_id.diz", "inner", false}, {"FILE_ID.DIZ", "outer", false}}));
        const QStringList before = folderEntries(QFileInfo(archive).absolutePath());
        ZipComponent zip;
        QByteArray out;
        QCOMPARE(zip.ReadMember(archive, kDiz, out), ZipStatus::Success);
        QCOMPARE(out, QByteArray("outer"));
        QCOMPARE(zip.ReadMember(archive, "readme.txt", out), ZipStatus::NothingMatched);
        QVERIFY(out.isEmpty());
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), before);
        QVERIFY(folderEntries(m_program).isEmpty());
    }

    void badArguments_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<bool>("withArchive");
        QTest::addColumn<bool>("withTarget");
        QTest::newRow("no archive") << kDiz << false << true;
        QTest::newRow("no target") << kDiz << true << false;
        QTest::newRow("no mask") << QString() << true << true;
        QTest::newRow("mask climbs out") << "../file_id.diz" << true << true;
        QTest::newRow("mask with folder") << "sub/file_id.diz" << true << true;
        QTest::newRow("mask with dos folder") << "sub\\file_id.diz" << true << true;
        QTest::newRow("mask is dot dot") << ".." << true << true;
    }
    void badArguments()
    {
        QFETCH(QString, mask);
        QFETCH(bool, withArchive);
        QFETCH(bool, withTarget);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "x", false}}));
        ZipComponent zip;
        zip.setMemberMask(mask);
        zip.setTargetFolder(withTarget ? m_program : QString());
        zip.setArchivePath(withArchive ? archive : QString());
        QCOMPARE(zip.ExtractMembers(0), ZipStatus::BadArguments);
        QVERIFY(folderEntries(m_program).isEmpty());
    }

    // --- update -----------------------------------------------------------

    void updateReplacesKeepingStoredName_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("upper") << "FILE_ID.DIZ";
        QTest::newRow("lower") << "file_id.diz";
        QTest::newRow("mixed") << "File_ID.diz";
    }
    void updateReplacesKeepingStoredName()
    {
        QFETCH(QString, stored);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(300000), true},
                                  {stored, "old description", false},
                                  {"docs/file_id.diz", "inner", false},
                                  {"readme.txt", QByteArray(20000, 'r'), false}}));
        auto before = rawMembers(archive);
        ZipComponent zip;
        const QByteArray text("NEW DESCRIPTION\r\n\r\n");
        QCOMPARE(update(zip, archive, text), ZipStatus::Success);

        auto after = rawMembers(archive);
        QCOMPARE(after.size(), before.size());
        QVERIFY(after.count(stored) == 1);
        QCOMPARE(memberData(archive, stored), text);
        // Everything else is copied as it was, compressed bytes and all.
        before.erase(stored);
        after.erase(stored);
        QVERIFY(before == after);
        QCOMPARE(memberData(archive, "docs/file_id.diz"), QByteArray("inner"));
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});

        // And extraction finds what was stored.
        QCOMPARE(extract(zip, archive), ZipStatus::Success);
        QCOMPARE(readBytes(target()), text);
    }

    // Save diz into a PKZIP 1.x archive: the description is replaced (now
    // deflated), every other member keeps its bytes, whatever its method,
    // and the check of the new archive accepts them.
    void updateKeepsPkzip1Members()
    {
        const QString archive = freshPath("old.zip");
        const QByteArray game = vexlo::test::dosDescription(9000);
        const QByteArray readme = vexlo::test::dosDescription(2000).toLower();
        QVERIFY(vexlo::test::makeOldZip(archive, {{"GAME.EXE", game, 1},
                                                  {"FILE_ID.DIZ", "OLD\r\n", 3},
                                                  {"README.TXT", readme, 6, 2},
                                                  {"ORDER.FRM", readme, 5}}));
        std::map<QString, RawMember> before = rawMembers(archive);
        ZipComponent zip;
        QCOMPARE(update(zip, archive, "new \xb0"), ZipStatus::Success);
        std::map<QString, RawMember> after = rawMembers(archive);
        QCOMPARE(after.size(), size_t(4));
        QCOMPARE(after["FILE_ID.DIZ"].method, qint32(ZIP_CM_STORE));
        before.erase("FILE_ID.DIZ");
        after.erase("FILE_ID.DIZ");
        QVERIFY(before == after);
        QByteArray out;
        QCOMPARE(zip.ReadMember(archive, kDiz, out), ZipStatus::Success);
        QCOMPARE(out, QByteArray("new \xb0"));
        for (const auto& [name, data] :
             {std::pair{"GAME.EXE", game}, {"README.TXT", readme}, {"ORDER.FRM", readme}}) {
            QCOMPARE(zip.ReadMember(archive, name, out), ZipStatus::Success);
            QCOMPARE(out, data);
        }
        const vexlo::test::UnzipCheck unzip = vexlo::test::unzipCheck(archive, "GAME.EXE");
        if (unzip.installed)
            QCOMPARE(unzip.data, game);
    }

    void updateAddsNewMember()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive,
                        {{"game.exe", noise(5000), false}, {"docs/file_id.diz", "inner", false}}));
        const auto before = rawMembers(archive);
        ZipComponent zip;
        QCOMPARE(update(zip, archive, "added"), ZipStatus::Success);
        auto after = rawMembers(archive);
        QCOMPARE(after.size(), before.size() + 1);
        QCOMPARE(memberData(archive, kDiz), QByteArray("added"));
        after.erase(kDiz);
        QVERIFY(before == after);
    }

    // The bytes given instead of a file: the same update, the same rules.
    void updateFromMemory()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(
            makeZip(archive, {{"game.exe", noise(5000), false}, {"File_Id.Diz", "old", false}}));
        auto before = rawMembers(archive);
        ZipComponent zip;
        zip.setArchivePath(archive);
        const QByteArray text("FROM MEMORY\r\n\xb0\xb1");
        QCOMPARE(zip.UpdateMemberData(kDiz, text), ZipStatus::Success);
        auto after = rawMembers(archive);
        QCOMPARE(memberData(archive, "File_Id.Diz"), text); // keeps its stored name
        before.erase("File_Id.Diz");
        after.erase("File_Id.Diz");
        QVERIFY(before == after);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});

        const QByteArray unchanged = readBytes(archive);
        QCOMPARE(zip.UpdateMemberData("docs/file_id.diz", text), ZipStatus::BadArguments);
        QCOMPARE(zip.UpdateMemberData("..", text), ZipStatus::BadArguments);
        QCOMPARE(zip.UpdateMemberData(kDiz, QByteArray(kMaxStoredMemberSize + 1, 'x')),
                 ZipStatus::MemberTooLarge);
        const QString text2 = freshPath("notes.txt");
        QVERIFY(writeBytes(text2, "plain text"));
        zip.setArchivePath(text2);
        QCOMPARE(zip.UpdateMemberData(kDiz, text), ZipStatus::NotAZipArchive);
        QCOMPARE(readBytes(text2), QByteArray("plain text"));
        QCOMPARE(readBytes(archive), unchanged);
    }

    void updateStoresEverySourceNamed()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"README.TXT", "old", false}}));
        QVERIFY(writeBytes(m_program + "/readme.txt", "new readme"));
        QVERIFY(writeBytes(m_program + "/file_id.diz", "new diz"));
        ZipComponent zip;
        zip.setMemberMask(m_program + "/readme.txt\r" + m_program + "/file_id.diz\r");
        zip.setArchivePath(archive);
        QCOMPARE(zip.UpdateMembers(0), ZipStatus::Success);
        const auto after = rawMembers(archive);
        QCOMPARE(after.size(), size_t(2));
        QCOMPARE(memberData(archive, "README.TXT"), QByteArray("new readme"));
        QCOMPARE(memberData(archive, kDiz), QByteArray("new diz"));
    }

    void updateKeepsPermissions_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("0640") << 0640;
        QTest::newRow("0604") << 0604;
        QTest::newRow("0444") << 0444;
        QTest::newRow("0666") << 0666;
    }
    void updateKeepsPermissions()
    {
        QFETCH(int, mode);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "old", false}}));
        QCOMPARE(::chmod(QFile::encodeName(archive).constData(), mode_t(mode)), 0);
        ZipComponent zip;
        QCOMPARE(update(zip, archive, "new"), ZipStatus::Success);
        QCOMPARE(int(modeOf(archive)), mode);
        QCOMPARE(memberData(archive, kDiz), QByteArray("new"));
    }

    void updateThroughLinkKeepsLink()
    {
        const QString real = freshPath("real.zip");
        QVERIFY(makeZip(real, {{kDiz, "old", false}}));
        const QString link = freshPath("link.zip");
        QVERIFY(QFile::link(real, link));
        ZipComponent zip;
        QCOMPARE(update(zip, link, "through the link"), ZipStatus::Success);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo(link).symLinkTarget(), real);
        QCOMPARE(memberData(real, kDiz), QByteArray("through the link"));
        QCOMPARE(folderEntries(QFileInfo(link).absolutePath()), QStringList{"link.zip"});
        QCOMPARE(folderEntries(QFileInfo(real).absolutePath()), QStringList{"real.zip"});
    }

    void updateLeavesNonArchives_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<ZipStatus>("status");
        QTest::newRow("text file") << "garbage" << ZipStatus::NotAZipArchive;
        QTest::newRow("empty file") << "empty" << ZipStatus::NotAZipArchive;
        QTest::newRow("truncated") << "truncated" << ZipStatus::CorruptArchive;
        QTest::newRow("missing") << "missing" << ZipStatus::CannotOpenArchive;
    }
    void updateLeavesNonArchives()
    {
        QFETCH(QString, kind);
        QFETCH(ZipStatus, status);
        const QString archive = freshPath("game.lzh");
        if (kind == "garbage") {
            QVERIFY(writeBytes(archive, "-lh5- not a zip archive at all"));
        } else if (kind == "empty") {
            QVERIFY(writeBytes(archive, QByteArray()));
        } else if (kind == "truncated") {
            QVERIFY(makeZip(archive, {{kDiz, noise(4000), true}}));
            QVERIFY(writeBytes(archive, readBytes(archive).left(3000)));
        }
        const bool existed = QFile::exists(archive);
        const QByteArray bytes = readBytes(archive);
        ZipComponent zip;
        QCOMPARE(update(zip, archive, "description"), status);
        QCOMPARE(QFile::exists(archive), existed);
        QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()),
                 existed ? QStringList{"game.lzh"} : QStringList());
    }

    void updateWithUnreadableSource_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<ZipStatus>("status");
        QTest::newRow("missing") << "missing" << ZipStatus::CannotReadSource;
        QTest::newRow("folder") << "folder" << ZipStatus::CannotReadSource;
        QTest::newRow("too large") << "large" << ZipStatus::MemberTooLarge;
        QTest::newRow("empty mask") << "none" << ZipStatus::BadArguments;
        QTest::newRow("the largest read, and Save diz's line end")
            << "largest" << ZipStatus::Success;
    }
    void updateWithUnreadableSource()
    {
        QFETCH(QString, kind);
        QFETCH(ZipStatus, status);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "old", false}}));
        const QByteArray bytes = readBytes(archive);
        const QString source = m_program + u'/' + kDiz;
        if (kind == "folder")
            QVERIFY(QDir().mkpath(source));
        else if (kind == "large")
            QVERIFY(writeBytes(source, QByteArray(kMaxStoredMemberSize + 1, 'x')));
        else if (kind == "largest")
            QVERIFY(writeBytes(source, QByteArray(kMaxMemberSize, 'x') + "\r\n"));
        ZipComponent zip;
        zip.setMemberMask(kind == "none" ? QStringLiteral("\r") : source + u'\r');
        zip.setArchivePath(archive);
        QCOMPARE(zip.UpdateMembers(0), status);
        if (status == ZipStatus::Success)
            QCOMPARE(memberData(archive, kDiz), readBytes(source));
        else
            QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});
    }

    void failedCommitLeavesOriginal()
    {
        // The temporary archive needs more room than the process may write.
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(400000), true}, {kDiz, "old", false}}));
        const QByteArray bytes = readBytes(archive);
        QVERIFY(writeBytes(m_program + u'/' + kDiz, "new"));
        ZipComponent zip;
        zip.setMemberMask(m_program + u'/' + kDiz + u'\r');
        zip.setArchivePath(archive);
        ZipStatus status = ZipStatus::Success;
        {
            FileSizeLimit limit(100000);
            QVERIFY(limit.ok());
            status = zip.UpdateMembers(0);
        }
        QCOMPARE(status, ZipStatus::CannotWriteArchive);
        QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});
    }

    void readOnlyFolderLeavesOriginal()
    {
        if (::geteuid() == 0)
            QSKIP("root may write into a read-only folder");
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "old", false}}));
        const QByteArray bytes = readBytes(archive);
        const QByteArray folder = QFile::encodeName(QFileInfo(archive).absolutePath());
        QCOMPARE(::chmod(folder.constData(), 0555), 0);
        ZipComponent zip;
        const ZipStatus status = update(zip, archive, "new");
        ::chmod(folder.constData(), 0755);
        QCOMPARE(status, ZipStatus::CannotWriteArchive);
        QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(folderEntries(QString::fromLocal8Bit(folder)), QStringList{"game.zip"});
    }

    // --- abort and progress -----------------------------------------------

    void abortDuringCommit()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(800000), true}, {kDiz, "old", false}}));
        const QByteArray bytes = readBytes(archive);
        ZipComponent zip;
        int calls = 0;
        const auto connection = connect(&zip, &ZipComponent::Adding, &zip, [&](int) {
            if (++calls == 2)
                zip.setAbortRequest(true);
        });
        QCOMPARE(update(zip, archive, "new"), ZipStatus::Aborted);
        disconnect(connection);
        QVERIFY(calls >= 2);
        QCOMPARE(readBytes(archive), bytes);
        QCOMPARE(folderEntries(QFileInfo(archive).absolutePath()), QStringList{"game.zip"});

        // The flag stays as the program left it, and the next call runs.
        QVERIFY(zip.abortRequest());
        QCOMPARE(update(zip, archive, "new"), ZipStatus::Success);
        QCOMPARE(memberData(archive, kDiz), QByteArray("new"));
    }

    void abortDuringExtraction()
    {
        const QString archive = freshPath("game.zip");
        const QByteArray data = noise(kMaxMemberSize - 1000);
        QVERIFY(makeZip(archive, {{kDiz, data, true}}));
        QVERIFY(writeBytes(target(), "earlier"));
        ZipComponent zip;
        QList<int> seen;
        const auto connection = connect(&zip, &ZipComponent::Status, &zip, [&](int completion) {
            seen << completion;
            if (seen.size() == 3)
                zip.setAbortRequest(true);
        });
        QCOMPARE(extract(zip, archive), ZipStatus::Aborted);
        QCOMPARE(seen.size(), 3); // stopped at the next chunk
        QVERIFY(seen.last() < 100);
        QCOMPARE(readBytes(target()), QByteArray("earlier"));
        QCOMPARE(folderEntries(m_program), QStringList{kDiz});

        disconnect(connection);
        QVERIFY(zip.abortRequest());
        QCOMPARE(extract(zip, archive), ZipStatus::Success);
        QCOMPARE(readBytes(target()), data);

        // Set again during a later call, it stops that call too.
        connect(&zip, &ZipComponent::Status, &zip, [&](int) { zip.setAbortRequest(true); });
        QByteArray out;
        QCOMPARE(zip.ReadMember(archive, kDiz, out), ZipStatus::Aborted);
        QVERIFY(out.isEmpty());
    }

    // An abort set from the progress of a PKZIP 1.x member's expansion
    // stops it too.
    void abortDuringLegacyRead()
    {
        const QString archive = freshPath("game.zip");
        const QByteArray data = vexlo::test::dosDescription(kMaxMemberSize - 1000);
        QVERIFY(vexlo::test::makeOldZip(archive, {{"FILE_ID.DIZ", data, 1}}));
        ZipComponent zip;
        QList<int> seen;
        connect(&zip, &ZipComponent::Status, &zip, [&](int completion) {
            seen << completion;
            if (seen.size() == 3)
                zip.setAbortRequest(true);
        });
        QByteArray out;
        QCOMPARE(zip.ReadMember(archive, kDiz, out), ZipStatus::Aborted);
        QCOMPARE(seen.size(), 3);
        QVERIFY(seen.last() > 0 && seen.last() < 100);
        QVERIFY(out.isEmpty());
        QCOMPARE(zip.ReadMember(archive, kDiz, out), ZipStatus::Success);
        QCOMPARE(out, data);
    }

    void abortSetBeforeCallIsNotHonoured()
    {
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{kDiz, "text", false}}));
        ZipComponent zip;
        zip.setAbortRequest(true);
        QCOMPARE(extract(zip, archive), ZipStatus::Success);
        QCOMPARE(update(zip, archive, "again"), ZipStatus::Success);
        QVERIFY(zip.abortRequest());
    }

    void progressReachesHundred_data()
    {
        QTest::addColumn<bool>("updating");
        QTest::newRow("extract") << false;
        QTest::newRow("update") << true;
    }
    void progressReachesHundred()
    {
        QFETCH(bool, updating);
        const QString archive = freshPath("game.zip");
        QVERIFY(makeZip(archive, {{"game.exe", noise(600000), true}, {kDiz, noise(500000), true}}));
        ZipComponent zip;
        QList<int> status;
        QList<int> adding;
        connect(&zip, &ZipComponent::Status, &zip, [&](int c) { status << c; });
        connect(&zip, &ZipComponent::Adding, &zip, [&](int c) { adding << c; });
        const QList<int>& seen = updating ? adding : status;
        QCOMPARE(updating ? update(zip, archive, "new") : extract(zip, archive),
                 ZipStatus::Success);
        QVERIFY((updating ? status : adding).isEmpty());
        QVERIFY2(seen.size() > 2, "progress in steps");
        QCOMPARE(seen.last(), 100);
        QCOMPARE(seen.count(100), 1);
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY(seen[i] >= seen[i - 1]);
    }

    void statusTextsAreDistinct()
    {
        const QList<ZipStatus> codes = {ZipStatus::Success,
                                        ZipStatus::CannotOpenArchive,
                                        ZipStatus::NotAZipArchive,
                                        ZipStatus::CorruptArchive,
                                        ZipStatus::CrcError,
                                        ZipStatus::MemberTooLarge,
                                        ZipStatus::CannotReadMember,
                                        ZipStatus::EncryptedMember,
                                        ZipStatus::UnsupportedMethod,
                                        ZipStatus::CannotWriteTarget,
                                        ZipStatus::CannotReadSource,
                                        ZipStatus::CannotWriteArchive,
                                        ZipStatus::BadArguments,
                                        ZipStatus::NothingMatched,
                                        ZipStatus::Aborted};
        QSet<QString> texts;
        QSet<qint16> values;
        for (ZipStatus code : codes) {
            texts.insert(zipStatusText(code));
            values.insert(statusCode(code));
            if (code != ZipStatus::Success && code != ZipStatus::NothingMatched &&
                code != ZipStatus::Aborted)
                QVERIFY(statusCode(code) > 100);
        }
        QCOMPARE(texts.size(), codes.size());
        QCOMPARE(values.size(), codes.size());
        QVERIFY(!texts.contains(zipStatusText(ZipStatus(999))));
    }
};

QTEST_GUILESS_MAIN(TestZip)
#include "test_zip.moc"
