// SPDX-License-Identifier: MIT
#include "pane/BrowseDialog.h"
#include "platform/NativeName.h"
#include "testsupport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <sys/stat.h>

using vexlo::pane::BrowseDialog;

namespace {

QTreeView* treeOf(BrowseDialog& dialog)
{
    return dialog.findChild<QTreeView*>("folderTree");
}

QPushButton* buttonOf(BrowseDialog& dialog, QDialogButtonBox::StandardButton which)
{
    auto* box = dialog.findChild<QDialogButtonBox*>("buttonBox");
    return box ? box->button(which) : nullptr;
}

QString labelText(BrowseDialog& dialog, const char* name)
{
    auto* label = dialog.findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<no %1>").arg(name);
}

// Opens the dialog and runs the steps inside its modal loop. A step that
// leaves the dialog open makes it close (and the test fail) instead of
// hanging; so does a dialog still open after ten seconds.
bool showAndDo(BrowseDialog& dialog, const std::function<void()>& steps, bool* leftOpen)
{
    *leftOpen = false;
    QTimer::singleShot(0, &dialog, [&] {
        steps();
        if (dialog.isVisible()) {
            *leftOpen = true;
            dialog.reject();
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dialog, [&] {
        *leftOpen = true;
        dialog.reject();
    });
    guard.start(10000);
    return dialog.show();
}

} // namespace

class TestBrowse : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_savedHome;
    QString m_base;

    QString at(const QString& relative) const { return m_base + "/" + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_base = m_dir.path();
        for (const char* folder : {"alpha", "Beta", ".hidden", "gamma/inner", "gamma/outer"})
            QVERIFY(QDir(m_base).mkpath(folder));
        QVERIFY(vexlo::test::writeBytes(at("file.zip"), "PK"));
        // The dialog opens on the home folder: make that ours.
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_base));
    }
    void cleanupTestCase() { qputenv("HOME", m_savedHome); }

    void controlsAndPrompt()
    {
        BrowseDialog dialog;
        QCOMPARE(labelText(dialog, "promptLabel"), QString("Select directory of zip's"));
        QCOMPARE(dialog.promptText(), QString("Select directory of zip's"));
        QVERIFY(treeOf(dialog));
        QVERIFY(buttonOf(dialog, QDialogButtonBox::Ok));
        QVERIFY(buttonOf(dialog, QDialogButtonBox::Cancel));
        QCOMPARE(labelText(dialog, "statusLabel"), QString());
        QVERIFY(!dialog.windowTitle().isEmpty());
        QVERIFY(dialog.selectedFolder().isEmpty());

        dialog.setStatusText("/some/path");
        QCOMPARE(labelText(dialog, "statusLabel"), QString("/some/path"));
        QCOMPARE(dialog.statusText(), QString("/some/path"));
    }

    void opensOnTheHomeFolderExpandedAndHighlighted()
    {
        QCOMPARE(BrowseDialog::startFolder(), m_base);
        BrowseDialog dialog;
        QStringList shown;
        bool expanded = false;
        bool focused = false;
        bool modal = false;
        bool leftOpen = false;
        showAndDo(
            dialog,
            [&] {
                QTreeView* tree = treeOf(dialog);
                const QModelIndex current = tree->currentIndex();
                expanded = tree->isExpanded(current);
                focused = QTest::qWaitForWindowActive(&dialog) && tree->hasFocus();
                modal = dialog.isModal() && QApplication::activeModalWidget() == &dialog;
                for (int row = 0; row < tree->model()->rowCount(current); ++row)
                    shown.append(tree->model()->index(row, 0, current).data().toString());
                QCOMPARE(dialog.highlightedFolder(), m_base);
                dialog.reject();
            },
            &leftOpen);
        QVERIFY(!leftOpen);
        QVERIFY(expanded);
        QVERIFY(focused);
        QVERIFY(modal);
        // Folders only, hidden ones too, in name order without regard to case.
        QCOMPARE(shown, QStringList({".hidden", "alpha", "Beta", "gamma"}));
    }

    void confirmReturnsTheHighlightedFolder_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("child") << "alpha";
        QTest::newRow("nested") << "gamma/inner";
        QTest::newRow("hidden") << ".hidden";
        QTest::newRow("root") << QString();
    }
    void confirmReturnsTheHighlightedFolder()
    {
        QFETCH(QString, relative);
        const QString target = relative.isEmpty() ? QString("/") : at(relative);
        BrowseDialog dialog;
        bool leftOpen = false;
        const bool confirmed = showAndDo(
            dialog,
            [&] {
                QVERIFY(dialog.selectFolder(target));
                QTest::mouseClick(buttonOf(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
            },
            &leftOpen);
        QVERIFY(!leftOpen);
        QVERIFY(confirmed);
        QCOMPARE(dialog.selectedFolder(), target);
    }

    void cancelReturnsFalseAndKeepsTheLastConfirmed()
    {
        BrowseDialog dialog;
        bool leftOpen = false;
        QVERIFY(showAndDo(
            dialog,
            [&] {
                dialog.selectFolder(at("alpha"));
                buttonOf(dialog, QDialogButtonBox::Ok)->click();
            },
            &leftOpen));
        QCOMPARE(dialog.selectedFolder(), at("alpha"));

        const bool confirmed = showAndDo(
            dialog,
            [&] {
                QVERIFY(dialog.selectFolder(at("Beta")));
                QTest::mouseClick(buttonOf(dialog, QDialogButtonBox::Cancel), Qt::LeftButton);
            },
            &leftOpen);
        QVERIFY(!leftOpen);
        QVERIFY(!confirmed);
        QCOMPARE(dialog.selectedFolder(), at("alpha"));
    }

    void keyboard_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("expected"); // selected folder after a confirm
        QTest::newRow("enter confirms") << "gamma" << QList<int>{Qt::Key_Return} << true << "gamma";
        QTest::newRow("keypad enter") << "Beta" << QList<int>{Qt::Key_Enter} << true << "Beta";
        QTest::newRow("escape cancels") << "gamma" << QList<int>{Qt::Key_Escape} << false << "";
        QTest::newRow("down then enter")
            << "alpha" << QList<int>{Qt::Key_Down, Qt::Key_Return} << true << "Beta";
        QTest::newRow("up then enter")
            << "alpha" << QList<int>{Qt::Key_Up, Qt::Key_Return} << true << ".hidden";
        QTest::newRow("open branch, down, enter")
            << "gamma" << QList<int>{Qt::Key_Right, Qt::Key_Down, Qt::Key_Return} << true
            << "gamma/inner";
        QTest::newRow("down then escape")
            << "alpha" << QList<int>{Qt::Key_Down, Qt::Key_Escape} << false << "";
    }
    void keyboard()
    {
        QFETCH(QString, start);
        QFETCH(QList<int>, keys);
        QFETCH(bool, confirmed);
        QFETCH(QString, expected);
        BrowseDialog dialog;
        bool leftOpen = false;
        const bool result = showAndDo(
            dialog,
            [&] {
                QVERIFY(dialog.selectFolder(at(start)));
                for (int key : keys)
                    QTest::keyClick(treeOf(dialog), Qt::Key(key));
            },
            &leftOpen);
        QVERIFY(!leftOpen);
        QCOMPARE(result, confirmed);
        QCOMPARE(dialog.selectedFolder(), expected.isEmpty() ? QString() : at(expected));
    }

    void selectionChangedCarriesTheHighlightedPath()
    {
        BrowseDialog dialog;
        dialog.setStatusText("untouched");
        QSignalSpy spy(&dialog, &BrowseDialog::SelectionChanged);
        bool leftOpen = false;
        QList<QVariantList> seen;
        QString statusWhileOpen;
        showAndDo(
            dialog,
            [&] {
                dialog.selectFolder(at("alpha"));
                QTest::keyClick(treeOf(dialog), Qt::Key_Down);
                QTest::keyClick(treeOf(dialog), Qt::Key_Down);
                statusWhileOpen = dialog.statusText();
                seen = spy;
                dialog.reject();
            },
            &leftOpen);
        QVERIFY(!leftOpen);
        QCOMPARE(seen.size(), 4);
        // The start folder first, as the dialog opens; then each change.
        QCOMPARE(seen[0], QVariantList({m_base, 0}));
        QCOMPARE(seen[1], QVariantList({at("alpha"), 0}));
        QCOMPARE(seen[2], QVariantList({at("Beta"), 0}));
        QCOMPARE(seen[3], QVariantList({at("gamma"), 0}));
        // The status line belongs to the owner: the dialog leaves it alone.
        QCOMPARE(statusWhileOpen, QString("untouched"));
    }

    void ownerShowsTheHighlightInTheStatusLine()
    {
        // What the main window does with each highlight.
        BrowseDialog dialog;
        connect(&dialog, &BrowseDialog::SelectionChanged, &dialog,
                [&dialog](const QString& path, int) { dialog.setStatusText(path); });
        bool leftOpen = false;
        QStringList lines;
        showAndDo(
            dialog,
            [&] {
                lines.append(labelText(dialog, "statusLabel"));
                dialog.selectFolder(at("gamma/outer"));
                lines.append(labelText(dialog, "statusLabel"));
                QTest::keyClick(treeOf(dialog), Qt::Key_Up);
                lines.append(labelText(dialog, "statusLabel"));
                QTest::keyClick(treeOf(dialog), Qt::Key_Escape);
            },
            &leftOpen);
        QVERIFY(!leftOpen);
        QCOMPARE(lines, QStringList({m_base, at("gamma/outer"), at("gamma/inner")}));
    }

    void noNotificationWhileClosed()
    {
        BrowseDialog dialog;
        QSignalSpy spy(&dialog, &BrowseDialog::SelectionChanged);
        QVERIFY(dialog.selectFolder(at("alpha")));
        QCOMPARE(dialog.highlightedFolder(), at("alpha"));
        QCOMPARE(spy.count(), 0);
    }

    void selectFolder_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("highlighted"); // empty: refused
        QTest::newRow("exact") << "gamma/inner"
                               << "gamma/inner";
        QTest::newRow("other letter case") << "BETA"
                                           << "Beta";
        QTest::newRow("trailing separator") << "alpha/"
                                            << "alpha";
        QTest::newRow("a file") << "file.zip"
                                << "";
        QTest::newRow("missing") << "nothing/here"
                                 << "";
    }
    void selectFolder()
    {
        QFETCH(QString, asked);
        QFETCH(QString, highlighted);
        BrowseDialog dialog;
        QVERIFY(dialog.selectFolder(at("alpha")));
        QCOMPARE(dialog.selectFolder(at(asked)), !highlighted.isEmpty());
        QCOMPARE(dialog.highlightedFolder(), at(highlighted.isEmpty() ? "alpha" : highlighted));
    }

    void undecodableFolderNameKeepsItsBytes()
    {
        const QByteArray raw = QFile::encodeName(m_base) + "/caf\xe9";
        QVERIFY(::mkdir(raw.constData(), 0755) == 0);
        const QString path = vexlo::platform::decodeName(raw);
        BrowseDialog dialog;
        bool leftOpen = false;
        const bool confirmed = showAndDo(
            dialog,
            [&] {
                QVERIFY(dialog.selectFolder(path));
                QTest::keyClick(treeOf(dialog), Qt::Key_Return);
            },
            &leftOpen);
        ::rmdir(raw.constData());
        QVERIFY(!leftOpen);
        QVERIFY(confirmed);
        QCOMPARE(vexlo::platform::encodeName(dialog.selectedFolder()), raw);
    }

    void eachOpeningReadsTheFoldersAgain()
    {
        BrowseDialog dialog;
        bool leftOpen = false;
        bool foundBefore = true;
        showAndDo(
            dialog,
            [&] {
                foundBefore = dialog.selectFolder(at("delta"));
                dialog.reject();
            },
            &leftOpen);
        QVERIFY(QDir(m_base).mkpath("delta"));
        const bool confirmed = showAndDo(
            dialog,
            [&] {
                QVERIFY(dialog.selectFolder(at("delta")));
                QTest::keyClick(treeOf(dialog), Qt::Key_Return);
            },
            &leftOpen);
        QDir(at("delta")).removeRecursively();
        QVERIFY(!foundBefore);
        QVERIFY(confirmed);
        QCOMPARE(dialog.selectedFolder(), at("delta"));
    }
};

QTEST_MAIN(TestBrowse)
#include "test_browse.moc"
