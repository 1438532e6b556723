// SPDX-License-Identifier: MIT
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexlo;

namespace {

template <class T> T* control(QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

ArchivePane& paneOf(Form1& window)
{
    return *control<ArchivePane>(window, "File1");
}

} // namespace

class TestPane : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_program;

    static void touch(const QString& path) { QVERIFY(test::writeBytes(path, "data")); }

    static QStringList names(const ArchivePane& pane)
    {
        QStringList out;
        for (int i = 0; i < pane.count(); ++i)
            out << pane.name(i);
        return out;
    }

    static void select(ArchivePane& pane, const QList<int>& rows)
    {
        pane.clearSelection();
        for (int row : rows)
            pane.selectionModel()->select(pane.model()->index(row, 0), QItemSelectionModel::Select);
    }

private slots:
    void initTestCase() { platform::setUserFoldersOverride(m_program.path()); }
    void cleanupTestCase() { platform::setUserFoldersOverride(QString()); }
    void cleanup() { setMessageHook({}); }

    void paneListsVisibleFilesSortedWithoutRegardToCase()
    {
        QTemporaryDir dir;
        for (const char* n : {"b.zip", "A.ZIP", "c.txt", ".hidden.zip", "a.arj", "-dash.zip",
                              "with space.zip", "quote\"'.zip", "$(shell).zip"})
            touch(dir.filePath(n));
        QVERIFY(QDir(dir.path()).mkpath("folder.zip"));
        ArchivePane pane;
        QVERIFY(pane.setFolderPath(dir.path()));
        QCOMPARE(names(pane), QStringList({"$(shell).zip", "-dash.zip", "a.arj", "A.ZIP", "b.zip",
                                           "c.txt", "quote\"'.zip", "with space.zip"}));
        QCOMPARE(pane.folderPath(), dir.path());
    }

    // The pane reads the folder it is given, letter case and all: of two
    // twins each lists its own files, and a spelling that is on no folder
    // lists nothing rather than a folder it resembles.
    void paneReadsTheFolderAsGiven_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QStringList>("expected"); // empty: the folder cannot be read
        QTest::newRow("Docs of twins")
            << QStringList{"Docs", "docs"} << "Docs" << QStringList{"in-Docs.zip"};
        QTest::newRow("docs of twins")
            << QStringList{"Docs", "docs"} << "docs" << QStringList{"in-docs.zip"};
        QTest::newRow("lower text, only Docs") << QStringList{"Docs"} << "docs" << QStringList{};
    }
    void paneReadsTheFolderAsGiven()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, asked);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (const QString& folder : folders)
            touch(dir.filePath(folder + "/in-" + folder + ".zip"));
        ArchivePane pane;
        QCOMPARE(pane.setFolderPath(dir.filePath(asked)), !expected.isEmpty());
        QCOMPARE(names(pane), expected);
        QCOMPARE(pane.folderPath(), dir.filePath(asked));
    }

    void unreadableFolderLeavesAnEmptyPane()
    {
        ArchivePane pane;
        QVERIFY(!pane.setFolderPath("/no/such/folder"));
        QCOMPARE(pane.count(), 0);
        QCOMPARE(pane.folderPath(), QString("/no/such/folder"));
    }

    void fiftyThousandFilesListQuickly()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 50000; ++i) {
            const QByteArray name =
                QFile::encodeName(dir.path()) + "/f" + QByteArray::number(i) + ".zip";
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        ArchivePane pane;
        pane.resize(137, 123);
        pane.show();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(pane.setFolderPath(dir.path()));
        QCoreApplication::processEvents();
        // Not a benchmark: a loose bound that only a quadratic step would break.
        const qint64 took = clock.elapsed();
        QVERIFY2(took < 5000, qPrintable(QString::number(took)));
        qInfo("50,000 files listed and painted in %lld ms", took);
        QCOMPARE(pane.count(), 50000);
    }

    // The separator rule: chosenFolder decides, the pane's folder is joined.
    void clickJoinsThePath_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("paneFolder");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root pick") << "/"
                                   << "/" << QList<int>{0} << "/a.zip";
        QTest::newRow("no pick yet, root pane") << ""
                                                << "/" << QList<int>{0} << "//a.zip";
        QTest::newRow("folder pick") << "/zips"
                                     << "/zips" << QList<int>{0} << "/zips/a.zip";
        QTest::newRow("nothing selected") << "/zips"
                                          << "/zips" << QList<int>{} << "/zips/";
        QTest::newRow("nothing selected at root pick") << "/"
                                                       << "/zips" << QList<int>{} << "/zips";
        QTest::newRow("root pick, other pane folder") << "/"
                                                      << "/zips" << QList<int>{0} << "/zipsa.zip";
    }
    void clickJoinsThePath()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, paneFolder);
        QFETCH(QList<int>, rows);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        touch(dir.filePath("a.zip"));
        touch(dir.filePath("b.zip"));
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        // Give the joined text the fixture's names but the case's folder text.
        window.state().chosenFolder = chosen;
        const QString realFolder = paneOf(window).folderPath();
        // The user's selection change runs the handler (from a selection, so
        // that an empty one is a change too).
        select(paneOf(window), {0, 1});
        select(paneOf(window), rows);
        QString got = window.state().selectedFilePath;
        QVERIFY(got.startsWith(realFolder));
        got = paneFolder + got.mid(realFolder.size());
        QCOMPARE(got, expected);
    }

    void lastSelectedEntryWins()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 7; ++i)
            touch(dir.filePath(QString("f%1.zip").arg(i)));
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        window.state().chosenFolder = dir.path();
        // A user's selection change runs the click handler by itself.
        paneOf(window).selectionModel()->select(paneOf(window).model()->index(2, 0),
                                                QItemSelectionModel::Select);
        paneOf(window).selectionModel()->select(paneOf(window).model()->index(5, 0),
                                                QItemSelectionModel::Select);
        QCOMPARE(window.state().selectedFilePath, dir.path() + "/f5.zip");
    }

    // Extended selection with the mouse and the keyboard, as the user makes
    // it: a range with Shift, single entries added and removed with Ctrl.
    void mouseAndKeyboardSelection()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 8; ++i)
            touch(dir.filePath(QString("f%1.zip").arg(i)));
        Form1 window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ArchivePane& pane = paneOf(window);
        QVERIFY(pane.setFolderPath(dir.path()));
        window.state().chosenFolder = dir.path();
        auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
            const QModelIndex index = pane.model()->index(row, 0);
            pane.scrollTo(index);
            QTest::mouseClick(pane.viewport(), Qt::LeftButton, modifiers,
                              pane.visualRect(index).center());
        };
        click(1, {});
        click(4, Qt::ShiftModifier);
        QCOMPARE(pane.selectedRows(), QList<int>({1, 2, 3, 4}));
        click(6, Qt::ControlModifier);
        click(2, Qt::ControlModifier);
        QCOMPARE(pane.selectedRows(), QList<int>({1, 3, 4, 6}));
        // The last selected entry in list order, not the one clicked last.
        QCOMPARE(window.state().selectedFilePath, dir.path() + "/f6.zip");

        pane.setFocus();
        click(0, {});
        QTest::keyClick(&pane, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(&pane, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(pane.selectedRows(), QList<int>({0, 1, 2}));
        QCOMPARE(window.state().selectedFilePath, dir.path() + "/f2.zip");
        QTest::keyClick(&pane, Qt::Key_End);
        QCOMPARE(pane.selectedRows(), QList<int>({7}));
        QCOMPARE(window.state().selectedFilePath, dir.path() + "/f7.zip");
        QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(pane.selectedRows().size(), 8);
    }

    void programHighlightsDoNotCountAsClicks()
    {
        QTemporaryDir dir;
        touch(dir.filePath("a.zip"));
        ArchivePane pane;
        pane.setFolderPath(dir.path());
        QSignalSpy spy(&pane, &ArchivePane::selectionClicked);
        pane.setSelected(0, true);
        QVERIFY(pane.isSelected(0));
        pane.setSelected(0, false);
        QCOMPARE(spy.count(), 0);

        // Held during a run: the highlight moves without touching the
        // selection until the release applies where it ended; an entry the
        // user selected meanwhile stays selected.
        for (const char* name : {"b.zip", "c.zip", "d.zip"})
            touch(dir.filePath(name));
        pane.setFolderPath(dir.path());
        pane.setHeld(true);
        select(pane, {3});
        const int clicks = spy.count();
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                pane.setSelected(i - 1, false);
            pane.setSelected(i, true);
            QVERIFY(pane.isSelected(i));
            QVERIFY(i == 0 || !pane.isSelected(i - 1));
        }
        QCOMPARE(pane.selectedRows(), QList<int>{3});
        pane.setHeld(false);
        QCOMPARE(pane.selectedRows(), (QList<int>{2, 3}));
        QCOMPARE(spy.count(), clicks); // applying highlights is no click
    }

    void refreshShowsNewFilesAndEmptiesTheBox()
    {
        QTemporaryDir dir;
        touch(dir.filePath("a.zip"));
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        window.state().selectedFilePath = "/kept";
        control<DescriptionBox>(window, "Text1")->setPlainText("description");
        touch(dir.filePath("new.zip"));
        control<QAction>(window, "refresh")->trigger();
        QCOMPARE(names(paneOf(window)), QStringList({"a.zip", "new.zip"}));
        QVERIFY(control<DescriptionBox>(window, "Text1")->toPlainText().isEmpty());
        QCOMPARE(window.state().selectedFilePath, QString("/kept"));
    }

    void deleteAsksFirst()
    {
        QTemporaryDir dir;
        touch(dir.filePath("a.zip"));
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        select(paneOf(window), {0});
        MessageRequest asked;
        setMessageHook([&](const MessageRequest& r) {
            asked = r;
            return QMessageBox::Cancel;
        });
        control<QAction>(window, "delete")->trigger();
        QCOMPARE(asked.text, QString("Delete all files selected?"));
        QCOMPARE(asked.title, QString("Vexlo32"));
        QCOMPARE(asked.icon, QMessageBox::Warning);
        QCOMPARE(asked.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(asked.defaultButton, QMessageBox::Ok);
        QVERIFY(QFile::exists(dir.filePath("a.zip")));
        QVERIFY(paneOf(window).isSelected(0)); // the selection stays
    }

    void deleteWithNothingSelectedStillRereads()
    {
        QTemporaryDir dir;
        touch(dir.filePath("a.zip"));
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        touch(dir.filePath("b.zip"));
        setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        control<QAction>(window, "delete")->trigger();
        QCOMPARE(names(paneOf(window)), QStringList({"a.zip", "b.zip"}));
    }

    void deleteTakesNamesLiterallyAndPassesOverFailures()
    {
        QTemporaryDir dir;
        for (const char* n : {"*.zip", "a?.zip", "ab.zip", "ac.zip", "-rf", "read only.zip",
                              "vanished.zip", "keep.zip", "GAME.ZIP"})
            touch(dir.filePath(n));
        QFile::setPermissions(dir.filePath("read only.zip"), QFileDevice::ReadOwner);
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        // Select every entry but keep.zip.
        QList<int> rows;
        for (int i = 0; i < paneOf(window).count(); ++i)
            if (paneOf(window).name(i) != "keep.zip")
                rows << i;
        select(paneOf(window), rows);
        QVERIFY(QFile::remove(dir.filePath("vanished.zip")));
        // A sibling differing only in case must not be taken for the vanished file.
        touch(dir.filePath("VANISHED.ZIP"));
        setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        control<QAction>(window, "delete")->trigger();
        QCOMPARE(names(paneOf(window)), QStringList({"keep.zip", "VANISHED.ZIP"}));
        QCOMPARE(paneOf(window).selectedRows(), QList<int>());
    }

    // Delete moves into the Trash where the file system has one, with the
    // record the desktop needs to put the file back, on the name's own bytes;
    // a link goes as the link. A Trash that cannot take the file (a link to
    // nowhere, a folder on another drive) leaves it where it was: never
    // deleted for good, never put into the folder the program runs in.
    void deleteGoesToTheTrash_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("trashLink"); // share/Trash made a link to this
        QTest::addColumn<bool>("trashed");
        QTest::newRow("archive") << QByteArray("game.zip") << QString() << true;
        QTest::newRow("DOS name") << QByteArray("GAME\x8e.zip") << QString() << true;
        QTest::newRow("link") << QByteArray("link.zip") << QString() << true;
        QTest::newRow("Trash a link to nowhere") << QByteArray("game.zip") << "gone" << false;
        QTest::newRow("Trash on another drive") << QByteArray("game.zip") << "/dev/shm" << false;
    }
    void deleteGoesToTheTrash()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, trashLink);
        QFETCH(bool, trashed);
        QTemporaryDir dir;
        if (QStorageInfo(dir.path()).rootPath() != QStorageInfo(QDir::homePath()).rootPath())
            QSKIP("the temporary folder is not on the home file system");
        QTemporaryDir other(trashLink + "/vexlo32-trash-XXXXXX");
        if (trashLink.startsWith('/') &&
            (!other.isValid() ||
             QStorageInfo(other.path()).rootPath() == QStorageInfo(dir.path()).rootPath()))
            QSKIP("no second file system");
        QVERIFY(QDir(dir.path()).mkpath("files"));
        QVERIFY(QDir(dir.path()).mkpath("cwd"));
        if (!trashLink.isEmpty())
            QVERIFY(QDir(dir.path()).mkpath("share/deep") &&
                    QFile::link(trashLink.startsWith('/') ? other.path() : dir.filePath(trashLink),
                                dir.filePath("share/deep/Trash")));
        const QByteArray native = QFile::encodeName(dir.filePath("files")) + '/' + name;
        if (name == "link.zip") {
            touch(dir.filePath("target.zip"));
            QVERIFY(::symlink("../target.zip", native.constData()) == 0);
        } else {
            const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        const QString oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.filePath("cwd")));
        Form1 window;
        {
            const test::ScopedEnv data("XDG_DATA_HOME", dir.filePath("share/deep"));
            paneOf(window).setFolderPath(dir.filePath("files"));
            select(paneOf(window), {0});
            setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
            control<QAction>(window, "delete")->trigger();
        }
        QDir::setCurrent(oldCwd);

        QCOMPARE(paneOf(window).count(), trashed ? 0 : 1);
        QCOMPARE(QDir(dir.filePath("cwd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        if (!trashed)
            return;
        const QByteArray trash = QFile::encodeName(dir.filePath("share/deep/Trash"));
        struct stat st = {};
        QVERIFY(::lstat((trash + "/files/" + name).constData(), &st) == 0);
        QCOMPARE(S_ISLNK(st.st_mode), name == "link.zip");
        QVERIFY(QFileInfo(dir.filePath("target.zip")).exists() == (name == "link.zip"));
        QFile record;
        QVERIFY(record.open(::open((trash + "/info/" + name + ".trashinfo").constData(), O_RDONLY),
                            QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QByteArray info = record.readAll();
        QVERIFY2(info.startsWith("[Trash Info]\nPath=" + native.toPercentEncoding("/") +
                                 "\nDeletionDate="),
                 info.constData());
        // The data folder made for it is the user's alone.
        QCOMPARE(int(QFile::permissions(dir.filePath("share")) & 0x0077), 0);
    }

    void deleteAtTheRootFormsOneSeparator()
    {
        // The pane at "/" joins "/" + name; a missing name there is simply skipped.
        Form1 window;
        paneOf(window).setFolderPath("/");
        setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        control<QAction>(window, "delete")->trigger(); // nothing selected: only a re-read
        QVERIFY(paneOf(window).count() >= 0);
        QCOMPARE(paneOf(window).folderPath(), QString("/"));
    }

    void undeletableFileStaysOthersGo()
    {
        if (::geteuid() == 0)
            QSKIP("root may delete in a read-only folder");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("locked"));
        touch(dir.filePath("locked/a.zip"));
        QFile::setPermissions(dir.filePath("locked/a.zip"), QFileDevice::ReadOwner);
        QFile::setPermissions(dir.filePath("locked"),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        Form1 window;
        paneOf(window).setFolderPath(dir.filePath("locked"));
        select(paneOf(window), {0});
        setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        control<QAction>(window, "delete")->trigger();
        QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
        QCOMPARE(names(paneOf(window)), QStringList({"a.zip"}));
        // Not deleted, and not made writable on the way either.
        QCOMPARE(QFile::permissions(dir.filePath("locked/a.zip")),
                 QFileDevice::Permissions(QFileDevice::ReadOwner | QFileDevice::ReadUser));
    }

    void deletesNonUtf8Names()
    {
        QTemporaryDir dir;
        const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xe9.zip";
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        Form1 window;
        paneOf(window).setFolderPath(dir.path());
        QCOMPARE(paneOf(window).count(), 1);
        select(paneOf(window), {0});
        setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        control<QAction>(window, "delete")->trigger();
        QCOMPARE(paneOf(window).count(), 0);
        QVERIFY(::access(raw.constData(), F_OK) != 0);
    }
};

QTEST_MAIN(TestPane)
#include "test_pane.moc"
