// SPDX-License-Identifier: MIT
// Get diz and Save diz in the window, over real archives and the real
// controls (found by object name), and the description box's input filter.
#include "diz/ZipComponent.h"
#include "legacy_zip.h"
#include "pane/ArchivePane.h"
#include "platform/DiskInfo.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace vexlo;

namespace {

const QString kDiz = QStringLiteral("file_id.diz");
const QString kCrc = QStringLiteral("          ** CRC Error **");
const QString kError = QStringLiteral("          Error #");
const QString kIdle = QStringLiteral("Save &diz");
const QString kAbort = QStringLiteral("&Abort");

template <class T> T* control(QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

DescriptionBox* box(Form1& w)
{
    return control<DescriptionBox>(w, "Text1");
}
ArchivePane* listOf(Form1& w)
{
    return control<ArchivePane>(w, "File1");
}
QPushButton* button(Form1& w, const char* name)
{
    return control<QPushButton>(w, name);
}
QAction* item(Form1& w, const char* name)
{
    return control<QAction>(w, name);
}

// Clicks the rows as a user would: the first plainly, the others with Ctrl.
void clickRows(ArchivePane& list, const QList<int>& rows)
{
    bool first = true;
    for (int row : rows) {
        const QModelIndex index = list.model()->index(row, 0);
        list.scrollTo(index);
        QTest::mouseClick(list.viewport(), Qt::LeftButton,
                          first ? Qt::KeyboardModifiers() : Qt::ControlModifier,
                          list.visualRect(index).center());
        first = false;
    }
}

QByteArray storedDiz(const QString& archive, qint16* status = nullptr)
{
    diz::ZipComponent zip;
    QByteArray out;
    const qint16 s = diz::statusCode(zip.ReadMember(archive, kDiz, out));
    if (status)
        *status = s;
    return out;
}

// A double-click as the window gets it from the system: press and release,
// then the double-click event (QTest's double-click sends only the last).
void doubleClickRow(ArchivePane& list, int row)
{
    const QModelIndex index = list.model()->index(row, 0);
    list.scrollTo(index);
    const QPoint at = list.visualRect(index).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
}

// Runs Get diz the named way: the button, the menu item, or a double-click on
// the last of the rows.
void getDiz(Form1& w, const QString& how, int row = -1)
{
    if (how == "menu") {
        item(w, "gdiz")->trigger();
    } else if (how == "double-click") {
        doubleClickRow(*listOf(w), row);
    } else {
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
    }
}

void saveDiz(Form1& w, const QString& how)
{
    if (how == "menu")
        item(w, "sdiz")->trigger();
    else
        QTest::mouseClick(button(w, "Command1"), Qt::LeftButton);
}

bool saveOffered(Form1& w);

// The usual road to Save diz: read a description first, which offers it.
bool readFirst(Form1& w, int row)
{
    clickRows(*listOf(w), {row});
    getDiz(w, "button");
    return saveOffered(w);
}

bool saveOffered(Form1& w)
{
    return button(w, "Command1")->isEnabled() && item(w, "sdiz")->isEnabled();
}
bool saveWithdrawn(Form1& w)
{
    return !button(w, "Command1")->isEnabled() && !item(w, "sdiz")->isEnabled();
}

} // namespace

class TestWindowDiz : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_program;

    // A shown, active window whose pane lists the folder.
    std::unique_ptr<Form1> windowOn(const QString& folder)
    {
        test::writeBytes(m_program.filePath("Vexlo32.ini"), folder.toUtf8() + "\r\n");
        auto window = std::make_unique<Form1>();
        if (!window->startUp())
            return nullptr;
        window->show();
        if (!QTest::qWaitForWindowActive(window.get()))
            return nullptr;
        return window;
    }

    // Eight archives a0.zip .. a7.zip, each with its own description.
    static void eightArchives(const QTemporaryDir& dir)
    {
        for (int i = 0; i < 8; ++i)
            QVERIFY(test::makeZip(dir.filePath(QString("a%1.zip").arg(i)),
                                  {{kDiz, "diz of " + QByteArray::number(i) + "\r\n"},
                                   {"prog.exe", QByteArray(3000, char('A' + i))}}));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_program.isValid());
        platform::setUserFoldersOverride(m_program.path());
    }
    void cleanupTestCase() { platform::setUserFoldersOverride(QString()); }
    void init()
    {
        QFile::remove(platform::tempDizPath());
        setMessageHook({});
        platform::DiskInfo::setFreeSpaceOverride({});
    }
    void cleanup()
    {
        platform::DiskInfo::setFreeSpaceOverride({});
        QApplication::clipboard()->clear();
    }

    // ------------------------------------------------------------ Get diz

    void getDizShowsDosGlyphs_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("&Get diz") << "button";
        QTest::newRow("&Get diz...") << "menu";
        QTest::newRow("double-click") << "double-click";
    }
    void getDizShowsDosGlyphs()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        QVERIFY(test::makeZip(dir.filePath("art.zip"),
                              {{kDiz, QByteArray("\xC9\xCD\xBB\r\n\x01 \x7F\r\nlast")}}));
        QVERIFY(test::writeBytes(dir.filePath("other.txt"), "x"));
        auto w = windowOn(dir.path());
        QVERIFY(w);
        QVERIFY(saveWithdrawn(*w));
        clickRows(*listOf(*w), {0});
        listOf(*w)->setFocus();
        getDiz(*w, how, 0);
        QCOMPARE(box(*w)->toPlainText(), QString::fromUtf8("╔═╗\n☺ ⌂\nlast\n"));
        QVERIFY(saveOffered(*w));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box(*w)));
        QCOMPARE(w->state().selectedFilePath, listOf(*w)->folderPath() + "/art.zip");
    }

    // Sibling folders "Docs" and "docs", each with its own game.zip: the
    // folder the settings name is the one Get diz reads and Save diz
    // writes; its twin's archive is never touched.
    void caseTwinFolderIsTheOneActedOn_data() { test::addCaseTwinRows(); }
    void caseTwinFolderIsTheOneActedOn()
    {
        QFETCH(QString, twin);
        QFETCH(QString, other);
        QTemporaryDir dir;
        const QString picked = dir.path() + "/" + twin;
        const QString twinArchive = dir.path() + "/" + other + "/game.zip";
        QVERIFY(test::makeZip(picked + "/game.zip", {{kDiz, twin.toUtf8() + "\r\n"}}));
        QVERIFY(test::makeZip(twinArchive, {{kDiz, other.toUtf8() + "\r\n"}}));
        const QByteArray twinBefore = test::readBytes(twinArchive);
        auto w = windowOn(picked);
        QVERIFY(w);
        QCOMPARE(listOf(*w)->folderPath(), picked);
        QVERIFY(readFirst(*w, 0));
        QCOMPARE(box(*w)->toPlainText(), twin + "\n");
        QCOMPARE(w->state().selectedFilePath, picked + "/game.zip");
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");
        QCOMPARE(storedDiz(picked + "/game.zip"), QByteArray("NEW\r\n"));
        QCOMPARE(test::readBytes(twinArchive), twinBefore);
    }

    // An archive of PKZIP 1.x: its imploded description is shown, and Save
    // diz replaces it, keeping the shrunk and reduced members as they were.
    void pkzip1ArchiveIsReadAndSaved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("old.zip");
        const QByteArray game = test::dosDescription(5000), readme = test::dosDescription(900);
        QVERIFY(test::makeOldZip(path, {{"GAME.EXE", game, 1},
                                        {"FILE_ID.DIZ", "\xC9\xCD\xBB\r\nOLD\r\n", 6, 6},
                                        {"README.TXT", readme, 3}}));
        const QByteArray before = test::readBytes(path);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        QVERIFY(readFirst(*w, 0));
        QCOMPARE(box(*w)->toPlainText(), QString::fromUtf8("╔═╗\nOLD\n"));
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");
        QCOMPARE(storedDiz(path), QByteArray("NEW\r\n"));
        diz::ZipComponent zip;
        QByteArray out;
        QCOMPARE(zip.ReadMember(path, "GAME.EXE", out), diz::ZipStatus::Success);
        QCOMPARE(out, game);
        QCOMPARE(zip.ReadMember(path, "README.TXT", out), diz::ZipStatus::Success);
        QCOMPARE(out, readme);
        // The shrunk member, first in the archive, kept its very bytes.
        const qsizetype diz = before.indexOf("FILE_ID.DIZ") - 30; // its local header
        QVERIFY(diz > 0);
        QCOMPARE(test::readBytes(path).left(diz), before.left(diz));
    }

    void nonZipEntryWithdrawsSaveDiz()
    {
        QTemporaryDir dir;
        QVERIFY(test::makeZip(dir.filePath("a.zip"), {{kDiz, "old\r\n"}}));
        QVERIFY(test::writeBytes(dir.filePath("readme.txt"), "PK not really"));
        auto w = windowOn(dir.path());
        QVERIFY(w);
        clickRows(*listOf(*w), {0});
        getDiz(*w, "button");
        QVERIFY(saveOffered(*w));
        QSignalSpy extracted(control<diz::ZipComponent>(*w, "XceedZip1"),
                             &diz::ZipComponent::Status);
        clickRows(*listOf(*w), {1});
        getDiz(*w, "button");
        QVERIFY(box(*w)->toPlainText().isEmpty());
        QVERIFY(saveWithdrawn(*w));
        QCOMPARE(extracted.count(), 0);
    }

    void crcErrorIsShownInTheBox()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.zip");
        const QByteArray text("A description that gets damaged.\r\n");
        QVERIFY(test::makeZip(path, {{kDiz, text, true}}));
        QByteArray bytes = test::readBytes(path);
        const qsizetype at = bytes.indexOf(text);
        QVERIFY(at > 0);
        bytes[at + 3] = 'X'; // the stored data no longer matches its CRC
        QVERIFY(test::writeBytes(path, bytes));
        QVERIFY(test::makeZip(dir.filePath("good.zip"), {{kDiz, "fine\r\n"}}));
        qint16 status = 0;
        storedDiz(path, &status);
        QVERIFY(status > 100 && status != 140 && status != 190);

        auto w = windowOn(dir.path());
        QVERIFY(w);
        clickRows(*listOf(*w), {1}); // good.zip first, so that Save diz is offered
        getDiz(*w, "button");
        QVERIFY(saveOffered(*w));
        clickRows(*listOf(*w), {0});
        getDiz(*w, "button");
        QCOMPARE(box(*w)->toPlainText(), kCrc + " " + QString::number(status));
        QVERIFY(saveWithdrawn(*w));
    }

    void noDescriptionMemberKeepsSaveDizAsItWas_data()
    {
        QTest::addColumn<bool>("offeredBefore");
        QTest::newRow("offered before") << true;
        QTest::newRow("withdrawn before") << false;
    }
    void noDescriptionMemberKeepsSaveDizAsItWas()
    {
        QFETCH(bool, offeredBefore);
        QTemporaryDir dir;
        QVERIFY(test::makeZip(dir.filePath("a.zip"), {{kDiz, "has one\r\n"}}));
        QVERIFY(test::makeZip(dir.filePath("b.zip"), {{"readme.txt", "no diz here"}}));
        auto w = windowOn(dir.path());
        QVERIFY(w);
        if (offeredBefore) {
            clickRows(*listOf(*w), {0});
            getDiz(*w, "button");
            QVERIFY(saveOffered(*w));
        }
        clickRows(*listOf(*w), {1});
        listOf(*w)->setFocus();
        getDiz(*w, "button");
        QVERIFY(box(*w)->toPlainText().isEmpty());
        QCOMPARE(saveOffered(*w), offeredBefore);
        QCOMPARE(saveWithdrawn(*w), !offeredBefore);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box(*w)));
    }

    void lastSelectedEntryInListOrderIsRead_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("how");
        QTest::newRow("2 then 5, button") << QList<int>{2, 5} << "button";
        QTest::newRow("5 then 2, button") << QList<int>{5, 2} << "button";
        QTest::newRow("2 then 5, menu") << QList<int>{2, 5} << "menu";
    }
    void lastSelectedEntryInListOrderIsRead()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QString, how);
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        clickRows(*listOf(*w), clicks);
        QCOMPARE(listOf(*w)->selectedRows(), QList<int>({2, 5}));
        getDiz(*w, how);
        QCOMPARE(box(*w)->toPlainText(), QString("diz of 5\n"));
    }

    void doubleClickReadsTheEntryClicked()
    {
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        ArchivePane& list = *listOf(*w);
        doubleClickRow(list, 3);
        QCOMPARE(list.selectedRows(), QList<int>({3}));
        QCOMPARE(box(*w)->toPlainText(), QString("diz of 3\n"));
        QVERIFY(saveOffered(*w));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box(*w)));
    }

    // ------------------------------------------------------------ Save diz

    void unchangedRoundTripAddsOneLineEnd_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("how");
        const QByteArray art("\xC9\xCD\xBB\r\n\x01 \x7F\xFF\r\n\xB0\xB1\xB2\r\n", 16);
        QTest::newRow("glyphs, Save &diz") << art << "button";
        QTest::newRow("glyphs, &Save diz...") << art << "menu";
        QTest::newRow("no end on the last line") << QByteArray("one\r\ntwo") << "button";
        QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\r\n") << "button";
        QTest::newRow("a lone LF inside a line") << QByteArray("a\nb\r\n") << "button";
    }
    void unchangedRoundTripAddsOneLineEnd()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.zip");
        QVERIFY(test::makeZip(path, {{kDiz, stored}, {"data.bin", QByteArray(500, 'z')}}));
        auto w = windowOn(dir.path());
        QVERIFY(w);
        clickRows(*listOf(*w), {0});
        getDiz(*w, "button");
        QVERIFY(saveOffered(*w));
        saveDiz(*w, how);
        QByteArray expected = stored;
        if (!expected.endsWith("\r\n"))
            expected += "\r\n"; // the read ends every line
        expected += "\r\n";     // and the save adds one more
        qint16 status = -1;
        QCOMPARE(storedDiz(path, &status), expected);
        QCOMPARE(status, diz::statusCode(diz::ZipStatus::Success));
        QCOMPARE(test::readBytes(platform::tempDizPath()), expected);
        QCOMPARE(button(*w, "Command1")->text(), kIdle);
    }

    void threeArchivesInOrderEachHighlightedAlone()
    {
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        ArchivePane& list = *listOf(*w);
        QByteArray before[8];
        for (int i = 0; i < 8; ++i)
            before[i] = test::readBytes(dir.filePath(QString("a%1.zip").arg(i)));

        auto* zip = control<diz::ZipComponent>(*w, "XceedZip1");
        QStringList order;
        QList<QList<int>> highlighted;
        connect(zip, &diz::ZipComponent::Adding, this, [&] {
            const QString name = platform::lastComponent(zip->archivePath());
            if (!order.isEmpty() && order.last() == name)
                return;
            order << name;
            highlighted << list.selectedRows();
        });
        QVERIFY(readFirst(*w, 0));
        clickRows(list, {1, 4, 7});
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");

        QCOMPARE(order, QStringList({"a1.zip", "a4.zip", "a7.zip"}));
        QCOMPARE(highlighted, QList<QList<int>>({{1}, {4}, {7}}));
        QCOMPARE(list.selectedRows(), QList<int>({7}));
        for (int i = 0; i < 8; ++i) {
            const QString path = dir.filePath(QString("a%1.zip").arg(i));
            if (i == 1 || i == 4 || i == 7) {
                QCOMPARE(storedDiz(path), QByteArray("NEW\r\n"));
            } else {
                QCOMPARE(test::readBytes(path), before[i]);
            }
        }
        QCOMPARE(box(*w)->toPlainText(), QString("NEW"));
    }

    void nonZipInTheSelectionIsReportedAndUntouched()
    {
        QTemporaryDir dir;
        QVERIFY(test::makeZip(dir.filePath("a.zip"), {{kDiz, "a\r\n"}}));
        const QByteArray lzh("-lh5- an LZH archive, not a ZIP one");
        QVERIFY(test::writeBytes(dir.filePath("b.lzh"), lzh));
        QVERIFY(test::makeZip(dir.filePath("c.zip"), {{kDiz, "c\r\n"}}));

        // What the zip component says to such a file, asked directly.
        QTemporaryDir side;
        QVERIFY(test::writeBytes(side.filePath("b.lzh"), lzh));
        QVERIFY(test::writeBytes(side.filePath(kDiz), "x\r\n"));
        diz::ZipComponent probe;
        probe.setMemberMask(side.filePath(kDiz) + "\r");
        probe.setArchivePath(side.filePath("b.lzh"));
        const qint16 status = diz::statusCode(probe.UpdateMembers(0));
        QVERIFY(status != 0);

        auto w = windowOn(dir.path());
        QVERIFY(w);
        QVERIFY(readFirst(*w, 0));
        clickRows(*listOf(*w), {0, 1, 2});
        box(*w)->setPlainText("shared text");
        saveDiz(*w, "button");
        const QString sign = status > 0 ? " " : "";
        QCOMPARE(box(*w)->toPlainText(), kError + sign + QString::number(status));
        QCOMPARE(test::readBytes(dir.filePath("b.lzh")), lzh);
        // The temporary file, not the box, is what the later archive gets.
        QCOMPARE(storedDiz(dir.filePath("a.zip")), QByteArray("shared text\r\n"));
        QCOMPARE(storedDiz(dir.filePath("c.zip")), QByteArray("shared text\r\n"));
        QCOMPARE(listOf(*w)->selectedRows(), QList<int>({2}));
        QCOMPARE(button(*w, "Command1")->text(), kIdle);
    }

    void abortStopsTheRun_data()
    {
        QTest::addColumn<bool>("duringUpdate");
        QTest::newRow("during the second update") << true;
        QTest::newRow("between the first and second") << false;
    }
    void abortStopsTheRun()
    {
        QFETCH(bool, duringUpdate);
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        QByteArray before[8];
        for (int i = 0; i < 8; ++i)
            before[i] = test::readBytes(dir.filePath(QString("a%1.zip").arg(i)));
        auto* zip = control<diz::ZipComponent>(*w, "XceedZip1");
        QPushButton* command1 = button(*w, "Command1");
        QString captionAtPress, captionAfterPress;
        bool pressed = false;
        bool queued = false;
        int asked = 0;
        setMessageHook([&](const MessageRequest&) {
            ++asked;
            return QMessageBox::Cancel;
        });
        auto press = [&] {
            if (pressed)
                return;
            pressed = true;
            captionAtPress = command1->text();
            QTest::mouseClick(command1, Qt::LeftButton);
            captionAfterPress = command1->text();
            // The run's loop has not returned yet: nothing new starts.
            item(*w, "delete")->trigger();
        };
        connect(zip, &diz::ZipComponent::Adding, this, [&] {
            if (pressed || queued)
                return;
            const QString name = platform::lastComponent(zip->archivePath());
            if (duringUpdate && name == "a2.zip") {
                press();
            } else if (!duringUpdate && name == "a1.zip") {
                queued = true; // runs when the window next serves its events
                QMetaObject::invokeMethod(command1, press, Qt::QueuedConnection);
            }
        });
        QVERIFY(readFirst(*w, 0));
        clickRows(*listOf(*w), {1, 2, 3, 4, 5});
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");

        QVERIFY(pressed);
        QCOMPARE(captionAtPress, kAbort);
        QCOMPARE(captionAfterPress, kIdle); // back at once, not at the end of the run
        QCOMPARE(asked, 0);
        QCOMPARE(command1->text(), kIdle);
        QVERIFY(!w->property("KeepRunning").toBool());
        QCOMPARE(storedDiz(dir.filePath("a1.zip")), QByteArray("NEW\r\n"));
        const QByteArray second = test::readBytes(dir.filePath("a2.zip"));
        if (duringUpdate) {
            // Asked to stop mid-way: whole either way, never damaged.
            QVERIFY(second == before[2] || storedDiz(dir.filePath("a2.zip")) == "NEW\r\n");
        } else {
            QCOMPARE(second, before[2]);
        }
        for (int i = 3; i < 6; ++i)
            QCOMPARE(test::readBytes(dir.filePath(QString("a%1.zip").arg(i))), before[i]);

        // A later run works normally (AbortRequest is never set back).
        clickRows(*listOf(*w), {5});
        const QByteArray boxBytes = box(*w)->toPlainText().toLatin1() + "\r\n";
        saveDiz(*w, "button");
        QCOMPARE(storedDiz(dir.filePath("a5.zip")), boxBytes);
    }

    void readOnlyDriveRefusesTheRun_data()
    {
        QTest::addColumn<qint64>("freeSpace");
        QTest::addColumn<bool>("refused");
        QTest::newRow("999") << qint64(999) << true;
        QTest::newRow("1000") << qint64(1000) << false;
        QTest::newRow("0") << qint64(0) << true;
    }
    void readOnlyDriveRefusesTheRun()
    {
        QFETCH(qint64, freeSpace);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        QStringList asked;
        platform::DiskInfo::setFreeSpaceOverride([&](const QString& path) {
            asked << path;
            return freeSpace;
        });
        const QByteArray before = test::readBytes(dir.filePath("a3.zip"));
        QVERIFY(readFirst(*w, 0));
        clickRows(*listOf(*w), {3});
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");
        QCOMPARE(asked, QStringList({w->state().selectedFilePath}));
        QCOMPARE(w->state().list.readOnlyDrive, refused);
        if (refused) {
            QCOMPARE(box(*w)->toPlainText(), QString("Read only drive"));
            QCOMPARE(test::readBytes(dir.filePath("a3.zip")), before);
        } else {
            QCOMPARE(box(*w)->toPlainText(), QString("NEW"));
            QCOMPARE(storedDiz(dir.filePath("a3.zip")), QByteArray("NEW\r\n"));
        }
        QCOMPARE(button(*w, "Command1")->text(), kIdle);
        for (const char* name : {"Command2", "Command3", "Command4", "Command5"})
            QVERIFY2(button(*w, name)->isEnabled(), name);
        QVERIFY(listOf(*w)->isEnabled());
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    }

    void emptyBoxDoesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Save &diz") << "button";
        QTest::newRow("&Save diz...") << "menu";
    }
    void emptyBoxDoesNothing()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        // An empty description offers Save diz with an empty box.
        QVERIFY(test::makeZip(dir.filePath("a.zip"), {{kDiz, QByteArray()}}));
        auto w = windowOn(dir.path());
        QVERIFY(w);
        clickRows(*listOf(*w), {0});
        getDiz(*w, "button");
        QVERIFY(box(*w)->toPlainText().isEmpty());
        QVERIFY(saveOffered(*w));
        QFile::remove(platform::tempDizPath());
        const QByteArray before = test::readBytes(dir.filePath("a.zip"));
        auto* zip = control<diz::ZipComponent>(*w, "XceedZip1");
        bool everRunning = false;
        connect(zip, &diz::ZipComponent::Adding, this, [&] { everRunning = true; });
        saveDiz(*w, how);
        QVERIFY(!everRunning);
        QVERIFY(!QFile::exists(platform::tempDizPath()));
        QCOMPARE(test::readBytes(dir.filePath("a.zip")), before);
        QCOMPARE(button(*w, "Command1")->text(), kIdle);
        QVERIFY(!w->property("KeepRunning").toBool());
    }

    void runningStateAndItsRestoration()
    {
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        auto* zip = control<diz::ZipComponent>(*w, "XceedZip1");
        const char* others[] = {"Command2", "Command3", "Command4", "Command5"};
        int updates = 0;
        QStringList wrong;
        connect(zip, &diz::ZipComponent::Adding, this, [&] {
            ++updates;
            for (const char* name : others)
                if (button(*w, name)->isEnabled())
                    wrong << QString("%1 enabled").arg(name);
            if (listOf(*w)->isEnabled())
                wrong << "File1 enabled";
            if (!button(*w, "Command1")->isEnabled())
                wrong << "Command1 disabled";
            if (button(*w, "Command1")->text() != kAbort)
                wrong << "caption " + button(*w, "Command1")->text();
            if (w->cursor().shape() != Qt::WaitCursor)
                wrong << "no busy pointer";
            if (!w->state().run.keepRunning)
                wrong << "KeepRunning false";
        });
        QVERIFY(readFirst(*w, 1));
        clickRows(*listOf(*w), {0, 6});
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");
        QVERIFY(updates > 0);
        QCOMPARE(wrong, QStringList());
        for (const char* name : others)
            QVERIFY2(button(*w, name)->isEnabled(), name);
        QVERIFY(listOf(*w)->isEnabled());
        QVERIFY(saveOffered(*w));
        QCOMPARE(button(*w, "Command1")->text(), kIdle);
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!w->property("KeepRunning").toBool());
        QCOMPARE(w->findChild<QWidget*>("PVProgressBar1")->property("value").toInt(), 0);
    }

    // A selected archive that vanished ends the run, even where a sibling
    // differs from it only in letter case: that one is not what was chosen.
    void vanishedArchiveIsNotMatchedToACaseTwin()
    {
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        QVERIFY(readFirst(*w, 0));
        clickRows(*listOf(*w), {1, 2});
        const QString chosen = dir.filePath("a1.zip");
        const QString twin = dir.filePath("A1.ZIP");
        QVERIFY(QFile::rename(chosen, twin));
        const QByteArray twinBytes = test::readBytes(twin);
        const QByteArray nextBytes = test::readBytes(dir.filePath("a2.zip"));
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "button");
        QCOMPARE(test::readBytes(twin), twinBytes);
        QVERIFY(!QFileInfo::exists(chosen));
        QCOMPARE(test::readBytes(dir.filePath("a2.zip")), nextBytes);
        QCOMPARE(button(*w, "Command1")->text(), kIdle);
    }

    // The window serves its events between archives; the menu commands that
    // would change the pane, the temporary file or start another run wait.
    void menuCommandsWaitForTheRun()
    {
        QTemporaryDir dir;
        eightArchives(dir);
        auto w = windowOn(dir.path());
        QVERIFY(w);
        auto* zip = control<diz::ZipComponent>(*w, "XceedZip1");
        int boxes = 0;
        setMessageHook([&](const MessageRequest&) {
            ++boxes;
            return QMessageBox::Ok; // a Delete confirmed, were it asked
        });
        int dialogs = 0;
        QString archiveDuring;
        bool triggered = false;
        connect(zip, &diz::ZipComponent::Adding, this, [&] {
            if (triggered)
                return;
            triggered = true;
            archiveDuring = platform::lastComponent(zip->archivePath());
            // A modal dialog that opened all the same is closed again.
            QTimer closer;
            connect(&closer, &QTimer::timeout, this, [&] {
                if (QWidget* modal = QApplication::activeModalWidget()) {
                    ++dialogs;
                    modal->close();
                }
            });
            closer.start(50);
            for (const char* name : {"gdiz", "refresh", "delete", "mlist", "directory", "save"})
                item(*w, name)->trigger();
        });
        QVERIFY(readFirst(*w, 0));
        clickRows(*listOf(*w), {1, 2, 3});
        box(*w)->setPlainText("NEW");
        saveDiz(*w, "menu");

        QVERIFY(triggered);
        QCOMPARE(archiveDuring, QString("a1.zip"));
        QCOMPARE(boxes, 0);
        QCOMPARE(dialogs, 0);
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(storedDiz(dir.filePath(QString("a%1.zip").arg(i))), QByteArray("NEW\r\n"));
        for (int i : {0, 4, 5, 6, 7})
            QVERIFY(QFileInfo::exists(dir.filePath(QString("a%1.zip").arg(i))));
        QCOMPARE(box(*w)->toPlainText(), QString("NEW"));
        QCOMPARE(button(*w, "Command4")->text(), QString("&Make list"));
        QVERIFY(!QFileInfo::exists(dir.filePath("Vexlo.txt")));

        // Once the run is over the same commands work again.
        item(*w, "delete")->trigger();
        QCOMPARE(boxes, 1);
    }

    // ------------------------------------------------------------ the box's filter

    void characterOutsideTheDosSetIsRefused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("typed") << "typed" << int(Qt::NoModifier);
        QTest::newRow("key event") << "event" << int(Qt::NoModifier);
        QTest::newRow("AltGr as Ctrl+Alt") << "event" << int(Qt::ControlModifier | Qt::AltModifier);
        QTest::newRow("Alt (Option) key") << "event" << int(Qt::AltModifier);
        QTest::newRow("input method") << "im" << int(Qt::NoModifier);
    }
    void characterOutsideTheDosSetIsRefused()
    {
        QFETCH(QString, how);
        QFETCH(int, modifiers);
        QTemporaryDir dir;
        auto w = windowOn(dir.path());
        QVERIFY(w);
        DescriptionBox* text = box(*w);
        text->setFocus();
        const QString before = "ab\ncd\nef\ng"; // the character goes in at line 4, column 2
        text->setPlainText(before);
        text->moveCursor(QTextCursor::End);
        QSignalSpy notices(text, &DescriptionBox::noticeShown);
        const QString euro = QString::fromUtf8("€");
        if (how == "typed") {
            QTest::sendKeyEvent(QTest::Click, text, Qt::Key_unknown, euro, Qt::NoModifier);
        } else if (how == "event") {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_E, Qt::KeyboardModifiers(modifiers), euro);
            QApplication::sendEvent(text, &press);
        } else {
            QInputMethodEvent event;
            event.setCommitString(euro);
            QApplication::sendEvent(text, &event);
        }
        QCOMPARE(text->toPlainText(), before);
        QCOMPARE(notices.count(), 1);
        const QString notice = notices.at(0).at(0).toString();
        QVERIFY2(notice.contains(euro) && notice.contains("line 4, column 2"), qPrintable(notice));
        // A DOS character the same ways is taken.
        const QString e = QString::fromUtf8("é");
        if (how == "im") {
            QInputMethodEvent event;
            event.setCommitString(e);
            QApplication::sendEvent(text, &event);
        } else {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_E, Qt::KeyboardModifiers(modifiers), e);
            QApplication::sendEvent(text, &press);
        }
        QCOMPARE(notices.count(), 1);
        if (modifiers == Qt::NoModifier || how == "im")
            QCOMPARE(text->toPlainText(), before + e);
    }

    void pasteIsAllOrNothing_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("place"); // of the refused character in the box; empty: taken
        QTest::newRow("DOS text") << QString::fromUtf8("╔═╗ é ☺") << "";
        QTest::newRow("two lines") << QString::fromUtf8("░▒▓\n│x│") << "";
        QTest::newRow("one euro sign") << QString::fromUtf8("╔═╗ € ☺") << "line 2, column 6";
        QTest::newRow("emoji") << QString::fromUtf8("ok 😀") << "line 2, column 5";
        QTest::newRow("on its second line") << QString::fromUtf8("ab\nc€") << "line 3, column 2";
    }
    void pasteIsAllOrNothing()
    {
        QFETCH(QString, clip);
        QFETCH(QString, place);
        const bool taken = place.isEmpty();
        QTemporaryDir dir;
        auto w = windowOn(dir.path());
        QVERIFY(w);
        DescriptionBox* text = box(*w);
        text->setFocus();
        QTest::keyClicks(text, "x");
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClicks(text, "[]");
        QTest::keyClick(text, Qt::Key_Left);
        QApplication::clipboard()->setText(clip);
        QCOMPARE(QApplication::clipboard()->text(), clip);
        QSignalSpy notices(text, &DescriptionBox::noticeShown);
        QTest::keySequence(text, QKeySequence::Paste);
        QCOMPARE(text->toPlainText(), taken ? "x\n[" + clip + "]" : QString("x\n[]"));
        QCOMPARE(notices.count(), taken ? 0 : 1);
        if (!taken)
            QVERIFY2(notices.at(0).at(0).toString().contains(place),
                     qPrintable(notices.at(0).at(0).toString()));
    }

    void enterAndBackspaceStillEdit()
    {
        QTemporaryDir dir;
        auto w = windowOn(dir.path());
        QVERIFY(w);
        DescriptionBox* text = box(*w);
        text->setFocus();
        QSignalSpy notices(text, &DescriptionBox::noticeShown);
        QTest::keyClicks(text, "abx");
        QTest::keyClick(text, Qt::Key_Backspace);
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClicks(text, "c");
        QTest::keyClick(text, Qt::Key_Enter);
        QTest::keyClick(text, Qt::Key_Left);
        QTest::keyClick(text, Qt::Key_Delete);
        QCOMPARE(text->toPlainText(), QString("ab\nc"));
        QCOMPARE(notices.count(), 0);
    }
};

QTEST_MAIN(TestWindowDiz)
#include "test_window_diz.moc"
