// SPDX-License-Identifier: MIT
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
    }

    // Case twins: the lookup is exact first, component by component, and
    // never picks one of two spellings that both differ from the text.
    void resolverTakesTheExactTwinAndRefusesToGuess_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one spelling") << QStringList{"Docs"} << "docs"
                                      << "Docs";
        QTest::newRow("twins, lower text") << QStringList{"Docs", "docs"} << "docs"
                                           << "docs";
        QTest::newRow("twins, capital text") << QStringList{"Docs", "docs"} << "Docs"
                                             << "Docs";
        QTest::newRow("two others: kept as given") << QStringList{"Docs", "DOCS"} << "docs"
                                                   << "docs";
        QTest::newRow("below two others: kept as given")
            << QStringList{"Docs/Sub", "DOCS/Sub"} << "docs/sub"
            << "docs/sub";
        QTest::newRow("exact parent, its own child")
            << QStringList{"docs/Sub", "Docs/sub"} << "docs/SUB"
            << "docs/Sub";
        QTest::newRow("deeper, one spelling") << QStringList{"Docs/Old/Games"} << "docs/old/games"
                                              << "Docs/Old/Games";
    }
    void resolverTakesTheExactTwinAndRefusesToGuess()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString& folder : folders)
            QVERIFY(QDir(dir.path()).mkpath(folder));
        QCOMPARE(resolvePath(dir.path() + "/" + text), dir.path() + "/" + expected);
    }

    // Every file function takes its path as given: a text that differs from
    // the real name in case reaches nothing, and never the twin.
    void fileFunctionsTakePathsExactly()
    {
        QTemporaryDir dir;
        const QString base = dir.path();
        QVERIFY(vexlo::test::writeBytes(base + "/Docs/a.zip", "upper"));
        const QString lower = base + "/docs/a.zip";
        QVERIFY(!exists(lower));
        QVERIFY(!isRegularFile(lower));
        QVERIFY(!isDirectory(base + "/docs"));
        std::vector<DirEntry> entries;
        QVERIFY(!listDirectory(base + "/docs", entries));
        QByteArray bytes;
        QVERIFY(!readFile(lower, bytes));
        QVERIFY(!removeFile(lower));
        QVERIFY(!writeFile(lower, "new"));
        QVERIFY(!writeFileAtomic(lower, "new"));
        QVERIFY(!isWritableFolder(base + "/docs"));
        QCOMPARE(vexlo::test::readBytes(base + "/Docs/a.zip"), QByteArray("upper"));
        QCOMPARE(QDir(base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"Docs"});

        // With the twin there, each spelling reaches its own.
        QVERIFY(vexlo::test::writeBytes(lower, "lower"));
        QVERIFY(readFile(base + "/Docs/a.zip", bytes));
        QCOMPARE(bytes, QByteArray("upper"));
        QVERIFY(removeFile(lower));
        QVERIFY(exists(base + "/Docs/a.zip"));
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
