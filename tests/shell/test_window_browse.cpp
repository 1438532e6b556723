// SPDX-License-Identifier: MIT
// The window's folder pick through the real browse dialog: "B&rowse" and the
// menu item "&Path", confirm, cancel, a folder that goes away while the
// dialog is open, the root, and the dialog's live status line.
#include "pane/ArchivePane.h"
#include "pane/BrowseDialog.h"
#include "pane/FolderHolder.h"
#include "platform/Paths.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <memory>

using namespace vexlo;

namespace {

pane::BrowseDialog* visibleBrowseDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<pane::BrowseDialog*>(w);
        if (dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

QPushButton* dialogButton(pane::BrowseDialog& dialog, QDialogButtonBox::StandardButton which)
{
    auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return box ? box->button(which) : nullptr;
}

QString statusLine(pane::BrowseDialog& dialog)
{
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("statusLabel"));
    return label ? label->text() : QStringLiteral("<no status line>");
}

struct DialogRun {
    bool found = false;    // the dialog came up
    bool leftOpen = false; // the steps did not close it (the guard did)
    QString name;          // its object name
    bool childOfWindow = false;
};

// Starts the command and, once the modal dialog is up, runs the steps inside
// its loop. A dialog the steps leave open, or one still open after ten
// seconds, is cancelled so that the test fails instead of hanging.
DialogRun pickWith(Form1& window, const std::function<void()>& start,
                   const std::function<void(pane::BrowseDialog&)>& steps)
{
    DialogRun run;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        pane::BrowseDialog* dialog = visibleBrowseDialog();
        if (!dialog)
            return;
        poll.stop();
        run.found = true;
        run.name = dialog->objectName();
        run.childOfWindow = dialog->parent() == &window;
        steps(*dialog);
        if (dialog->isVisible()) {
            run.leftOpen = true;
            dialog->reject();
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &guard, [&] {
        run.leftOpen = true;
        if (pane::BrowseDialog* dialog = visibleBrowseDialog())
            dialog->reject();
    });
    poll.start();
    guard.start(10000);
    start();
    return run;
}

// What a pick may change, read off the window by object name.
struct Seen {
    QString chosen, panel, pane, dir;
    QStringList entries;
    bool operator==(const Seen&) const = default;
};

Seen seen(Form1& window)
{
    Seen s;
    s.chosen = window.state().chosenFolder;
    s.panel = window.findChild<StatusPanel*>(QStringLiteral("SSPanel2"))->caption();
    auto* pane = window.findChild<ArchivePane*>(QStringLiteral("File1"));
    s.pane = pane->folderPath();
    for (int i = 0; i < pane->count(); ++i)
        s.entries << pane->name(i);
    s.dir = window.findChild<FolderHolder*>(QStringLiteral("Dir1"))->path();
    return s;
}

char* toString(const Seen& s)
{
    return QTest::toString(QStringLiteral("chosen=%1 panel=%2 pane=%3 dir=%4 entries=%5")
                               .arg(s.chosen, s.panel, s.pane, s.dir, s.entries.join(',')));
}

} // namespace

class TestWindowBrowse : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_program;
    QTemporaryDir m_root; // the folders picked; also the dialog's home
    QByteArray m_savedHome;

    QString at(const QString& relative) const { return m_root.path() + "/" + relative; }

    // Presses "B&rowse" (a real click) or chooses "&Path" in the File menu.
    static std::function<void()> route(Form1& window, const QString& how)
    {
        if (how == "menu") {
            auto* item = window.findChild<QAction*>(QStringLiteral("directory"));
            return [item] { item->trigger(); };
        }
        auto* button = window.findChild<QPushButton*>(QStringLiteral("Command3"));
        return [button] { QTest::mouseClick(button, Qt::LeftButton); };
    }

    // A window started in the "Old" folder, as the settings file would leave it.
    std::unique_ptr<Form1> startedWindow()
    {
        auto window = std::make_unique<Form1>();
        test::writeBytes(m_program.filePath("Vexlo32.ini"), at("Old").toUtf8() + "\r\n");
        if (!window->startUp())
            return nullptr;
        window->show();
        return window;
    }

    static void addRoutes()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("B&rowse") << "button";
        QTest::newRow("&Path") << "menu";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_program.isValid() && m_root.isValid());
        platform::setUserFoldersOverride(m_program.path());
        for (const char* folder : {"Old", "Zips/New", "Zips/Other", "Gone"})
            QVERIFY(QDir(m_root.path()).mkpath(folder));
        for (const char* file :
             {"Old/old.zip", "Zips/New/Game.ZIP", "Zips/New/readme.txt", "Zips/Other/x.zip"})
            QVERIFY(test::writeBytes(at(file), "data"));
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_root.path()));
    }
    void cleanupTestCase()
    {
        qputenv("HOME", m_savedHome);
        platform::setUserFoldersOverride(QString());
    }
    void init() { setMessageHook({}); }

    void confirmTakesTheFolder_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("byKey");
        QTest::newRow("B&rowse, OK") << "button" << false;
        QTest::newRow("&Path, OK") << "menu" << false;
        QTest::newRow("B&rowse, Enter") << "button" << true;
        QTest::newRow("&Path, Enter") << "menu" << true;
    }
    void confirmTakesTheFolder()
    {
        QFETCH(QString, how);
        QFETCH(bool, byKey);
        auto window = startedWindow();
        QVERIFY(window);
        const QString picked = at("Zips/New");
        const DialogRun run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            QVERIFY(d.selectFolder(picked));
            if (byKey)
                QTest::keyClick(d.findChild<QTreeView*>(QStringLiteral("folderTree")),
                                Qt::Key_Return);
            else
                QTest::mouseClick(dialogButton(d, QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QVERIFY(run.found);
        QVERIFY(!run.leftOpen);
        QCOMPARE(run.name, QString("BrowseDialog1"));
        QVERIFY(run.childOfWindow);

        const QString lower = platform::lowerPath(picked);
        QVERIFY(lower != picked); // the pick has capitals to lose
        const Seen now = seen(*window);
        // Shown lower-cased; kept, listed and acted on as picked.
        QCOMPARE(now.chosen, picked);
        QCOMPARE(now.panel, lower);
        QCOMPARE(now.pane, picked);
        QCOMPARE(now.dir, picked);
        QCOMPARE(now.entries, QStringList({"Game.ZIP", "readme.txt"}));
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("byKey");
        QTest::newRow("B&rowse, Cancel") << "button" << false;
        QTest::newRow("&Path, Cancel") << "menu" << false;
        QTest::newRow("B&rowse, Escape") << "button" << true;
        QTest::newRow("&Path, Escape") << "menu" << true;
    }
    void cancelChangesNothing()
    {
        QFETCH(QString, how);
        QFETCH(bool, byKey);
        auto window = startedWindow();
        QVERIFY(window);
        // A first pick, so that chosenFolder and Dir1 hold something to keep.
        DialogRun run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            QVERIFY(d.selectFolder(at("Zips/Other")));
            dialogButton(d, QDialogButtonBox::Ok)->click();
        });
        QVERIFY(run.found && !run.leftOpen);
        const Seen before = seen(*window);
        QCOMPARE(before.dir, at("Zips/Other"));

        run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            QVERIFY(d.selectFolder(at("Zips/New")));
            if (byKey)
                QTest::keyClick(&d, Qt::Key_Escape);
            else
                QTest::mouseClick(dialogButton(d, QDialogButtonBox::Cancel), Qt::LeftButton);
        });
        QVERIFY(run.found);
        QVERIFY(!run.leftOpen);
        QCOMPARE(seen(*window), before);
    }

    void cancelOnTheFirstPickLeavesChosenFolderEmpty_data() { addRoutes(); }
    void cancelOnTheFirstPickLeavesChosenFolderEmpty()
    {
        QFETCH(QString, how);
        auto window = startedWindow();
        QVERIFY(window);
        const Seen before = seen(*window);
        QVERIFY(before.chosen.isEmpty());
        QCOMPARE(before.entries, QStringList({"old.zip"}));
        const DialogRun run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            QVERIFY(d.selectFolder(at("Zips/New")));
            dialogButton(d, QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(run.found && !run.leftOpen);
        QCOMPARE(seen(*window), before);
    }

    void folderGoneBeforeTheLookup_data() { addRoutes(); }
    void folderGoneBeforeTheLookup()
    {
        QFETCH(QString, how);
        const QString doomed = at("Gone/Soon");
        QVERIFY(QDir().mkpath(doomed));
        auto window = startedWindow();
        QVERIFY(window);
        const Seen before = seen(*window);
        const DialogRun run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            QVERIFY(d.selectFolder(doomed));
            QVERIFY(QDir().rmdir(doomed)); // gone while the dialog still shows it
            QTest::mouseClick(dialogButton(d, QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QVERIFY(run.found && !run.leftOpen);
        Seen expected = before;
        expected.chosen = doomed; // the pick is remembered all the same
        QCOMPARE(seen(*window), expected);
    }

    void rootPickJoinsWithoutASecondSeparator_data() { addRoutes(); }
    void rootPickJoinsWithoutASecondSeparator()
    {
        QFETCH(QString, how);
        auto window = startedWindow();
        QVERIFY(window);
        const DialogRun run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            QVERIFY(d.selectFolder("/"));
            QTest::mouseClick(dialogButton(d, QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QVERIFY(run.found && !run.leftOpen);
        const Seen now = seen(*window);
        QCOMPARE(now.chosen, QString("/"));
        QCOMPARE(now.panel, QString("/"));
        QCOMPARE(now.pane, QString("/"));
        QCOMPARE(now.dir, QString("/"));

        // The pane lists the root itself; any visible file there will do.
        auto* pane = window->findChild<ArchivePane*>(QStringLiteral("File1"));
        if (pane->count() == 0)
            QSKIP("the root folder holds no visible file to click");
        const QRect item = pane->visualRect(pane->model()->index(0, 0));
        QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, item.center());
        QVERIFY(pane->isSelected(0));
        QCOMPARE(window->state().selectedFilePath, "/" + pane->name(0));
    }

    void statusLineFollowsTheHighlight_data() { addRoutes(); }
    void statusLineFollowsTheHighlight()
    {
        QFETCH(QString, how);
        auto window = startedWindow();
        QVERIFY(window);
        QStringList lines;
        QString afterKey, highlightedAfterKey, opening, start;
        const DialogRun run = pickWith(*window, route(*window, how), [&](pane::BrowseDialog& d) {
            opening = statusLine(d);
            start = d.highlightedFolder();
            for (const char* folder : {"Zips", "Zips/New", "Old"}) {
                QVERIFY(d.selectFolder(at(folder)));
                lines << statusLine(d);
            }
            // The keyboard moves the highlight too.
            QTest::keyClick(d.findChild<QTreeView*>(QStringLiteral("folderTree")), Qt::Key_Up);
            afterKey = statusLine(d);
            highlightedAfterKey = d.highlightedFolder();
            dialogButton(d, QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(run.found && !run.leftOpen);
        QCOMPARE(opening, start); // the folder it opened on is shown at once
        QCOMPARE(lines, QStringList({at("Zips"), at("Zips/New"), at("Old")}));
        QVERIFY(highlightedAfterKey != at("Old"));
        QCOMPARE(afterKey, highlightedAfterKey);
    }

    void secondOpeningReusesTheDialog()
    {
        auto window = startedWindow();
        QVERIFY(window);
        pane::BrowseDialog* first = nullptr;
        DialogRun run = pickWith(*window, route(*window, "button"), [&](pane::BrowseDialog& d) {
            first = &d;
            d.reject();
        });
        QVERIFY(run.found);
        pane::BrowseDialog* second = nullptr;
        run = pickWith(*window, route(*window, "menu"), [&](pane::BrowseDialog& d) {
            second = &d;
            QVERIFY(d.selectFolder(at("Zips/New")));
            dialogButton(d, QDialogButtonBox::Ok)->click();
        });
        QVERIFY(run.found && !run.leftOpen);
        QCOMPARE(second, first);
        QCOMPARE(window->findChildren<pane::BrowseDialog*>().size(), 1);
        QCOMPARE(window->findChild<pane::BrowseDialog*>(QStringLiteral("BrowseDialog1")), first);
        QCOMPARE(seen(*window).pane, at("Zips/New"));
    }

    // Sibling folders "Docs" and "docs" look the same lower-cased: the one
    // picked is the one listed, and Delete and Make list act in it alone.
    void pickOfACaseTwinIsActedOn_data() { test::addCaseTwinRows(); }
    void pickOfACaseTwinIsActedOn()
    {
        QFETCH(QString, twin);
        QFETCH(QString, other);
        const QString base = at("Twins-" + twin);
        QVERIFY(test::writeBytes(base + "/" + twin + "/a.zip", twin.toUtf8()));
        QVERIFY(test::writeBytes(base + "/" + twin + "/picked.txt", "x"));
        QVERIFY(test::writeBytes(base + "/" + other + "/a.zip", other.toUtf8()));
        QVERIFY(test::writeBytes(base + "/" + other + "/other.txt", "x"));
        auto window = startedWindow();
        QVERIFY(window);
        const QString picked = base + "/" + twin;
        const DialogRun run =
            pickWith(*window, route(*window, "button"), [&](pane::BrowseDialog& d) {
                QVERIFY(d.selectFolder(picked));
                dialogButton(d, QDialogButtonBox::Ok)->click();
            });
        QVERIFY(run.found && !run.leftOpen);
        const Seen now = seen(*window);
        QCOMPARE(now.panel, platform::lowerPath(picked));
        QCOMPARE(now.pane, picked);
        QCOMPARE(now.entries, QStringList({"a.zip", "picked.txt"}));

        // Delete: the picked folder's a.zip goes, its twin's stays.
        setMessageHook([](const MessageRequest&) { return QMessageBox::Ok; });
        auto* pane = window->findChild<ArchivePane*>(QStringLiteral("File1"));
        pane->setSelected(0, true);
        window->findChild<QAction*>(QStringLiteral("delete"))->trigger();
        QVERIFY(!QFile::exists(picked + "/a.zip"));
        QCOMPARE(test::readBytes(base + "/" + other + "/a.zip"), other.toUtf8());
        QCOMPARE(seen(*window).entries, QStringList({"picked.txt"}));

        // Make list (into the list file of the start folder, which a pick
        // leaves as it was): the picked folder, under its lower-cased line.
        QCOMPARE(window->state().listFilePath, at("Old/Vexlo.txt"));
        window->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
        const QByteArray list = test::readBytes(at("Old/Vexlo.txt"));
        QCOMPARE(list.left(list.indexOf("\r\n", 2) + 2),
                 "\r\n" + platform::lowerPath(picked).toUtf8() + "\r\n");
        QVERIFY(list.contains("PICKED.TXT"));
        QVERIFY(!list.contains("OTHER.TXT"));
        QCOMPARE(seen(*window).pane, picked);
        QCOMPARE(seen(*window).panel, platform::lowerPath(picked));
    }
};

QTEST_MAIN(TestWindowBrowse)
#include "test_window_browse.moc"
