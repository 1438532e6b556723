#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vexlo::platform;

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void nameBytesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("readme.txt");
        QTest::newRow("utf8") << QByteArray("caf\xc3\xa9.zip");
        QTest::newRow("latin1 byte") << QByteArray("caf\xe9.zip");
        QTest::newRow("truncated sequence") << QByteArray("a\xe2\x82");
        QTest::newRow("overlong") << QByteArray("\xc0\xaf");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
        QTest::newRow("four byte") << QByteArray("\xf0\x9f\x98\x80.zip");
        QTest::newRow("stray continuation") << QByteArray("\x80\x80x");
    }
    void nameBytesRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(encodeName(decodeName(bytes)), bytes);
    }

    void joinAddsOneSeparator()
    {
        QCOMPARE(joinPath("/", "a.zip"), QString("/a.zip"));
        QCOMPARE(joinPath("/zips", "a.zip"), QString("/zips/a.zip"));
        QCOMPARE(joinPath("/zips/", "a.zip"), QString("/zips/a.zip"));
        QCOMPARE(parentPath("/a.zip"), QString("/"));
        QCOMPARE(parentPath("/zips/a.zip"), QString("/zips"));
    }

    void resolverPrefersExactThenIgnoresCase()
    {
        QTemporaryDir dir;
        const QString base = dir.path();
        QVERIFY(QDir(base).mkpath("Zips/New"));
        QVERIFY(vexlo::test::writeBytes(base + "/Zips/New/GAME.ZIP", "x"));
        QCOMPARE(resolvePath(base + "/zips/new/game.zip"), base + "/Zips/New/GAME.ZIP");
        QCOMPARE(resolvePath(base + "/ZIPS/NEW"), base + "/Zips/New");
        // A name that matches nothing keeps its tail as given.
        QCOMPARE(resolvePath(base + "/zips/old/x.zip"), base + "/Zips/old/x.zip");

        // With two spellings present, the exact one wins.
        QVERIFY(vexlo::test::writeBytes(base + "/Zips/New/game.zip", "y"));
        QCOMPARE(resolvePath(base + "/Zips/New/game.zip"), base + "/Zips/New/game.zip");
        QVERIFY(isRegularFile(base + "/zips/new/GAME.ZIP"));
        QVERIFY(isDirectory(base + "/zips/NEW"));
    }

    void listingKeepsUndecodableNames()
    {
        QTemporaryDir dir;
        const QByteArray raw = QFile::encodeName(dir.path()) + "/bad\xff name.zip";
        FILE* f = ::fopen(raw.constData(), "w");
        QVERIFY(f);
        ::fclose(f);
        std::vector<DirEntry> entries;
        QVERIFY(listDirectory(dir.path(), entries));
        QCOMPARE(entries.size(), size_t(1));
        const QString path = joinPath(dir.path(), entries.front().name);
        QVERIFY(isRegularFile(path));
        QVERIFY(removeFile(path));
        QVERIFY(!exists(path));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
