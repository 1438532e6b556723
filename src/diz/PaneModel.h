// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace vexlo {

// The archive pane as the core sees it: a folder, its files by index and a
// selection flag per entry (the list builder uses the flags as highlights).
// The window's file list implements it; the command-line mode and the tests
// use FolderListing.
class PaneModel {
public:
    virtual ~PaneModel() = default;

    // The folder the pane reads, and which Get diz, Save diz and Delete act
    // in: the real folder the user picked (during a list run, the text the
    // walk shows). The window shows it lower-cased elsewhere; the pane never
    // shows its folder.
    virtual QString folderPath() const = 0;
    // Points the pane at a folder and reads it; the selection is empty after.
    // Returns false when the folder cannot be read (the pane is then empty
    // and keeps the new text).
    virtual bool setFolderPath(const QString& folder) = 0;
    // Points the pane at a folder whose files someone else has just read
    // (the folder walk), in the pane's order: nothing is read again.
    virtual void setFolderEntries(const QString& folder, const QStringList& names) = 0;
    // Re-reads the current folder; the selection is empty after.
    virtual bool refresh() = 0;

    virtual int count() const = 0;
    virtual QString name(int index) const = 0;
    virtual bool isSelected(int index) const = 0;
    virtual void setSelected(int index, bool selected) = 0;
};

} // namespace vexlo
