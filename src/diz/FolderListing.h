// SPDX-License-Identifier: MIT
#pragma once

#include "diz/PaneModel.h"

#include <QStringList>
#include <vector>

namespace vexlo {

// The files a file list box shows for a folder: regular files (links to
// files included) whose names do not begin with ".", sorted by name without
// regard to letter case.
bool readPaneEntries(const QString& folder, QStringList& names);
void sortPaneNames(QStringList& names);

// A PaneModel without a window.
class FolderListing : public PaneModel {
public:
    QString folderPath() const override { return m_folder; }
    bool setFolderPath(const QString& folder) override;
    void setFolderEntries(const QString& folder, const QStringList& names) override;
    bool refresh() override;
    int count() const override { return int(m_names.size()); }
    QString name(int index) const override { return m_names.value(index); }
    bool isSelected(int index) const override;
    void setSelected(int index, bool selected) override;

private:
    QString m_folder;
    QStringList m_names;
    std::vector<bool> m_selected;
};

} // namespace vexlo
