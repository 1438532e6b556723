// SPDX-License-Identifier: MIT
#include "diz/ZipComponent.h"
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"
#include "testsupport.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>

using namespace vexlo;

namespace {

template <class T> T* control(QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// The controls the user sees, by object name.
QList<QWidget*> controlsOf(Form1& window)
{
    QList<QWidget*> out;
    for (const char* name :
         {"Frame1", "Label2", "SSPanel2", "Label3", "SSPanel1", "Command3", "Command2", "Command6",
          "Command4", "File1", "Text1", "PVProgressBar1", "Command1", "Command5"})
        out << control<QWidget>(window, name);
    return out;
}

// The client area's size and each control's place, each multiplied by factor.
QStringList layoutOf(Form1& window, int factor)
{
    auto line = [factor](const QString& name, QRect r) {
        return QStringLiteral("%1 %2 %3 %4 %5")
            .arg(name)
            .arg(r.x() * factor)
            .arg(r.y() * factor)
            .arg(r.width() * factor)
            .arg(r.height() * factor);
    };
    QStringList out{line("Form", control<QWidget>(window, "Form")->rect())};
    for (QWidget* w : controlsOf(window))
        out << line(w->objectName(), w->geometry());
    return out;
}

// Closes every popup menu that opens while it lives, and notes each one by
// its object name ("file" for the File menu).
class PopupCloser : public QObject {
public:
    PopupCloser() { startTimer(10); }
    QStringList seen;

protected:
    void timerEvent(QTimerEvent*) override
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible()) {
                seen << (menu->objectName().isEmpty() ? QStringLiteral("(other)")
                                                      : menu->objectName());
                menu->close();
            }
        }
    }
};

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_program; // stands in for the program's folder
    QTemporaryDir m_home;    // holds the user's home folder
    QByteArray m_savedHome;

    QString home() const { return m_home.path() + "/Home"; }

    std::unique_ptr<Form1> loadedWindow()
    {
        auto window = std::make_unique<Form1>();
        if (!window->startUp())
            return nullptr;
        return window;
    }

private slots:
    void initTestCase()
    {
        platform::setUserFoldersOverride(m_program.path());
        QVERIFY(test::writeBytes(home() + "/mine.zip", "x"));
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home()));
    }
    void cleanupTestCase()
    {
        qputenv("HOME", m_savedHome);
        platform::setUserFoldersOverride(QString());
    }
    void init()
    {
        QFile::remove(platform::settingsFilePath());
        QFile::remove(m_program.filePath("Vexlo32.ini"));
        QFile::remove(m_program.filePath("file_id.diz"));
        setMessageHook({});
    }

    void controlsHaveTheirNamesAndCaptions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Frame1") << "Frame1"
                                << "";
        QTest::newRow("Label2") << "Label2"
                                << "Path";
        QTest::newRow("SSPanel2") << "SSPanel2" << QString();
        QTest::newRow("Label3") << "Label3"
                                << "File list";
        QTest::newRow("SSPanel1") << "SSPanel1" << QString();
        QTest::newRow("Command3") << "Command3"
                                  << "B&rowse";
        QTest::newRow("Command2") << "Command2"
                                  << "&Open";
        QTest::newRow("Command6") << "Command6"
                                  << "&View list";
        QTest::newRow("Command4") << "Command4"
                                  << "&Make list";
        QTest::newRow("File1") << "File1" << QString();
        QTest::newRow("Text1") << "Text1" << QString();
        QTest::newRow("PVProgressBar1") << "PVProgressBar1" << QString();
        QTest::newRow("Command1") << "Command1"
                                  << "Save &diz";
        QTest::newRow("Command5") << "Command5"
                                  << "&Get diz";
    }
    void controlsHaveTheirNamesAndCaptions()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        Form1 window;
        QWidget* w = window.findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            QCOMPARE(button->text(), caption);
            QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        } else if (auto* label = qobject_cast<QLabel*>(w); label && !caption.isNull()) {
            QCOMPARE(label->text(), caption);
        }
    }

    // Each control lies wholly inside its parent (the client area, or the
    // frame for the labels and panels), and no two side by side overlap,
    // except the buttons that stand on the frame, wholly inside it.
    void controlsFitWithoutOverlapping()
    {
        Form1 window;
        QWidget* frame = control<QGroupBox>(window, "Frame1");
        const QList<QWidget*> controls = controlsOf(window);
        for (QWidget* w : controls) {
            QVERIFY2(w->parentWidget()->rect().contains(w->geometry()),
                     qPrintable(w->objectName()));
            for (QWidget* other : controls) {
                if (other == w || other->parentWidget() != w->parentWidget() || w == frame)
                    continue;
                const QString pair = w->objectName() + " and " + other->objectName();
                if (other == frame)
                    QVERIFY2(!w->geometry().intersects(frame->geometry()) ||
                                 frame->geometry().contains(w->geometry()),
                             qPrintable(pair));
                else
                    QVERIFY2(!w->geometry().intersects(other->geometry()), qPrintable(pair));
            }
        }
    }

    // Assistive tools can tell every control apart: each has a name of its
    // own (its caption, or what it holds), and the panels are named by their
    // labels, which lead to them.
    void everyControlHasAnAccessibleName()
    {
        Form1 window;
        QVERIFY(window.startUp());
        QStringList names;
        QList<QWidget*> controls = controlsOf(window);
        controls << control<QWidget>(window, "Dir1");
        for (QWidget* w : controls) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a, qPrintable(w->objectName()));
            const QString name = a->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty() && !name.contains(u'&'), qPrintable(w->objectName()));
            names << name;
        }
        names.removeDuplicates();
        QCOMPARE(names.size(), controlsOf(window).size() + 1 - 2); // the labels name the panels
        QCOMPARE(control<QLabel>(window, "Label2")->buddy(), control<QWidget>(window, "SSPanel2"));
        QCOMPARE(control<QLabel>(window, "Label3")->buddy(), control<QWidget>(window, "SSPanel1"));
        auto* path = control<StatusPanel>(window, "SSPanel2");
        QCOMPARE(QAccessible::queryAccessibleInterface(path)->text(QAccessible::Description),
                 path->caption());
    }

    // The layout follows the screen: a second run of this test at twice the
    // dots per inch makes every control, and the client area, twice the size
    // at twice the place.
    void layoutKeepsItsProportionsAtTwiceTheScale()
    {
        Form1 window;
        if (window.scale() != 1.0)
            QSKIP("compares against a run at twice this screen's scale of 1");
        QProcess twice;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_ENABLE_HIGHDPI_SCALING",
                   "0"); // the dots per inch reach the window as they are
        env.insert("QT_FONT_DPI", "192");
        env.insert("VEXLO32_PRINT_LAYOUT", "1");
        twice.setProcessEnvironment(env);
        twice.start(QCoreApplication::applicationFilePath(), {"printLayout"});
        QVERIFY(twice.waitForFinished(60000));
        QStringList atTwice;
        for (const QByteArray& line : twice.readAllStandardOutput().split('\n'))
            if (line.startsWith("LAYOUT "))
                atTwice << QString::fromUtf8(line.mid(7));
        QStringList expected;
        for (const QString& line : layoutOf(window, 2))
            expected << line;
        QCOMPARE(atTwice, expected);
    }
    // Prints the layout for the run above; skipped on its own.
    void printLayout()
    {
        if (!qEnvironmentVariableIsSet("VEXLO32_PRINT_LAYOUT"))
            QSKIP("part of layoutKeepsItsProportionsAtTwiceTheScale");
        Form1 window;
        QCOMPARE(window.scale(), 2.0);
        for (const QString& line : layoutOf(window, 1))
            std::printf("LAYOUT %s\n", qPrintable(line));
        std::fflush(stdout);
    }

    void windowIsFixedAndStartsIdle()
    {
        Form1 window;
        QCOMPARE(window.windowTitle(), QString("Vexlo32"));
        QCOMPARE(control<QWidget>(window, "Form")->size(),
                 QSize(int(357 * window.scale() + 0.5), int(290 * window.scale() + 0.5)));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!control<QPushButton>(window, "Command1")->isEnabled());
        QVERIFY(!control<QAction>(window, "sdiz")->isEnabled());
        QVERIFY(!control<QAction>(window, "longfile")->isChecked());
        QVERIFY(!control<QAction>(window, "multi")->isChecked());
        QVERIFY(!control<QAction>(window, "allkinds")->isChecked());
        QVERIFY(control<QAction>(window, "allkinds")->isCheckable());
        QVERIFY(!window.state().list.allKinds);
        QVERIFY(control<DescriptionBox>(window, "Text1")->toPlainText().isEmpty());
        QCOMPARE(control<QProgressBar>(window, "PVProgressBar1")->value(), 0);
        QVERIFY(control<DescriptionBox>(window, "Text1")->font().fixedPitch());
        QCOMPARE(control<DescriptionBox>(window, "Text1")->font().pointSize(), 9);
        QVERIFY(control<FolderHolder>(window, "Dir1")->isHidden());
    }

    void menusHoldEveryItemInOrder()
    {
        Form1 window;
        auto names = [](QMenu* menu) {
            QStringList out;
            for (QAction* a : menu->actions())
                out << (a->isSeparator() ? "-" + a->objectName()
                                         : a->objectName() + "=" + a->text());
            return out;
        };
        QCOMPARE(
            names(control<QMenu>(window, "file")),
            QStringList({"directory=&Path", "save=&Filelist...", "-dead8", "viewl=&View list...",
                         "mlist=&Make list...", "-dead1", "gdiz=&Get diz...", "sdiz=&Save diz...",
                         "-dead5", "refresh=&Refresh", "delete=&Delete", "-dead25", "exit=E&xit"}));
        QCOMPARE(names(control<QMenu>(window, "options")),
                 QStringList({"longfile=&Long filename format", "multi=&Multi-line file_id.diz",
                              "allkinds=All archive &kinds"}));
        QCOMPARE(names(control<QMenu>(window, "help")),
                 QStringList({"contents=&Contents", "-dead2", "email=&Email me...", "web=&Web page",
                              "-dead9", "about=&About"}));
        QStringList bar;
        for (QAction* a : window.menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, QStringList({"&File", "&Options", "&Help"}));
        for (QAction* a : window.findChildren<QAction*>())
            QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->objectName()));
    }

    void tabOrderAndInitialFocus()
    {
        Form1 window;
        QVERIFY(window.startUp());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget* pane = control<ArchivePane>(window, "File1");
        QWidget* box = control<DescriptionBox>(window, "Text1");
        QWidget* getDiz = control<QPushButton>(window, "Command5");
        QCOMPARE(QApplication::focusWidget(), pane);
        const QStringList expected = {"Text1",    "Command1", "Command5", "Command3",
                                      "Command2", "Command4", "Command6"};
        // Command1 starts disabled, so the chain skips it.
        QWidget* w = pane;
        QStringList seen;
        for (int i = 0; i < 6; ++i) {
            w = w->nextInFocusChain();
            while (!w->isEnabled() || w->focusPolicy() == Qt::NoFocus || !w->isVisible())
                w = w->nextInFocusChain();
            seen << w->objectName();
        }
        QStringList enabledExpected = expected;
        enabledExpected.removeAll("Command1");
        QCOMPARE(seen, enabledExpected);

        // The keyboard walks the same way, through the description box too.
        QTest::keyClick(pane, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), box);
        QTest::keyClick(box, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), getDiz);
        QVERIFY(control<DescriptionBox>(window, "Text1")->toPlainText().isEmpty());
        QTest::keyClick(getDiz, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), box);
    }

    void rightButtonPopsUpTheFileMenu_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("pane") << "File1";
        QTest::newRow("background") << "Form";
        QTest::newRow("box") << "Frame1";
        QTest::newRow("path panel") << "SSPanel2";
        QTest::newRow("list panel") << "SSPanel1";
        QTest::newRow("path label") << "Label2";
        QTest::newRow("list label") << "Label3";
    }
    void rightButtonPopsUpTheFileMenu()
    {
        QFETCH(QString, where);
        Form1 window;
        QVERIFY(window.startUp());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* target = window.findChild<QWidget*>(where);
        QVERIFY(target);
        if (auto* pane = qobject_cast<ArchivePane*>(target))
            target = pane->viewport();
        QSignalSpy spy(&window, &Form1::popupRequested);
        const QPoint at(3, 3);

        PopupCloser closer;
        QTest::mouseClick(target, Qt::RightButton, {}, at);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toPoint(), target->mapToGlobal(at));
        QCOMPARE(closer.seen, QStringList({"file"}));

        // Left and middle buttons do nothing here.
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
        QTest::mouseClick(target, Qt::MiddleButton, {}, at);
        QCOMPARE(spy.count(), 1);

        // Nothing pops up while a list is being made.
        window.state().run.keepRunning = true;
        QTest::mouseClick(target, Qt::RightButton, {}, at);
        QCOMPARE(spy.count(), 1);
    }

    // The description box and the buttons have no such popup: a right click
    // there, as the window system delivers it, shows the box's own edit menu
    // and nothing over the rest.
    void noFileMenuOverTheBoxTheButtonsAndTheProgressBar_data()
    {
        QTest::addColumn<QString>("where");
        for (const char* name : {"Text1", "Command1", "Command2", "Command3", "Command4",
                                 "Command5", "Command6", "PVProgressBar1"})
            QTest::newRow(name) << name;
    }
    void noFileMenuOverTheBoxTheButtonsAndTheProgressBar()
    {
        QFETCH(QString, where);
        Form1 window;
        QVERIFY(window.startUp());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* target = control<QWidget>(window, qPrintable(where));
        QSignalSpy spy(&window, &Form1::popupRequested);
        PopupCloser closer;
        const QPoint at = target->mapTo(&window, QPoint(5, 5));
        QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, at);
        // The box opens its menu without waiting for it to close.
        const QStringList expected = where == "Text1" ? QStringList({"(other)"}) : QStringList();
        QTRY_COMPARE(closer.seen, expected);
        QCOMPARE(spy.count(), 0);
    }

    void panelTooltipsFollowTheCaption()
    {
        Form1 window;
        auto* path = control<StatusPanel>(window, "SSPanel2");
        auto* list = control<StatusPanel>(window, "SSPanel1");
        auto moveOver = [](QWidget* panel) {
            QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), panel->mapToGlobal(QPointF(5, 5)),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(panel, &move);
        };
        path->setCaption("/first");
        moveOver(path);
        QCOMPARE(path->toolTip(), QString("/first"));
        path->setCaption("/a/much/longer/folder/than/fits");
        moveOver(path);
        QCOMPARE(path->toolTip(), QString("/a/much/longer/folder/than/fits"));
        list->setCaption("/list.txt");
        moveOver(list);
        QCOMPARE(list->toolTip(), QString("/list.txt"));
    }

    void optionsToggle()
    {
        Form1 window;
        control<QAction>(window, "multi")->trigger();
        QVERIFY(control<QAction>(window, "multi")->isChecked());
        QVERIFY(window.state().list.multiLineDiz);
        control<QAction>(window, "multi")->trigger();
        QVERIFY(!control<QAction>(window, "multi")->isChecked());
        QVERIFY(!window.state().list.multiLineDiz);
        control<QAction>(window, "allkinds")->trigger();
        QVERIFY(control<QAction>(window, "allkinds")->isChecked());
        QVERIFY(window.state().list.allKinds);
        control<QAction>(window, "allkinds")->trigger();
        QVERIFY(!window.state().list.allKinds);
        control<QAction>(window, "longfile")->trigger();
        QVERIFY(control<QAction>(window, "longfile")->isChecked());
        control<QAction>(window, "longfile")->trigger();
        QVERIFY(!control<QAction>(window, "longfile")->isChecked());
    }

    // The folder of last time, or the one the program was started with
    // (which wins over the settings file), with its default list file.
    void startUpReadsTheSettingsFile_data()
    {
        QTest::addColumn<bool>("startedWithIt");
        QTest::newRow("settings file") << false;
        QTest::newRow("vexlo32 FOLDER") << true;
    }
    void startUpReadsTheSettingsFile()
    {
        QFETCH(bool, startedWithIt);
        QTemporaryDir zips;
        QVERIFY(QDir(zips.path()).mkpath("Zips"));
        QVERIFY(QDir(zips.path()).mkpath("Other"));
        const QString written = zips.path() + "/Zips";
        QVERIFY(test::writeBytes(zips.path() + "/Zips/game.zip", "x"));
        const QString stored = startedWithIt ? zips.path() + "/Other" : written;
        QVERIFY(test::writeBytes(m_program.filePath("Vexlo32.ini"), stored.toUtf8() + "\r\n"));
        auto window = std::make_unique<Form1>();
        if (startedWithIt)
            window->setStartFolder(written);
        QVERIFY(window->startUp());
        // Shown lower-cased; the pane, the list file and the commands have
        // the folder as it is on disk.
        const QString lower = platform::lowerPath(written);
        QCOMPARE(control<StatusPanel>(*window, "SSPanel2")->caption(), lower);
        QCOMPARE(control<ArchivePane>(*window, "File1")->folderPath(), written);
        QCOMPARE(control<ArchivePane>(*window, "File1")->count(), 1);
        QCOMPARE(control<StatusPanel>(*window, "SSPanel1")->caption(), lower + "/Vexlo.txt");
        QCOMPARE(window->state().listFilePath, written + "/Vexlo.txt");
        QCOMPARE(window->state().selectedFilePath, written);
        QCOMPARE(control<FolderHolder>(*window, "Dir1")->path(), written);
    }

    // A first start, and a folder of last time that is gone, open the home
    // folder: a first Make list of the root would walk the whole system.
    void startsInTheHomeFolder_data()
    {
        QTest::addColumn<QByteArray>("settings"); // empty: no settings file
        QTest::newRow("first start") << QByteArray();
        QTest::newRow("stored folder gone") << QByteArray("/no/such/Folder\r\n");
    }
    void startsInTheHomeFolder()
    {
        QFETCH(QByteArray, settings);
        if (!settings.isEmpty())
            QVERIFY(test::writeBytes(platform::settingsFilePath(), settings));
        auto window = loadedWindow();
        QVERIFY(window);
        const QString lower = platform::lowerPath(home());
        QCOMPARE(control<StatusPanel>(*window, "SSPanel2")->caption(), lower);
        QCOMPARE(control<ArchivePane>(*window, "File1")->folderPath(), home());
        QCOMPARE(control<ArchivePane>(*window, "File1")->name(0), QString("mine.zip"));
        QCOMPARE(control<StatusPanel>(*window, "SSPanel1")->caption(), lower + "/Vexlo.txt");
        QCOMPARE(window->state().listFilePath, home() + "/Vexlo.txt");
    }

    // Sibling folders "Docs" and "docs": the settings file names one, the
    // window lists and keeps that one, and stores it back in its real case
    // (an older lower-cased line is mended on the way).
    void caseTwinsThroughTheSettingsFile_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("olderLine");
        QTest::addColumn<QString>("expected");
        QTest::newRow("capital twin") << QStringList{"Docs", "docs"} << "Docs" << false << "Docs";
        QTest::newRow("lower twin") << QStringList{"Docs", "docs"} << "docs" << false << "docs";
        QTest::newRow("older line, one spelling")
            << QStringList{"Docs"} << "Docs" << true << "Docs";
        QTest::newRow("older line, twins")
            << QStringList{"Docs", "docs"} << "docs" << true << "docs";
    }
    void caseTwinsThroughTheSettingsFile()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, stored);
        QFETCH(bool, olderLine);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString base = dir.path() + "/Twins";
        for (const QString& folder : folders)
            QVERIFY(test::writeBytes(base + "/" + folder + "/in-" + folder + ".zip", "x"));
        QString line = base + "/" + stored;
        if (olderLine)
            line = platform::lowerPath(line);
        QVERIFY(test::writeBytes(platform::settingsFilePath(), line.toUtf8() + "\r\n"));
        {
            auto window = loadedWindow();
            QVERIFY(window);
            const QString real = base + "/" + expected;
            QCOMPARE(control<StatusPanel>(*window, "SSPanel2")->caption(),
                     platform::lowerPath(real));
            QCOMPARE(control<ArchivePane>(*window, "File1")->folderPath(), real);
            QCOMPARE(control<ArchivePane>(*window, "File1")->count(), 1);
            QCOMPARE(control<ArchivePane>(*window, "File1")->name(0), "in-" + expected + ".zip");
            QCOMPARE(window->state().listFilePath, real + "/Vexlo.txt");
            window->close();
        }
        QCOMPARE(test::readBytes(platform::settingsFilePath()),
                 (base + "/" + expected).toUtf8() + "\r\nAllKinds=0\r\n");
    }

    // "All archive kinds" is remembered as the settings file's second line,
    // from one start to the next, whichever folder the window opens; off,
    // the file stays the one line it always was.
    void allKindsIsRemembered_data()
    {
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("startedWithAFolder");
        QTest::addColumn<bool>("toggle");
        QTest::newRow("older file, left off") << QByteArray() << false << false;
        QTest::newRow("older file, turned on") << QByteArray() << false << true;
        QTest::newRow("on, left on") << QByteArray("AllKinds=1\r\n") << false << false;
        QTest::newRow("on, turned off") << QByteArray("AllKinds=1\r\n") << false << true;
        QTest::newRow("on, started with a folder") << QByteArray("AllKinds=1\r\n") << true << false;
    }
    void allKindsIsRemembered()
    {
        QFETCH(QByteArray, second);
        QFETCH(bool, startedWithAFolder);
        QFETCH(bool, toggle);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/Zips";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(test::writeBytes(platform::settingsFilePath(), folder.toUtf8() + "\r\n" + second));
        const bool wasOn = !second.isEmpty();
        {
            auto window = std::make_unique<Form1>();
            if (startedWithAFolder)
                window->setStartFolder(folder);
            QVERIFY(window->startUp());
            QCOMPARE(control<QAction>(*window, "allkinds")->isChecked(), wasOn);
            QCOMPARE(window->state().list.allKinds, wasOn);
            if (toggle)
                control<QAction>(*window, "allkinds")->trigger();
            window->close();
        }
        const bool on = wasOn != toggle;
        QCOMPARE(test::readBytes(platform::settingsFilePath()),
                 folder.toUtf8() + "\r\n" + (on ? "AllKinds=1\r\n" : "AllKinds=0\r\n"));
    }

    void rootFolderIsRefused()
    {
        platform::setProgramFolderOverride("/");
        QList<MessageRequest> shown;
        setMessageHook([&](const MessageRequest& r) {
            shown << r;
            return QMessageBox::Ok;
        });
        Form1 window;
        const bool goOn = window.startUp();
        platform::setProgramFolderOverride(QString());
        QVERIFY(!goOn);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QString("Zandt32 error"));
        QCOMPARE(shown[0].text,
                 QString("Vexlo32 can not be run from\na root directory, please reinstall."));
        QCOMPARE(shown[0].icon, QMessageBox::Critical);
        QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void handOverEndsWithoutTouchingSettings()
    {
        QVERIFY(test::writeBytes(m_program.filePath("Vexlo32.ini"), "/tmp\r\n"));
        bool asked = false;
        {
            Form1 window;
            QVERIFY(!window.startUp([&] {
                asked = true;
                return true;
            }));
            QVERIFY(window.isHidden());
        }
        QVERIFY(asked);
        QCOMPARE(test::readBytes(m_program.filePath("Vexlo32.ini")), QByteArray("/tmp\r\n"));
    }

    // What the running window does when a second start hands over to it.
    void handOverRestoresTheWindow()
    {
        Form1 window;
        QVERIFY(window.startUp());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        qunsetenv("XDG_ACTIVATION_TOKEN");
        window.restoreFromHandOver("token-42");
        QTRY_VERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-42"));
        QTRY_VERIFY(window.isActiveWindow());

        // A hidden window is shown again; no token leaves the variable alone.
        window.hide();
        window.restoreFromHandOver(QByteArray());
        QVERIFY(window.isVisible());
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-42"));
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }

    void shutdownSavesFolderAndRemovesTempFile()
    {
        QTemporaryDir zips;
        QVERIFY(QDir(zips.path()).mkpath("Sub"));
        QVERIFY(test::writeBytes(m_program.filePath("Vexlo32.ini"),
                                 (zips.path() + "/Sub").toUtf8() + "\r\nextra\r\n"));
        const QString temp = m_program.filePath("file_id.diz");
        QVERIFY(test::writeBytes(temp, "old"));
        QFile::setPermissions(temp, QFileDevice::ReadOwner);
        {
            auto window = loadedWindow();
            QVERIFY(window);
            window->show();
            window->close();
            QVERIFY(window->zip().abortRequest());
            QVERIFY(!window->property("KeepRunning").toBool());
        }
        QCOMPARE(test::readBytes(m_program.filePath("Vexlo32.ini")),
                 (zips.path() + "/Sub").toUtf8() + "\r\nAllKinds=0\r\n");
        QVERIFY(!QFile::exists(temp));
    }

    void shutdownCompletesWhenSettingsCannotBeWritten()
    {
        // A folder where the settings file should be makes the write fail.
        QVERIFY(QDir().mkpath(m_program.filePath("Vexlo32.ini")));
        const QString temp = m_program.filePath("file_id.diz");
        QVERIFY(test::writeBytes(temp, "old"));
        {
            Form1 window;
            window.show();
            window.close();
        }
        QVERIFY(!QFile::exists(temp));
        QDir(m_program.filePath("Vexlo32.ini")).removeRecursively();
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
