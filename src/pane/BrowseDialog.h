// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QLabel;
class QTreeView;

namespace vexlo::pane {

class FolderTreeModel;

// The modal folder chooser behind "B&rowse": a tree of all folders from the
// root, the prompt, a second prompt line that the owner fills (the window
// shows the highlighted folder there), OK and Cancel. It opens on the user's
// home folder, since the program sets no start folder.
//
// Child object names, for tests and tools: "folderTree", "promptLabel",
// "statusLabel", "buttonBox".
class BrowseDialog : public QDialog {
    Q_OBJECT

public:
    explicit BrowseDialog(QWidget* parent = nullptr);
    ~BrowseDialog() override;

    // Opens the dialog modally, highlighting the start folder; true when the
    // user confirmed a folder, false when cancelled. (Hides QWidget::show on
    // purpose: this dialog is only ever shown modally.)
    bool show();

    // The folder confirmed last, as the dialog spells it; unchanged by a
    // cancel.
    QString selectedFolder() const { return m_selected; }

    // The second prompt line under the prompt.
    void setStatusText(const QString& text);
    QString statusText() const;

    QString promptText() const;

    // The folder show() highlights first: the user's home folder.
    static QString startFolder();

    // Opens the branches down to the folder and highlights it; false (and no
    // change) when the path is not a folder. show() uses it for the start
    // folder; tests use it to pick a folder while the dialog is open.
    bool selectFolder(const QString& path);
    QString highlightedFolder() const;

signals:
    // Raised, while the dialog is open, each time the highlighted folder
    // changes. reserved is always 0.
    void SelectionChanged(const QString& path, int reserved);

private:
    void highlightChanged();

    FolderTreeModel* m_model = nullptr;
    QTreeView* m_tree = nullptr;
    QLabel* m_prompt = nullptr;
    QLabel* m_status = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    QString m_selected;
    bool m_open = false;
};

} // namespace vexlo::pane
