// SPDX-License-Identifier: MIT
#include "catalog/ListBuilder.h"
#include "catalog/ListWriter.h"
#include "diz/DescriptionText.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace vexlo;
using namespace vexlo::catalog;

namespace {

QString withLoneByte(const char* before, unsigned char byte, const char* after)
{
    return platform::decodeName(QByteArray(before) + char(byte) + QByteArray(after));
}

} // namespace

class TestCatalogWriter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

    // Writes through a fresh writer and returns the file's bytes.
    template <typename F> QByteArray written(F steps)
    {
        const QString file = path("out.txt");
        ListWriter writer;
        if (!writer.open(file))
            return "(open failed)";
        steps(writer);
        if (!writer.close())
            return "(close failed)";
        return test::readBytes(file);
    }

private slots:
    void padToColumn_data()
    {
        QTest::addColumn<int>("written"); // characters already on the line
        QTest::addColumn<int>("target");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("before: spaces up to the column") << 3 << 8 << QByteArray("xxx    |");
        QTest::newRow("at: nothing") << 7 << 8 << QByteArray("xxxxxxx|");
        QTest::newRow("past: new line and n-1 spaces")
            << 9 << 8 << QByteArray("xxxxxxxxx\r\n       |");
        QTest::newRow("column 1 from an empty line") << 0 << 1 << QByteArray("|");
    }
    void padToColumn()
    {
        QFETCH(int, written);
        QFETCH(int, target);
        QFETCH(QByteArray, expected);
        int columnAfter = 0;
        const QByteArray bytes = this->written([&](ListWriter& w) {
            w.writeBytes(QByteArray(written, 'x'));
            w.PadToColumn(target);
            columnAfter = w.column();
            w.writeBytes("|");
        });
        QCOMPARE(bytes, expected);
        QCOMPARE(columnAfter, target);
    }

    void linesEndInCrLfAndResetTheColumn()
    {
        int column = 0;
        const QByteArray bytes = written([&](ListWriter& w) {
            w.endLine();
            w.writeBytes("abc");
            w.endLine();
            column = w.column();
        });
        QCOMPARE(bytes, QByteArray("\r\nabc\r\n"));
        QCOMPARE(column, 1);
    }

    void namesCountCodePointsNotBytes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("columns");
        QTest::newRow("ascii") << QString("GAME.ZIP") << QByteArray("GAME.ZIP") << 8;
        QTest::newRow("accent") << QString::fromUtf8("CAF\xc3\x89.ZIP")
                                << QByteArray("CAF\xc3\x89.ZIP") << 8;
        QTest::newRow("outside the BMP")
            << QString::fromUtf8("\xf0\x9f\x98\x80.ZIP") << QByteArray("\xf0\x9f\x98\x80.ZIP") << 5;
        QTest::newRow("undecodable byte")
            << withLoneByte("BAD", 0xff, ".ZIP") << QByteArray("BAD\xff.ZIP") << 8;
    }
    void namesCountCodePointsNotBytes()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, columns);
        QCOMPARE(nameColumns(name), columns);
        const QByteArray out = written([&](ListWriter& w) {
            w.writeName(name);
            w.PadToColumn(13);
            w.writeBytes("|");
        });
        QCOMPARE(out, bytes + QByteArray(12 - columns, ' ') + "|");
    }

    void descriptionBytesPassUnchanged()
    {
        QByteArray all;
        for (int b = 1; b < 256; ++b) {
            if (b != '\r' && b != '\n')
                all.append(char(b));
        }
        int column = 0;
        const QByteArray out = written([&](ListWriter& w) {
            w.writeBytes(all);
            column = w.column();
        });
        QCOMPARE(out, all);
        QCOMPARE(column, 1 + int(all.size()));
    }

    void upperCaseKeepsUndecodableBytes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("upper");
        QTest::newRow("ascii") << QString("readme.txt") << QByteArray("README.TXT");
        QTest::newRow("full mapping") << QString::fromUtf8("stra\xc3\x9f"
                                                           "e.txt")
                                      << QByteArray("STRASSE.TXT");
        QTest::newRow("accent") << QString::fromUtf8("caf\xc3\xa9.zip")
                                << QByteArray("CAF\xc3\x89.ZIP");
        // The byte follows a letter that changes: the case that QString alone
        // would turn into U+FFFD.
        QTest::newRow("byte after a change") << withLoneByte("ab", 0xe9, "cd.zip")
                                             << QByteArray("AB\xe9"
                                                           "CD.ZIP");
        QTest::newRow("byte first") << withLoneByte("", 0xff, "x")
                                    << QByteArray("\xff"
                                                  "X");
    }
    void upperCaseKeepsUndecodableBytes()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, upper);
        QCOMPARE(platform::encodeName(platform::upperName(name)), upper);
    }

    void lowerPathKeepsUndecodableBytes()
    {
        const QString folder = withLoneByte("/Zips/N", 0xe9, "W/Old");
        QCOMPARE(platform::encodeName(platform::lowerPath(folder)), QByteArray("/zips/n\xe9w/old"));
    }

    void sizeField_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("zero has no digits") << qint64(0) << QByteArray("         ");
        QTest::newRow("one digit") << qint64(5) << QByteArray("        5");
        QTest::newRow("no group separators") << qint64(1234567) << QByteArray("  1234567");
        QTest::newRow("nine digits fill it") << qint64(999999999) << QByteArray("999999999");
        QTest::newRow("ten digits widen it") << qint64(1000000000) << QByteArray("1000000000");
        QTest::newRow("huge") << qint64(5000000000000) << QByteArray("5000000000000");
    }
    void sizeField()
    {
        QFETCH(qint64, size);
        QFETCH(QByteArray, field);
        QCOMPARE(catalog::sizeField(size), field);
    }

    void dateField_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("example") << QDateTime(QDate(1998, 9, 16), QTime(12, 0))
                                 << QByteArray("09-16-98");
        QTest::newRow("new century")
            << QDateTime(QDate(2003, 1, 2), QTime(0, 0)) << QByteArray("01-02-03");
        QTest::newRow("late evening stays that day")
            << QDateTime(QDate(2021, 12, 31), QTime(23, 59, 59)) << QByteArray("12-31-21");
        QTest::newRow("unknown keeps the width") << QDateTime() << QByteArray("        ");
    }
    void dateField()
    {
        QFETCH(QDateTime, when);
        QFETCH(QByteArray, field);
        QCOMPARE(catalog::dateField(when), field);
    }

    void dateFieldIsLocalTime()
    {
        // An instant given in UTC is shown as the local calendar day.
        const QDateTime utc(QDate(2020, 6, 15), QTime(12, 0), Qt::UTC);
        const QDate local = utc.toLocalTime().date();
        QCOMPARE(catalog::dateField(utc), local.toString("MM-dd-yy").toLatin1());
    }

    void sentenceCase_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("shout") << QByteArray("GREAT GAME FOR DOS")
                               << QByteArray("Great game for dos");
        QTest::newRow("lower") << QByteArray("great") << QByteArray("Great");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("leading space stays") << QByteArray("  ABC") << QByteArray("  abc");
        QTest::newRow("DOS letter pairs change, box drawing stays")
            << QByteArray("\x8e\x84RGER \x99L \xc9\xcd\xbb")
            << QByteArray("\x8e\x84rger \x94l \xc9\xcd\xbb");
        QTest::newRow("every DOS pair") << QByteArray("\x87\x80\x9a\x90\x8e\x8f\x92\x99\xa5")
                                        << QByteArray("\x80\x87\x81\x82\x84\x86\x91\x94\xa4");
        QTest::newRow("DOS bytes without a pair") << QByteArray("\xe1\x98\xa0\xe1") // ß ÿ á
                                                  << QByteArray("\xe1\x98\xa0\xe1");
        QTest::newRow("letter then DOS bytes")
            << QByteArray("a\x84\x94 \x81X") << QByteArray("A\x84\x94 \x81x");
    }
    void sentenceCase()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(catalog::sentenceCase(text), expected);
    }

    void splitLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<diz::LineEnds>("ends");
        QTest::addColumn<QList<QByteArray>>("lines");
        using L = QList<QByteArray>;
        const diz::LineEnds any = diz::LineEnds::AnyOf;
        const diz::LineEnds cr = diz::LineEnds::CarriageReturn;
        QTest::newRow("empty file") << QByteArray() << any << L{};
        QTest::newRow("one line, no end") << QByteArray("A") << any << L{"A"};
        QTest::newRow("one line, CR LF") << QByteArray("A\r\n") << any << L{"A"};
        QTest::newRow("empty line between")
            << QByteArray("A\r\n\r\nB\r\n") << any << L{"A", "", "B"};
        QTest::newRow("LF only") << QByteArray("A\n\nB\n") << any << L{"A", "", "B"};
        QTest::newRow("CR only") << QByteArray("A\rB") << any << L{"A", "B"};
        QTest::newRow("mixed") << QByteArray("A\r\nB\nC\rD") << any << L{"A", "B", "C", "D"};
        QTest::newRow("a lone line end") << QByteArray("\r\n") << any << L{""};
        QTest::newRow("LF CR is two ends") << QByteArray("A\n\rB") << any << L{"A", "", "B"};
        QTest::newRow("CR: empty file") << QByteArray() << cr << L{};
        QTest::newRow("CR: one line, no end") << QByteArray("A") << cr << L{"A"};
        QTest::newRow("CR: CR LF") << QByteArray("A\r\nB\r\n") << cr << L{"A", "B"};
        QTest::newRow("CR: lone CR") << QByteArray("A\rB") << cr << L{"A", "B"};
        QTest::newRow("CR: lone LF is part of the line")
            << QByteArray("A\nB\r\n") << cr << L{"A\nB"};
        QTest::newRow("CR: LF CR") << QByteArray("A\n\rB") << cr << L{"A\n", "B"};
        QTest::newRow("CR: a lone line end") << QByteArray("\r\n") << cr << L{""};
    }
    void splitLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(diz::LineEnds, ends);
        QFETCH(QList<QByteArray>, lines);
        QCOMPARE(diz::splitLines(bytes, ends), lines);
    }

    void openReplacesAnExistingFile()
    {
        const QString file = path("replace.txt");
        QVERIFY(test::writeBytes(file, QByteArray(5000, 'o')));
        ListWriter writer;
        QVERIFY(writer.open(file));
        writer.writeBytes("new");
        writer.endLine();
        QVERIFY(writer.close());
        QCOMPARE(test::readBytes(file), QByteArray("new\r\n"));
    }

    // Folder and name as given: beside a folder that differs only in case,
    // and under the name's own letter case.
    void openTakesThePathAsGiven()
    {
        QVERIFY(QDir().mkpath(path("Lists")));
        ListWriter writer;
        QVERIFY(!writer.open(path("lists/AllFiles.txt")));
        QVERIFY(QDir().mkpath(path("lists")));
        ListWriter again;
        QVERIFY(again.open(path("lists/AllFiles.txt")));
        again.writeBytes("x");
        QVERIFY(again.close());
        QCOMPARE(QDir(path("lists")).entryList(QDir::Files), QStringList{"AllFiles.txt"});
        QVERIFY(QDir(path("Lists")).entryList(QDir::Files).isEmpty());
    }

    void openFailureIsReported()
    {
        ListWriter writer;
        QVERIFY(!writer.open(path("no/such/folder/list.txt")));
        QVERIFY(writer.failed());
        QCOMPARE(writer.errorText(), QString::fromLocal8Bit(std::strerror(ENOENT)));
        QVERIFY(!writer.close());
        QVERIFY(!QFile::exists(path("no/such/folder/list.txt")));
    }

    void writeFailureIsReportedNotSuccess()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this system");
        ListWriter writer;
        QVERIFY(writer.open("/dev/full"));
        writer.writeBytes("a short list");
        writer.endLine();
        QVERIFY(!writer.failed()); // still in the buffer
        QVERIFY(!writer.close());
        QCOMPARE(writer.errorText(), QString::fromLocal8Bit(std::strerror(ENOSPC)));
    }

    void writeFailureShowsBeforeTheEnd()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this system");
        ListWriter writer;
        QVERIFY(writer.open("/dev/full"));
        for (int i = 0; i < 2000 && !writer.failed(); ++i) {
            writer.writeBytes(QByteArray(80, 'x'));
            writer.endLine();
        }
        QVERIFY(writer.failed());
        QVERIFY(!writer.close());
    }
};

QTEST_GUILESS_MAIN(TestCatalogWriter)
#include "test_catalog_writer.moc"
