// SPDX-License-Identifier: MIT
#include "diz/Cp437.h"

#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

using namespace vexlo::diz::cp437;

namespace {

QByteArray allBytes()
{
    QByteArray out;
    for (int b = 0; b < 256; ++b)
        out.append(char(b));
    return out;
}

QByteArray roundTrip(const QByteArray& bytes)
{
    const std::optional<QByteArray> back = bytesFromBoxText(boxTextFromBytes(bytes));
    return back ? *back : QByteArray("<refused>");
}

} // namespace

class TestDizCp437 : public QObject {
    Q_OBJECT

private slots:
    void everyByteHasItsOwnGlyph()
    {
        QSet<char16_t> seen;
        for (int b = 0; b < 256; ++b) {
            const QChar g = glyph(uchar(b));
            QVERIFY2(!seen.contains(g.unicode()), qPrintable(QString::number(b, 16)));
            seen.insert(g.unicode());
            QCOMPARE(byteOf(g), b);
            // Nothing a text box would take as a line break or drop.
            QVERIFY(!isLineBreak(g));
            QVERIFY(g.unicode() != 0);
        }
    }

    void glyphsAreTheDosOnes()
    {
        const QString controls = QString::fromUtf8("☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼");
        for (int b = 1; b < 0x20; ++b)
            QCOMPARE(glyph(uchar(b)), controls[b - 1]);
        for (int b = 0x20; b < 0x7F; ++b)
            QCOMPARE(glyph(uchar(b)), QChar(b));
        QCOMPARE(glyph(0x7F), QChar(0x2302));
        QCOMPARE(glyph(0x00), QChar(0x2400));
        const QString high = QString::fromUtf8("ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»"
                                               "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀"
                                               "αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0");
        QCOMPARE(high.size(), 128);
        for (int b = 0x80; b < 0x100; ++b)
            QCOMPARE(glyph(uchar(b)), high[b - 0x80]);
    }

    void allBytesRoundTrip()
    {
        const QByteArray bytes = allBytes();
        QCOMPARE(roundTrip(bytes), bytes);
        for (int b = 0; b < 256; ++b)
            QCOMPARE(roundTrip(QByteArray(1, char(b))), QByteArray(1, char(b)));
    }

    void randomBytesRoundTrip()
    {
        QRandomGenerator random(437);
        for (int n = 0; n < 2000; ++n) {
            QByteArray bytes(random.bounded(0, 64), '\0');
            for (char& c : bytes) {
                // Line-end bytes often, so that their mixtures are covered.
                const int pick = random.bounded(4);
                c = pick == 0 ? '\r' : pick == 1 ? '\n' : char(random.bounded(256));
            }
            QCOMPARE(roundTrip(bytes), bytes);
            QVERIFY(!boxTextFromBytes(bytes).contains(u'\r'));
        }
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("box");
        QTest::newRow("CR LF") << QByteArray("a\r\nb") << QString("a\nb");
        QTest::newRow("lone CR") << QByteArray("a\rb") << QString::fromUtf8("a♪b");
        QTest::newRow("lone LF") << QByteArray("a\nb") << QString::fromUtf8("a◙b");
        QTest::newRow("LF CR") << QByteArray("\n\r") << QString::fromUtf8("◙♪");
        QTest::newRow("CR CR LF") << QByteArray("\r\r\n") << QString::fromUtf8("♪\n");
        QTest::newRow("CR LF LF") << QByteArray("\r\n\n") << QString::fromUtf8("\n◙");
        QTest::newRow("CR at end") << QByteArray("a\r") << QString::fromUtf8("a♪");
        QTest::newRow("two lines") << QByteArray("A\r\nB\r\n") << QString("A\nB\n");
    }
    void lineEnds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, box);
        QCOMPARE(boxTextFromBytes(bytes), box);
        QCOMPARE(bytesFromBoxText(box).value_or("<refused>"), bytes);
    }

    void everyLineBreakOfABoxIsCrLf_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("newline") << QString("a\nb");
        QTest::newRow("CR LF") << QString("a\r\nb");
        QTest::newRow("CR") << QString("a\rb");
        QTest::newRow("paragraph separator") << QString("a\u2029b");
        QTest::newRow("line separator") << QString("a\u2028b");
    }
    void everyLineBreakOfABoxIsCrLf()
    {
        QFETCH(QString, box);
        QCOMPARE(bytesFromBoxText(box).value_or("<refused>"), QByteArray("a\r\nb"));
    }

    void foreignCharactersAreRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("badPos");
        QTest::newRow("euro") << QString::fromUtf8("ab€") << 2;
        QTest::newRow("tab") << QString("a\tb") << 1;
        QTest::newRow("NUL character") << QString(QChar(0)) << 0;
        QTest::newRow("emoji") << QString::fromUtf8("x\n😀") << 2;
        QTest::newRow("combining accent") << QString::fromUtf8("e\u0301") << 1;
        QTest::newRow("all DOS") << QString::fromUtf8("╔═╗ é ½ ␀") << -1;
    }
    void foreignCharactersAreRefused()
    {
        QFETCH(QString, text);
        QFETCH(int, badPos);
        int pos = 99;
        QCOMPARE(canEncode(text, &pos), badPos < 0);
        QCOMPARE(pos, badPos);
        QCOMPARE(bytesFromBoxText(text).has_value(), badPos < 0);
    }

    void typingLeavesEditingKeysAlone_data()
    {
        QTest::addColumn<QString>("keyText");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("letter") << QString("a") << true;
        QTest::newRow("DOS letter") << QString::fromUtf8("é") << true;
        QTest::newRow("euro") << QString::fromUtf8("€") << false;
        QTest::newRow("tab") << QString("\t") << false;
        QTest::newRow("backspace") << QString("\b") << true;
        QTest::newRow("delete") << QString(QChar(0x7F)) << true;
        QTest::newRow("enter") << QString("\r") << true;
        QTest::newRow("no text") << QString() << true;
    }
    void typingLeavesEditingKeysAlone()
    {
        QFETCH(QString, keyText);
        QFETCH(bool, accepted);
        QCOMPARE(isTypingAccepted(keyText), accepted);
    }

    void refusalNamesCharacterAndPlace()
    {
        QCOMPARE(
            unencodableText(QString::fromUtf8("ab\r\ncd€"), 6),
            QString::fromUtf8("the character “€” (U+20AC) in line 2, column 3 is not in the DOS "
                              "character set"));
        const QString emoji = QString::fromUtf8("😀x\u2029😀");
        QVERIFY(unencodableText(emoji, 0).contains("U+1F600"));
        QVERIFY(unencodableText(emoji, 4).contains("line 2, column 1"));
        QVERIFY(unencodableText(QString("a\tb"), 1)
                    .startsWith("the character U+0009 in line 1, column 2"));
    }
};

QTEST_GUILESS_MAIN(TestDizCp437)
#include "test_diz_cp437.moc"
