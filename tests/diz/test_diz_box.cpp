// SPDX-License-Identifier: MIT
// The description box is a QPlainTextEdit: descriptions must come out of it
// byte for byte as they went in, through the text document's raw text.

#include "diz/Cp437.h"

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTextDocument>
#include <QtTest>

using namespace vexlo::diz::cp437;

class TestDizBox : public QObject {
    Q_OBJECT

private slots:
    void bytesSurviveTheTextBox_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QTest::newRow("all bytes") << all;
        QTest::newRow("all bytes, twice, in lines") << all + "\r\n" + all + "\r\n";
        QTest::newRow("line ends") << QByteArray("\r\n\r\n\r\r\n\n\n\r\r");
        QTest::newRow("DOS blank at line end") << QByteArray("A\xff\r\n\xff\xff\r\n");
        QTest::newRow("empty lines only") << QByteArray("\r\n\r\n\r\n");
        QRandomGenerator random(2029);
        for (int n = 0; n < 20; ++n) {
            QByteArray bytes(random.bounded(1, 300), '\0');
            for (char& c : bytes)
                c = random.bounded(3) == 0 ? "\r\n"[random.bounded(2)] : char(random.bounded(256));
            QTest::newRow(qPrintable(QString("random %1").arg(n))) << bytes;
        }
    }
    void bytesSurviveTheTextBox()
    {
        QFETCH(QByteArray, bytes);
        QPlainTextEdit box;
        box.setPlainText(boxTextFromBytes(bytes));
        const QString raw = box.document()->toRawText();
        QVERIFY(canEncode(raw));
        QCOMPARE(bytesFromBoxText(raw).value_or("<refused>"), bytes);
    }

    void typedLineBreakIsCrLf()
    {
        QPlainTextEdit box;
        box.setPlainText(QStringLiteral("A"));
        box.moveCursor(QTextCursor::End);
        QTest::keyClick(&box, Qt::Key_Return);
        QTest::keyClicks(&box, QStringLiteral("B"));
        QTest::keyClick(&box, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(&box, QStringLiteral("C"));
        QCOMPARE(bytesFromBoxText(box.document()->toRawText()).value_or("<refused>"),
                 QByteArray("A\r\nB\r\nC"));
    }
};

QTEST_MAIN(TestDizBox)
#include "test_diz_box.moc"
