// SPDX-License-Identifier: MIT
#pragma once

#include "catalog/ListOptions.h"
#include "catalog/ListWriter.h"
#include "diz/PaneModel.h"
#include "diz/RunControl.h"
#include "diz/ZipComponent.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace vexlo::catalog {

// What the list builder and the folder walk need of the window. The window
// implements it over its controls; the command-line mode and the tests have
// their own. Every call happens on the thread that runs the list.
class CatalogHost {
public:
    virtual ~CatalogHost() = default;

    // The check mark of "&Long filename format"; asked afresh for every entry
    // and, in multi-line descriptions, for every line.
    virtual bool longFileFormat() const = 0;
    // Lets pending events run once (repaints, and the Abort press, which only
    // changes flags). Called once per folder and once per file.
    virtual void yieldToEvents() = 0;
    // The progress bar's position; the builder sets it back to 0 after each
    // extraction (the zip component's Status signal moves it meanwhile).
    virtual void setProgress(int value) = 0;
    virtual void setTitle(const QString& title) = 0;
    virtual void setPathPanel(const QString& text) = 0;
    // The folder the run has reached, as the window holds it.
    virtual void setCurrentFolder(const QString& folder) = 0;

    // Progress notes for a host that counts (the command line); the window
    // needs neither.
    virtual void folderStarted(const QString& shownFolder) { Q_UNUSED(shownFolder); }
    // The file whose entry is written next, where it is on disk (the window
    // keeps it as the selected file).
    virtual void fileStarted(const QString& realPath) { Q_UNUSED(realPath); }
    // A folder that could not be read (it still gets its section, empty).
    virtual void folderUnreadable(const QString& shownFolder, int error)
    {
        Q_UNUSED(shownFolder);
        Q_UNUSED(error);
    }
};

// The description of one archive as the list needs it: the zip status, and
// the bytes of its description when one was found.
struct ArchiveDescription {
    diz::ZipStatus status = diz::ZipStatus::Success;
    bool present = false;
    QByteArray bytes;
};

// Where descriptions come from. The list uses one function for it, so that
// extraction through the temporary file can give way to reading the member
// in memory without any change to the list.
class DescriptionReader {
public:
    virtual ~DescriptionReader() = default;
    virtual ArchiveDescription read(const QString& archivePath) = 0;
    // The same for an archive the builder has open (path names it for the
    // user; size is what the builder's fstat of the regular file fd said);
    // a reader that can reads through the descriptor.
    virtual ArchiveDescription readOpen(int fd, qint64 size, const QString& path)
    {
        Q_UNUSED(fd);
        Q_UNUSED(size);
        return read(path);
    }
    // True when read() may leave the temporary description file behind; the
    // builder then removes it before the next file. A reader that never
    // writes it spares the builder that look at the disk for every file.
    virtual bool leavesTemporaryFile() const { return true; }
};

// The description through the zip component: extract file_id.diz into the
// data folder as the temporary description file, then read that file. The
// builder deletes the temporary file before every file, so a file found after
// the call is this archive's.
class ExtractingDescriptionReader : public DescriptionReader {
public:
    explicit ExtractingDescriptionReader(diz::ZipComponent& zip) : m_zip(zip) {}
    ArchiveDescription read(const QString& archivePath) override;

private:
    diz::ZipComponent& m_zip;
};

// The description read straight into memory through the zip component, with
// the same statuses as an extraction and without writing the temporary file:
// what the window and the command line use, since an extraction costs a
// file written, flushed to the disk and read back for every archive.
class MemoryDescriptionReader : public DescriptionReader {
public:
    explicit MemoryDescriptionReader(diz::ZipComponent& zip) : m_zip(zip) {}
    ArchiveDescription read(const QString& archivePath) override;
    ArchiveDescription readOpen(int fd, qint64 size, const QString& path) override;
    bool leavesTemporaryFile() const override { return false; }

private:
    diz::ZipComponent& m_zip;
};

// Everything one Make-list run works with.
struct CatalogJob {
    RunControl& run;
    const ListOptions& options;
    PaneModel& pane;
    diz::ZipComponent& zip; // AbortRequest is set on it by the Abort press
    ListWriter& writer;
    CatalogHost& host;
    // Where descriptions come from; null means through zip, extracted.
    DescriptionReader* descriptions = nullptr;
};

// A folder the walk holds open, with what one read of it gave: the builder
// looks at nothing again, and reaches every file through the folder's
// descriptor (so that paths longer than the system takes still work).
struct FolderContents {
    int fd = -1;                             // the folder, open for reading
    std::vector<platform::FolderItem> files; // the pane's files, in its order
    QStringList allNames;                    // every entry, for the short names
};

// Writes the section of the folder the pane shows: an empty line, the
// folder's path in lower case, then one entry per file of the pane. The list
// file must be open. Stops before the next file when keepRunning is false or
// the list file failed; writes nothing when listAborted is set. The list
// file itself is never listed, wherever it lies and whatever it is called.
// Nothing but the list file and the temporary description file is changed.
// realFolder: where the pane's folder is on disk, when the caller knows it;
// otherwise the pane's text is resolved. contents: what the walk read of the
// folder; without it the folder is read here.
void BuildFolderEntries(CatalogJob& job, const QString& realFolder = QString(),
                        const FolderContents* contents = nullptr);

} // namespace vexlo::catalog
