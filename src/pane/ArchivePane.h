// SPDX-License-Identifier: MIT
#pragma once

#include "diz/PaneModel.h"

#include <QHash>
#include <QListView>
#include <QStringListModel>

namespace vexlo {

// The archive pane: the regular, non-hidden files of one folder sorted by
// name without regard to letter case, with extended multiple selection.
// Selection changes made by the user are announced by clicked(); changes the
// program makes itself (highlights during a run) are not.
class ArchivePane : public QListView, public PaneModel {
    Q_OBJECT

public:
    explicit ArchivePane(QWidget* parent = nullptr);

    QString folderPath() const override { return m_folder; }
    bool setFolderPath(const QString& folder) override;
    void setFolderEntries(const QString& folder, const QStringList& names) override;
    bool refresh() override;
    int count() const override { return int(m_names.size()); }
    QString name(int index) const override { return m_names.value(index); }
    bool isSelected(int index) const override;
    void setSelected(int index, bool selected) override;

    // Index of the last selected entry in list order, or -1.
    int lastSelectedIndex() const;
    // All selected indexes, in list order.
    QList<int> selectedRows() const;
    void clearSelectionQuietly();
    // While held (a list run), the pane takes its changes in but is neither
    // painted nor scrolled, and the flags the program sets are kept aside:
    // a highlight that moves on at every file costs no selection change.
    // On release the flags that differ from the selection are applied, and
    // the pane is painted once and scrolled to the last entry selected.
    void setHeld(bool held);

signals:
    // The user changed the selection.
    void selectionClicked();
    // A mouse button went down over the list.
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    void load(const QStringList& names);

    QString m_folder;
    QStringList m_names;
    QStringListModel m_model;
    int m_quiet = 0; // > 0 while the program itself changes the selection
    bool m_held = false;
    QHash<int, bool> m_heldFlags; // set while held, not yet applied
    int m_scrollTo = -1;          // selected while held
};

} // namespace vexlo
