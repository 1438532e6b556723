// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace vexlo::pane {

// The folder tree of the browse dialog: one top item for the root "/", and
// below it every folder (hidden ones and links to folders too), read on
// demand when a branch is opened. Folders are listed through the program's
// own file access, so names that are not valid UTF-8 keep their bytes and
// the path handed back opens the very folder that was shown. Reading is
// synchronous: a path can be found and highlighted at once, before anything
// is painted.
class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Role { PathRole = Qt::UserRole + 1 };

    explicit FolderTreeModel(QObject* parent = nullptr);
    ~FolderTreeModel() override;

    // Shown beside every folder (a QIcon in a QVariant).
    void setFolderIcon(const QVariant& icon) { m_icon = icon; }

    // Forgets everything read so far; branches are read again when opened.
    void reload();

    // The item of a folder path, reading the branches on the way; an invalid
    // index when some part of the path is not a folder.
    QModelIndex indexOfPath(const QString& path);
    QString pathOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Node {
        QString name;
        QString path;
        Node* parent = nullptr;
        int row = 0;
        bool read = false;
        std::vector<std::unique_ptr<Node>> children;
    };

    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(Node* node) const;
    void readChildren(Node* node);

    std::unique_ptr<Node> m_top; // invisible; its one child is "/"
    QVariant m_icon;
};

} // namespace vexlo::pane
