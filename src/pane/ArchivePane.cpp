// SPDX-License-Identifier: MIT
#include "pane/ArchivePane.h"

#include "diz/FolderListing.h"

#include <QItemSelectionModel>
#include <QMouseEvent>

#include <algorithm>
#include <utility>

namespace vexlo {

ArchivePane::ArchivePane(QWidget* parent) : QListView(parent)
{
    setModel(&m_model);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true); // keeps folders of tens of thousands of files quick
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_quiet == 0)
            emit selectionClicked();
    });
}

bool ArchivePane::setFolderPath(const QString& folder)
{
    m_folder = folder;
    return refresh();
}

void ArchivePane::setFolderEntries(const QString& folder, const QStringList& names)
{
    m_folder = folder;
    load(names);
}

bool ArchivePane::refresh()
{
    QStringList names;
    const bool ok = readPaneEntries(m_folder, names);
    load(names);
    return ok;
}

void ArchivePane::load(const QStringList& names)
{
    ++m_quiet;
    m_names = names;
    m_model.setStringList(m_names);
    selectionModel()->clear();
    m_heldFlags.clear();
    m_scrollTo = -1;
    --m_quiet;
}

bool ArchivePane::isSelected(int index) const
{
    const auto held = m_heldFlags.constFind(index);
    if (held != m_heldFlags.constEnd())
        return held.value();
    return selectionModel()->isSelected(m_model.index(index));
}

void ArchivePane::setSelected(int index, bool selected)
{
    if (index < 0 || index >= count())
        return;
    if (m_held) {
        // Only what differs from the selection is kept: the release then
        // touches about one entry, however many the run passed.
        if (selectionModel()->isSelected(m_model.index(index)) == selected)
            m_heldFlags.remove(index);
        else
            m_heldFlags.insert(index, selected);
        if (selected)
            m_scrollTo = index;
        return;
    }
    const QModelIndex item = m_model.index(index);
    if (selectionModel()->isSelected(item) == selected)
        return;
    ++m_quiet;
    selectionModel()->select(item, selected ? QItemSelectionModel::Select
                                            : QItemSelectionModel::Deselect);
    if (selected)
        scrollTo(item);
    --m_quiet;
}

void ArchivePane::setHeld(bool held)
{
    m_held = held;
    if (!held) {
        const QHash<int, bool> flags = std::exchange(m_heldFlags, {});
        for (auto it = flags.constBegin(); it != flags.constEnd(); ++it) {
            const QModelIndex item = m_model.index(it.key());
            if (selectionModel()->isSelected(item) == it.value())
                continue;
            ++m_quiet;
            selectionModel()->select(item, it.value() ? QItemSelectionModel::Select
                                                      : QItemSelectionModel::Deselect);
            --m_quiet;
        }
        if (m_scrollTo >= 0 && m_scrollTo < count())
            scrollTo(m_model.index(m_scrollTo));
        m_scrollTo = -1;
    }
    setUpdatesEnabled(!held);
}

QList<int> ArchivePane::selectedRows() const
{
    QList<int> rows;
    const QModelIndexList indexes = selectionModel()->selectedIndexes();
    rows.reserve(indexes.size());
    for (const QModelIndex& index : indexes)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int ArchivePane::lastSelectedIndex() const
{
    int last = -1;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        last = std::max(last, index.row());
    return last;
}

void ArchivePane::clearSelectionQuietly()
{
    ++m_quiet;
    m_heldFlags.clear();
    selectionModel()->clearSelection();
    --m_quiet;
}

bool ArchivePane::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        emit mouseDown(mouse->button(), mouse->modifiers(), mouse->globalPosition().toPoint());
        // The right button only ever opens the menu; it never selects.
        if (mouse->button() == Qt::RightButton)
            return true;
    }
    return QListView::viewportEvent(event);
}

} // namespace vexlo
