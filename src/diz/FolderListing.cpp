// SPDX-License-Identifier: MIT
#include "diz/FolderListing.h"

#include "platform/FileSystem.h"
#include "platform/NameOrder.h"

#include <algorithm>

namespace vexlo {

bool readPaneEntries(const QString& folder, QStringList& names)
{
    names.clear();
    std::vector<platform::DirEntry> entries;
    if (!platform::listDirectory(folder, entries))
        return false;
    names.reserve(qsizetype(entries.size()));
    for (const platform::DirEntry& entry : entries) {
        if (entry.isFile && !entry.name.startsWith(u'.'))
            names.append(entry.name);
    }
    sortPaneNames(names);
    return true;
}

void sortPaneNames(QStringList& names)
{
    platform::sortNames(names);
}

void FolderListing::setFolderEntries(const QString& folder, const QStringList& names)
{
    m_folder = folder;
    m_names = names;
    m_selected.assign(size_t(m_names.size()), false);
}

bool FolderListing::setFolderPath(const QString& folder)
{
    m_folder = folder;
    return refresh();
}

bool FolderListing::refresh()
{
    const bool ok = readPaneEntries(m_folder, m_names);
    m_selected.assign(size_t(m_names.size()), false);
    return ok;
}

bool FolderListing::isSelected(int index) const
{
    return index >= 0 && size_t(index) < m_selected.size() && m_selected[size_t(index)];
}

void FolderListing::setSelected(int index, bool selected)
{
    if (index >= 0 && size_t(index) < m_selected.size())
        m_selected[size_t(index)] = selected;
}

} // namespace vexlo
