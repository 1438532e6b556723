// SPDX-License-Identifier: MIT
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/ShortName.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vexlo::platform;

class TestCatalogShortName : public QObject {
    Q_OBJECT

private slots:
    void validShortNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("upper") << "GAME.ZIP" << true;
        QTest::newRow("lower") << "readme.txt" << true;
        QTest::newRow("eight and three") << "12345678.123" << true;
        QTest::newRow("no extension") << "MAKEFILE" << true;
        QTest::newRow("nine with symbols") << "A$%'-_@~9.`!(" << false;
        QTest::newRow("allowed symbols") << "A$%-_@~!.(){" << true;
        QTest::newRow("tail form") << "GAMEFI~1.ZIP" << true;
        QTest::newRow("nine") << "123456789.TXT" << false;
        QTest::newRow("four extension") << "NAME.HTML" << false;
        QTest::newRow("two dots") << "A.B.C" << false;
        QTest::newRow("trailing dot") << "NAME." << false;
        QTest::newRow("leading dot") << ".bashrc" << false;
        QTest::newRow("space") << "A B.TXT" << false;
        QTest::newRow("plus") << "A+B.TXT" << false;
        QTest::newRow("accent") << QString::fromUtf8("CAF\xc3\x89.ZIP") << false;
        QTest::newRow("empty") << "" << false;
    }
    void validShortNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(isValidShortName(name), valid);
    }

    void aliases_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("aliases");
        QTest::newRow("valid stays, upper case")
            << QStringList{"readme.txt", "GAME.ZIP"} << QStringList{"README.TXT", "GAME.ZIP"};
        QTest::newRow("long name")
            << QStringList{"Long File Name.txt"} << QStringList{"LONGFI~1.TXT"};
        // Tails follow the pane's order (" " sorts before "."), not the input's.
        QTest::newRow("two long names") << QStringList{"Long File Name.txt", "Long File Name 2.txt"}
                                        << QStringList{"LONGFI~2.TXT", "LONGFI~1.TXT"};
        QTest::newRow("last extension, three characters")
            << QStringList{"archive.tar.gz", "page.html"}
            << QStringList{"ARCHIV~1.GZ", "PAGE~1.HTM"};
        QTest::newRow("leading dot dropped") << QStringList{".bashrc"} << QStringList{"BASHRC~1"};
        QTest::newRow("spaces dropped") << QStringList{"a b"} << QStringList{"AB~1"};
        QTest::newRow("invalid characters")
            << QStringList{"a+b,c;d=e[f]g.t t"} << QStringList{"A_B_C_~1.TT"};
        QTest::newRow("not ASCII")
            << QStringList{QString::fromUtf8("caf\xc3\xa9.zip")} << QStringList{"CAF_~1.ZIP"};
        QTest::newRow("undecodable byte")
            << QStringList{decodeName("m\xfcsic.mod")} << QStringList{"M_SIC~1.MOD"};
        QTest::newRow("trailing dot") << QStringList{"NAME."} << QStringList{"NAME~1"};
        QTest::newRow("only dots") << QStringList{"..."} << QStringList{"_~1"};
        QTest::newRow("a valid name takes its alias first")
            << QStringList{"Game file.zip", "gamefi~1.zip"}
            << QStringList{"GAMEFI~2.ZIP", "GAMEFI~1.ZIP"};
        QTest::newRow("same name in two cases")
            << QStringList{"readme.txt", "README.TXT"} << QStringList{"README~1.TXT", "README.TXT"};
        QTest::newRow("different extensions do not collide")
            << QStringList{"Long name.txt", "Long name.doc"}
            << QStringList{"LONGNA~1.TXT", "LONGNA~1.DOC"};
    }
    void aliases()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, aliases);
        QCOMPARE(shortNamesFor(names), aliases);
    }

    void tenthTailShortensTheBasis()
    {
        QStringList names;
        for (int i = 1; i <= 11; ++i)
            names.append(QString("Document number %1.txt").arg(i, 2, 10, QChar('0')));
        const QStringList aliases = shortNamesFor(names);
        for (int i = 1; i <= 9; ++i)
            QCOMPARE(aliases.at(i - 1), QString("DOCUME~%1.TXT").arg(i));
        QCOMPARE(aliases.at(9), QString("DOCUM~10.TXT"));
        QCOMPARE(aliases.at(10), QString("DOCUM~11.TXT"));
        QCOMPARE(QSet<QString>(aliases.begin(), aliases.end()).size(), names.size());
    }

    void aliasesAreUniqueAndShort()
    {
        QStringList names;
        for (int i = 0; i < 150; ++i)
            names.append(QString("Same prefix %1 file.data").arg(i));
        names.append("SAMEPR~1.DAT");
        const QStringList aliases = shortNamesFor(names);
        QCOMPARE(QSet<QString>(aliases.begin(), aliases.end()).size(), names.size());
        for (const QString& alias : aliases)
            QVERIFY2(isValidShortName(alias), qPrintable(alias));
        QCOMPARE(aliases.last(), QString("SAMEPR~1.DAT"));
    }

    void shortPathOfAFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/Zips";
        QVERIFY(vexlo::test::writeBytes(folder + "/Long File Name.txt", "x"));
        QVERIFY(vexlo::test::writeBytes(folder + "/Long File Name 2.txt", "x"));
        QVERIFY(vexlo::test::writeBytes(folder + "/readme.txt", "x"));
        QCOMPARE(ShortPathOf(folder + "/Long File Name.txt"), folder + "/LONGFI~2.TXT");
        QCOMPARE(ShortPathOf(folder + "/readme.txt"), folder + "/README.TXT");
        // A sub-folder's name counts in the folder's aliases too.
        QVERIFY(QDir().mkpath(folder + "/Long File Folder.txt"));
        QCOMPARE(ShortPathOf(folder + "/Long File Name.txt"), folder + "/LONGFI~3.TXT");
        // The folder is taken as given; the entry is found without regard to case.
        QCOMPARE(ShortPathOf(folder + "/long file name.txt"), folder + "/LONGFI~3.TXT");
        QCOMPARE(ShortPathOf(lowerPath(folder) + "/Long File Name.txt"), QString());
        QCOMPARE(ShortPathOf(folder + "/missing file.txt"), QString());
        QCOMPARE(ShortPathOf(dir.path() + "/nowhere/a.txt"), QString());
    }

    void tableMatchesShortPathOf()
    {
        QTemporaryDir dir;
        const QStringList names{"One long name.zip", "one long name.arj", "Short.zip",
                                ".hidden long"};
        for (const QString& name : names)
            QVERIFY(vexlo::test::writeBytes(dir.path() + "/" + name, "x"));
        ShortNameTable table;
        QVERIFY(table.load(dir.path()));
        for (const QString& name : names)
            QCOMPARE(table.shortName(name), lastComponent(ShortPathOf(dir.path() + "/" + name)));
        QVERIFY(!table.load(dir.path() + "/missing"));
        QCOMPARE(table.shortName("Short.zip"), QString());
    }
};

QTEST_GUILESS_MAIN(TestCatalogShortName)
#include "test_catalog_shortname.moc"
