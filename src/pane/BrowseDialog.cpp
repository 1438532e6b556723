// SPDX-License-Identifier: MIT
#include "pane/BrowseDialog.h"

#include "pane/FolderTreeModel.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"

#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <pwd.h>
#include <unistd.h>

namespace vexlo::pane {

BrowseDialog::BrowseDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Browse for folder"));
    setModal(true);

    m_prompt = new QLabel(QStringLiteral("Select directory of zip's"), this);
    m_prompt->setObjectName(QStringLiteral("promptLabel"));
    m_prompt->setTextFormat(Qt::PlainText);

    // The owner writes the highlighted path here; a long path must not
    // stretch the dialog, so the line takes whatever width it is given.
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->setMinimumHeight(m_status->fontMetrics().height());

    m_model = new FolderTreeModel(this);
    m_model->setFolderIcon(QFileIconProvider().icon(QAbstractFileIconProvider::Folder));

    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->setObjectName(QStringLiteral("buttonBox"));
    // Enter anywhere in the dialog confirms the highlighted folder.
    m_buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_status);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_buttons);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &BrowseDialog::highlightChanged);

    m_tree->setFocus();
    resize(420, 480);
}

BrowseDialog::~BrowseDialog() = default;

bool BrowseDialog::show()
{
    // Read the tree afresh: folders may have come and gone since last time.
    m_model->reload();
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    m_open = true;
    const QModelIndex root = m_model->index(0, 0);
    m_tree->expand(root);
    if (!selectFolder(startFolder()))
        selectFolder(QStringLiteral("/"));
    // The start folder is shown open, so that its sub-folders are in view.
    m_tree->expand(m_tree->currentIndex());
    m_tree->setFocus();

    const bool confirmed = exec() == QDialog::Accepted;
    m_open = false;
    if (!confirmed)
        return false;
    const QString highlighted = highlightedFolder();
    if (highlighted.isEmpty())
        return false;
    m_selected = highlighted;
    return true;
}

void BrowseDialog::setStatusText(const QString& text)
{
    m_status->setText(text);
}

QString BrowseDialog::statusText() const
{
    return m_status->text();
}

QString BrowseDialog::promptText() const
{
    return m_prompt->text();
}

QString BrowseDialog::startFolder()
{
    QString home = platform::decodeName(qgetenv("HOME"));
    if (home.isEmpty() || !platform::isDirectory(home)) {
        if (const passwd* entry = ::getpwuid(::getuid()))
            home = platform::decodeName(QByteArray(entry->pw_dir));
    }
    if (home.isEmpty() || !home.startsWith(u'/') || !platform::isDirectory(home))
        return QStringLiteral("/");
    return home;
}

bool BrowseDialog::selectFolder(const QString& path)
{
    const QModelIndex index = m_model->indexOfPath(path);
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        m_tree->expand(up);
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    m_tree->scrollTo(index);
    return true;
}

QString BrowseDialog::highlightedFolder() const
{
    return m_model->pathOf(m_tree->currentIndex());
}

void BrowseDialog::highlightChanged()
{
    const QString path = highlightedFolder();
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!path.isEmpty());
    // The status line is the owner's: we only tell it what is highlighted.
    if (m_open && !path.isEmpty())
        emit SelectionChanged(path, 0);
}

} // namespace vexlo::pane
