// SPDX-License-Identifier: MIT
// The window's Make list, list destination and View list, driven through the
// controls as a user would.
#include "diz/ZipComponent.h"
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "platform/DiskInfo.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace vexlo;

namespace {

template <class T> T* control(QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

class FakeLauncher final : public platform::Launcher {
public:
    bool openFile(const QString& path) override
    {
        files << path;
        return succeed;
    }
    bool openUrl(const QString& url) override
    {
        urls << url;
        return succeed;
    }
    QStringList files, urls;
    bool succeed = true;
};

// Runs fn on every pass of the event loop until it returns true.
void whenever(std::function<bool()> fn)
{
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fn] {
        if (fn())
            timer->deleteLater();
    });
    timer->start();
}

QByteArray bytes(const char* text)
{
    return QByteArray(text);
}

} // namespace

class TestWindowList : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_program;
    FakeLauncher m_launcher;

    // A small tree: top with a zip and a text file, two sub-folders.
    void makeTree(const QString& top)
    {
        QVERIFY(
            test::makeZip(top + "/game.zip", {{"FILE_ID.DIZ", bytes("   GREAT GAME\r\nline 2\r\n")},
                                              {"game.exe", QByteArray(500, 'x')}}));
        QVERIFY(test::writeBytes(top + "/readme.txt", "hello"));
        QVERIFY(test::makeZip(top + "/sub/a.zip", {{"file_id.diz", bytes("first\r\n")}}));
        QVERIFY(test::writeBytes(top + "/sub/b.txt", "b"));
        QVERIFY(test::writeBytes(top + "/sub/c.txt", "c"));
        QVERIFY(test::writeBytes(top + "/sub/d.txt", "d"));
        QVERIFY(test::writeBytes(top + "/.cache/x.txt", "hidden"));
    }

    std::unique_ptr<Form1> windowOn(const QString& folder)
    {
        if (!test::writeBytes(m_program.filePath("Vexlo32.ini"), folder.toUtf8() + "\r\n"))
            return nullptr;
        auto window = std::make_unique<Form1>();
        if (!window->startUp())
            return nullptr;
        return window;
    }

private slots:
    void initTestCase()
    {
        platform::setUserFoldersOverride(m_program.path());
        platform::setLauncher(&m_launcher);
    }
    void cleanupTestCase()
    {
        platform::setUserFoldersOverride(QString());
        platform::setLauncher(nullptr);
    }
    void init()
    {
        m_launcher = FakeLauncher();
        setMessageHook({});
        platform::DiskInfo::setFreeSpaceOverride({});
    }

    void makeListWritesWhatTheCommandLineWrites()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        control<QAction>(*window, "longfile")->trigger();
        control<QAction>(*window, "multi")->trigger();
        control<QPushButton>(*window, "Command4")->click();
        const QByteArray fromWindow = test::readBytes(dir.path() + "/Vexlo.txt");
        QVERIFY(fromWindow.startsWith("\r\n" + platform::lowerPath(dir.path()).toUtf8() + "\r\n"));
        QVERIFY(fromWindow.contains("GAME.ZIP"));
        QVERIFY(!fromWindow.contains(".cache"));

        const QString cliOut = dir.path() + "/../cli-" + QFileInfo(dir.path()).fileName() + ".txt";
        const test::RunResult run = test::runProgram(
            {"--make-list", dir.path(), "--output", cliOut, "--long", "--multi-line"});
        QCOMPARE(run.exitCode, 0);
        // The window's own list file is in the tree, but a file of that name
        // is never listed, so both lists hold the same entries.
        QByteArray cli = test::readBytes(cliOut);
        QFile::remove(cliOut);
        QCOMPARE(cli, fromWindow);
    }

    void runStateAndClosingSteps()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        control<DescriptionBox>(*window, "Text1")->setPlainText("old text");
        const QString start = control<StatusPanel>(*window, "SSPanel2")->caption();

        bool sawRunning = false;
        QStringList enabledDuringRun;
        QString captionDuringRun, titleDuringRun, textDuringRun;
        bool sdizDuringRun = true, fileMenuDuringRun = true, abortEnabled = false;
        whenever([&] {
            if (!window->state().run.keepRunning)
                return false;
            sawRunning = true;
            captionDuringRun = control<QPushButton>(*window, "Command4")->text();
            for (const char* name :
                 {"Command1", "Command2", "Command3", "Command5", "Command6", "Text1"})
                if (control<QWidget>(*window, name)->isEnabled())
                    enabledDuringRun << name;
            textDuringRun = control<DescriptionBox>(*window, "Text1")->toPlainText();
            sdizDuringRun = control<QAction>(*window, "sdiz")->isEnabled();
            fileMenuDuringRun = control<QMenu>(*window, "file")->menuAction()->isEnabled();
            abortEnabled = control<QPushButton>(*window, "Command4")->isEnabled();
            titleDuringRun = window->windowTitle();
            return true;
        });
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(sawRunning);
        QCOMPARE(captionDuringRun, QString("&Abort"));
        QCOMPARE(enabledDuringRun, QStringList());
        QVERIFY(textDuringRun.isEmpty());
        QVERIFY(!sdizDuringRun);
        QVERIFY(!fileMenuDuringRun);
        QVERIFY(abortEnabled);
        QVERIFY(titleDuringRun.startsWith(platform::lowerPath(dir.path())));
        QCOMPARE(window->windowTitle(), QString("Vexlo32"));
        QCOMPARE(control<QPushButton>(*window, "Command4")->text(), QString("&Make list"));
        QCOMPARE(control<StatusPanel>(*window, "SSPanel2")->caption(), start);
        QCOMPARE(control<FolderHolder>(*window, "Dir1")->path(), dir.path());
        QCOMPARE(control<ArchivePane>(*window, "File1")->folderPath(), dir.path());
        QVERIFY(control<DescriptionBox>(*window, "Text1")->toPlainText().isEmpty());
        QVERIFY(control<DescriptionBox>(*window, "Text1")->isEnabled());
        QVERIFY(control<QPushButton>(*window, "Command1")->isEnabled());
        QVERIFY(control<QAction>(*window, "sdiz")->isEnabled());
        QVERIFY(control<QMenu>(*window, "file")->menuAction()->isEnabled());
        QVERIFY(!window->property("KeepRunning").toBool());
        QVERIFY(!window->state().run.listAborted);
    }

    void abortAtTheThirdFileKeepsWhatWasWritten()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path() + "/sub");
        QVERIFY(window);
        control<QAction>(*window, "longfile")->trigger();
        // Press Abort while the builder yields for the third file; a second
        // press before the run has returned starts no run inside it.
        whenever([&] {
            if (!window->state().run.keepRunning ||
                !control<ArchivePane>(*window, "File1")->isSelected(2))
                return false;
            QTest::mouseClick(control<QPushButton>(*window, "Command4"), Qt::LeftButton);
            QTest::mouseClick(control<QPushButton>(*window, "Command4"), Qt::LeftButton);
            return true;
        });
        control<QPushButton>(*window, "Command4")->click();
        const QByteArray list = test::readBytes(dir.path() + "/sub/Vexlo.txt");
        QVERIFY(list.contains("A.ZIP"));
        QVERIFY(list.contains("B.TXT"));
        QVERIFY(!list.contains("D.TXT"));
        QVERIFY(list.endsWith("\r\n"));
        QVERIFY(window->state().run.listAborted);
        QCOMPARE(control<QPushButton>(*window, "Command4")->text(), QString("&Make list"));
        QCOMPARE(window->windowTitle(), QString("Vexlo32"));

        // The next run starts afresh and replaces the list.
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(test::readBytes(dir.path() + "/sub/Vexlo.txt").contains("D.TXT"));
        QVERIFY(!window->state().run.listAborted);
    }

    void missingFolderClearsThePanel()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("gone"));
        auto window = windowOn(dir.path() + "/gone");
        QVERIFY(window);
        QVERIFY(QDir(dir.path() + "/gone").removeRecursively());
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(control<StatusPanel>(*window, "SSPanel2")->caption().isEmpty());
        QCOMPARE(control<ArchivePane>(*window, "File1")->folderPath(), QString("/"));
        QVERIFY(!QFile::exists(dir.path() + "/gone/Vexlo.txt"));
        QCOMPARE(control<QPushButton>(*window, "Command4")->text(), QString("&Make list"));
    }

    void emptyListPanelChangesNothing()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        control<StatusPanel>(*window, "SSPanel1")->setCaption(QString());
        control<QPushButton>(*window, "Command4")->click();
        QCOMPARE(control<QPushButton>(*window, "Command4")->text(), QString("&Make list"));
        QVERIFY(control<QPushButton>(*window, "Command2")->isEnabled());
        QVERIFY(!QFile::exists(dir.path() + "/Vexlo.txt"));
    }

    void unwritableListFileIsReported()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        control<StatusPanel>(*window, "SSPanel1")
            ->setCaption(dir.path() + "/no/such/folder/list.txt");
        QList<MessageRequest> shown;
        setMessageHook([&](const MessageRequest& r) {
            shown << r;
            return QMessageBox::Ok;
        });
        control<QPushButton>(*window, "Command4")->click();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains("list.txt"));
        QCOMPARE(control<QPushButton>(*window, "Command4")->text(), QString("&Make list"));
        QVERIFY(control<QPushButton>(*window, "Command2")->isEnabled());
        QVERIFY(!window->property("KeepRunning").toBool());
    }

    void readOnlyDriveIsJudgedOnEveryPress()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        platform::DiskInfo::setFreeSpaceOverride([](const QString&) { return qint64(999); });
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(window->state().list.readOnlyDrive);
        platform::DiskInfo::setFreeSpaceOverride([](const QString&) { return qint64(1000); });
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(!window->state().list.readOnlyDrive);
    }

    void closingTheWindowEndsTheRunCleanly()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        window->show();
        whenever([&] {
            if (!window->state().run.keepRunning || !window->windowTitle().contains("/sub"))
                return false;
            window->close();
            return true;
        });
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(window->zip().abortRequest());
        const QByteArray list = test::readBytes(dir.path() + "/Vexlo.txt");
        QVERIFY(list.endsWith("\r\n"));
        // The settings keep the folder the run started from, not the sub-folder.
        QCOMPARE(test::readBytes(m_program.filePath("Vexlo32.ini")),
                 dir.path().toUtf8() + "\r\nAllKinds=0\r\n");
    }

    // A folder a second start hands over during a run waits for its end and
    // is opened then (the latest of several); the run keeps its folder.
    void folderHandedOverDuringARunOpensAfterIt_data()
    {
        QTest::addColumn<QStringList>("handedOver");
        QTest::addColumn<bool>("abort");
        QTest::newRow("one folder") << QStringList{"First"} << false;
        QTest::newRow("the latest of two") << QStringList{"First", "Second"} << false;
        QTest::newRow("then Abort") << QStringList{"First"} << true;
    }
    void folderHandedOverDuringARunOpensAfterIt()
    {
        QFETCH(QStringList, handedOver);
        QFETCH(bool, abort);
        QTemporaryDir dir, other;
        makeTree(dir.path());
        QVERIFY(QDir(other.path()).mkpath("First") && QDir(other.path()).mkpath("Second"));
        auto window = windowOn(dir.path());
        QVERIFY(window);
        auto* pane = control<ArchivePane>(*window, "File1");
        QString paneAfterHandOver;
        whenever([&] {
            if (!window->state().run.keepRunning)
                return false;
            for (const QString& name : handedOver)
                window->openFolder(other.path() + "/" + name);
            paneAfterHandOver = pane->folderPath();
            if (abort)
                control<QPushButton>(*window, "Command4")->click();
            return true;
        });
        control<QPushButton>(*window, "Command4")->click();
        QVERIFY(paneAfterHandOver.startsWith(dir.path()));
        QCoreApplication::processEvents();
        const QString wanted = other.path() + "/" + handedOver.constLast();
        QCOMPARE(pane->folderPath(), wanted);
        QCOMPARE(control<FolderHolder>(*window, "Dir1")->path(), wanted);
        QCOMPARE(control<StatusPanel>(*window, "SSPanel2")->caption(), platform::lowerPath(wanted));
        QCOMPARE(test::readBytes(dir.path() + "/Vexlo.txt").contains("D.TXT"), !abort);
    }

    void popupIsSuppressedDuringARun()
    {
        QTemporaryDir dir;
        makeTree(dir.path());
        auto window = windowOn(dir.path());
        QVERIFY(window);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QSignalSpy spy(window.get(), &Form1::popupRequested);
        whenever([&] {
            if (!window->state().run.keepRunning)
                return false;
            QTest::mouseClick(control<StatusPanel>(*window, "SSPanel1"), Qt::RightButton, {},
                              QPoint(2, 2));
            return true;
        });
        control<QPushButton>(*window, "Command4")->click();
        QCOMPARE(spy.count(), 0);
    }

    // ------------------------------------------------ destination and viewing

    void destinationDialogIsConfiguredAndLowerCases()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("Lists"));
        auto window = windowOn(dir.path());
        QVERIFY(window);
        QString title, filter, name;
        bool confirmsOverwrite = true;
        whenever([&] {
            auto* dialog = window->findChild<QFileDialog*>("CommonDialog1");
            if (!dialog || !dialog->isVisible())
                return false;
            title = dialog->windowTitle();
            filter = dialog->nameFilters().join("|");
            confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            name = edit ? edit->text() : QString();
            dialog->selectFile(dir.path() + "/Lists/My.TXT");
            static_cast<QDialog*>(dialog)->accept();
            return true;
        });
        control<QPushButton>(*window, "Command2")->click();
        QCOMPARE(title, QString("Save file list"));
        QCOMPARE(filter, QString("*.txt (*.txt)"));
        QVERIFY(!confirmsOverwrite);
        QCOMPARE(name, QString("Vexlo.txt"));
        const QString typed = dir.path() + "/Lists/My.TXT";
        QCOMPARE(window->state().listFilePath, typed);
        QCOMPARE(control<StatusPanel>(*window, "SSPanel1")->caption(), platform::lowerPath(typed));
    }

    // The list is made in the folder and under the name typed, letter case
    // kept, also beside a folder that differs only in case; the panel shows
    // it lower-cased.
    void listFileIsMadeUnderTheNameTyped_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("twin");
        QTest::newRow("Lists") << "Lists"
                               << "lists";
        QTest::newRow("lists") << "lists"
                               << "Lists";
    }
    void listFileIsMadeUnderTheNameTyped()
    {
        QFETCH(QString, folder);
        QFETCH(QString, twin);
        QTemporaryDir dir;
        makeTree(dir.path() + "/Zips");
        QVERIFY(QDir(dir.path()).mkpath(folder));
        QVERIFY(QDir(dir.path()).mkpath(twin));
        auto window = windowOn(dir.path() + "/Zips");
        QVERIFY(window);
        const QString typed = dir.path() + "/" + folder + "/AllFiles.txt";
        whenever([&] {
            auto* dialog = window->findChild<QFileDialog*>("CommonDialog1");
            if (!dialog || !dialog->isVisible())
                return false;
            dialog->selectFile(typed);
            static_cast<QDialog*>(dialog)->accept();
            return true;
        });
        control<QPushButton>(*window, "Command2")->click();
        QCOMPARE(control<StatusPanel>(*window, "SSPanel1")->caption(), platform::lowerPath(typed));
        control<QPushButton>(*window, "Command4")->click();
        QCOMPARE(QDir(dir.path() + "/" + folder).entryList(QDir::Files),
                 QStringList({"AllFiles.txt"}));
        QVERIFY(QDir(dir.path() + "/" + twin).entryList(QDir::Files).isEmpty());
        QVERIFY(test::readBytes(typed).contains("GAME.ZIP"));

        // View list opens that file.
        control<QPushButton>(*window, "Command6")->click();
        QCOMPARE(m_launcher.files, QStringList({typed}));
    }

    void cancelKeepsTheDestination()
    {
        QTemporaryDir dir;
        auto window = windowOn(dir.path());
        QVERIFY(window);
        const QString before = control<StatusPanel>(*window, "SSPanel1")->caption();
        const QString beforeFile = window->state().listFilePath;
        whenever([&] {
            auto* dialog = window->findChild<QFileDialog*>("CommonDialog1");
            if (!dialog || !dialog->isVisible())
                return false;
            static_cast<QDialog*>(dialog)->reject();
            return true;
        });
        control<QAction>(*window, "save")->trigger(); // "&Filelist..." is the same command
        QCOMPARE(control<StatusPanel>(*window, "SSPanel1")->caption(), before);
        QCOMPARE(window->state().listFilePath, beforeFile);
    }

    void fullDriveEmptiesThePanelOnly()
    {
        QTemporaryDir dir;
        auto window = windowOn(dir.path());
        QVERIFY(window);
        for (qint64 free : {qint64(999), qint64(1000)}) {
            platform::DiskInfo::setFreeSpaceOverride([free](const QString&) { return free; });
            whenever([&] {
                auto* dialog = window->findChild<QFileDialog*>("CommonDialog1");
                if (!dialog || !dialog->isVisible())
                    return false;
                dialog->selectFile(dir.path() + "/list.txt");
                static_cast<QDialog*>(dialog)->accept();
                return true;
            });
            control<QPushButton>(*window, "Command2")->click();
            QCOMPARE(window->state().listFilePath, dir.path() + "/list.txt");
            QCOMPARE(control<StatusPanel>(*window, "SSPanel1")->caption().isEmpty(), free == 999);
        }
    }

    void viewListOpensAnExistingList()
    {
        QTemporaryDir dir;
        auto window = windowOn(dir.path());
        QVERIFY(window);
        control<QPushButton>(*window, "Command6")->click(); // no list yet: nothing
        QVERIFY(m_launcher.files.isEmpty());
        QVERIFY(test::writeBytes(dir.path() + "/Vexlo.txt", "\r\n"));
        control<QAction>(*window, "viewl")->trigger();
        QCOMPARE(m_launcher.files, QStringList({dir.path() + "/Vexlo.txt"}));
    }

    void viewListFallsBackToThePathPanel()
    {
        QTemporaryDir dir;
        auto window = windowOn(dir.path());
        QVERIFY(window);
        QVERIFY(test::writeBytes(dir.path() + "/Vexlo.txt", "\r\n"));
        window->state().listFilePath.clear();
        control<QPushButton>(*window, "Command6")->click();
        QCOMPARE(window->state().listFilePath, dir.path() + "/Vexlo.txt");
        QCOMPARE(m_launcher.files.size(), 1);
    }

    void editorThatCannotStartIsReported()
    {
        QTemporaryDir dir;
        auto window = windowOn(dir.path());
        QVERIFY(window);
        QVERIFY(test::writeBytes(dir.path() + "/Vexlo.txt", "\r\n"));
        m_launcher.succeed = false;
        QList<MessageRequest> shown;
        setMessageHook([&](const MessageRequest& r) {
            shown << r;
            return QMessageBox::Ok;
        });
        control<QPushButton>(*window, "Command6")->click();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains("Vexlo.txt"));
    }
};

QTEST_MAIN(TestWindowList)
#include "test_window_list.moc"
