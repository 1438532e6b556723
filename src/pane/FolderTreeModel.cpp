// SPDX-License-Identifier: MIT
#include "pane/FolderTreeModel.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QStringList>

#include <algorithm>

namespace vexlo::pane {

namespace {

bool folderOrder(const QString& a, const QString& b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent)
{
    reload();
}

FolderTreeModel::~FolderTreeModel() = default;

void FolderTreeModel::reload()
{
    beginResetModel();
    m_top = std::make_unique<Node>();
    m_top->read = true;
    auto root = std::make_unique<Node>();
    root->name = platform::kRootFolder;
    root->path = platform::kRootFolder;
    root->parent = m_top.get();
    m_top->children.push_back(std::move(root));
    endResetModel();
}

FolderTreeModel::Node* FolderTreeModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_top.get();
}

QModelIndex FolderTreeModel::indexOf(Node* node) const
{
    if (!node || node == m_top.get())
        return QModelIndex();
    return createIndex(node->row, 0, node);
}

void FolderTreeModel::readChildren(Node* node)
{
    if (node->read)
        return;
    node->read = true;
    std::vector<platform::DirEntry> entries;
    QStringList names;
    if (platform::listDirectory(node->path, entries)) {
        for (const platform::DirEntry& entry : entries) {
            if (entry.isDir)
                names.append(entry.name);
        }
    }
    std::sort(names.begin(), names.end(), folderOrder);
    if (names.isEmpty()) {
        // The branch marker goes away now that we know it is empty.
        const QModelIndex index = indexOf(node);
        emit dataChanged(index, index);
        return;
    }
    beginInsertRows(indexOf(node), 0, int(names.size()) - 1);
    for (const QString& name : names) {
        auto child = std::make_unique<Node>();
        child->name = name;
        child->path = platform::joinPath(node->path, name);
        child->parent = node;
        child->row = int(node->children.size());
        node->children.push_back(std::move(child));
    }
    endInsertRows();
}

QModelIndex FolderTreeModel::indexOfPath(const QString& path)
{
    if (!path.startsWith(platform::kSeparator))
        return QModelIndex();
    const QString real = platform::resolvePath(path);
    Node* node = m_top->children.front().get();
    for (const QString& part : real.split(platform::kSeparator, Qt::SkipEmptyParts)) {
        readChildren(node);
        const auto found = std::find_if(node->children.begin(), node->children.end(),
                                        [&part](const auto& child) { return child->name == part; });
        if (found == node->children.end())
            return QModelIndex();
        node = found->get();
    }
    return indexOf(node);
}

QString FolderTreeModel::pathOf(const QModelIndex& index) const
{
    return index.isValid() ? nodeOf(index)->path : QString();
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    if (column != 0 || row < 0 || size_t(row) >= node->children.size())
        return QModelIndex();
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return QModelIndex();
    return indexOf(nodeOf(child)->parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(nodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    // Until a branch is read we cannot know: offer to open it.
    return !node->read || !node->children.empty();
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const Node* node = nodeOf(index);
    switch (role) {
    case Qt::DisplayRole:
        return node->name;
    case Qt::ToolTipRole:
    case PathRole:
        return node->path;
    case Qt::DecorationRole:
        return m_icon;
    default:
        return QVariant();
    }
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const
{
    return !nodeOf(parent)->read;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent)
{
    readChildren(nodeOf(parent));
}

} // namespace vexlo::pane
