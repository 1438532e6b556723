// SPDX-License-Identifier: MIT
// "&Make list" in the main window: the busy state around the shared
// list-making run, and the Abort press.
#include "catalog/FolderWalk.h"
#include "catalog/ListBuilder.h"
#include "catalog/ListWriter.h"
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

namespace vexlo {

// The window as the list builder and the walk see it.
//
// The builder yields once per folder and once per file. Every yield runs the
// pending events, so an Abort press is answered at the next file; but
// painting the pane, the progress bar and the path panel for every file or
// folder would cost more than reading the archive, and nobody can read a
// highlight that moves thousands of times a second. So while the run goes on
// those controls only take their changes in (the pane is not scrolled, the
// progress bar keeps the last value), and are brought up to date and painted
// at a human rate: at most every kRepaintInterval ms, in the yield that comes
// first after it.
class Form1::CatalogWindowHost : public catalog::CatalogHost {
public:
    static constexpr qint64 kRepaintInterval = 30;

    explicit CatalogWindowHost(Form1& window) : m_window(window)
    {
        m_sincePaint.start();
        holdPainting(true);
    }
    ~CatalogWindowHost() override { holdPainting(false); }
    CatalogWindowHost(const CatalogWindowHost&) = delete;
    CatalogWindowHost& operator=(const CatalogWindowHost&) = delete;

    bool longFileFormat() const override { return m_window.m_longNamesItem->isChecked(); }
    void yieldToEvents() override
    {
        if (m_sincePaint.elapsed() < kRepaintInterval) {
            QCoreApplication::processEvents();
            return;
        }
        holdPainting(false); // what changed since the last paint is painted now
        QCoreApplication::processEvents();
        holdPainting(true);
        m_sincePaint.restart();
    }
    void setProgress(int value) override { m_window.showZipProgress(value); }
    void setTitle(const QString& title) override { m_window.setWindowTitle(title); }
    void setPathPanel(const QString& text) override { m_window.m_pathPanel->setCaption(text); }
    void setCurrentFolder(const QString& folder) override
    {
        m_window.m_folderHolder->setPath(folder);
    }
    void fileStarted(const QString& fullPath) override
    {
        m_window.m_state.selectedFilePath = fullPath;
    }

private:
    void holdPainting(bool hold)
    {
        m_window.m_archivePane->setHeld(hold);
        m_window.holdProgress(hold);
        m_window.m_pathPanel->setUpdatesEnabled(!hold);
    }

    Form1& m_window;
    QElapsedTimer m_sincePaint;
};

void Form1::makeListOrAbort()
{
    // A press while a list is being made arrives inside one of the run's
    // yields: it asks the run to stop and returns; the run ends when the
    // builder next looks.
    if (m_run == Run::MakingList) {
        m_zip->setAbortRequest(true);
        m_state.run.listAborted = true;
        setRun(Run::Idle);
        return;
    }

    // 1. The folder to list must exist: the one the Path panel stands for,
    //    on disk; its lower-cased text is only what is shown and written.
    const QString start = m_pathPanel->path();
    const QString shownStart = m_pathPanel->caption();
    if (start.isEmpty() || !platform::isDirectory(start)) {
        m_pathPanel->setCaption(QString());
        m_archivePane->setFolderPath(platform::kRootFolder);
        return;
    }
    // 2. and 3.
    m_archivePane->refresh();
    m_diskInfo.setDriveLetter(start);
    m_state.list.readOnlyDrive = m_diskInfo.FreeSpace() < platform::DiskInfo::kWritableThreshold;

    // 4. No destination, no list. The file is the one typed, letter case kept.
    const QString listFile = m_listPanel->path();
    if (m_listPanel->caption().isEmpty() || listFile.isEmpty())
        return;

    // The run.
    m_descriptionBox->setPlainText(QString());
    setRun(Run::MakingList);
    m_state.run.listAborted = false;

    m_runStartFolder = start;
    catalog::MakeListResult result;
    {
        CatalogWindowHost host(*this);
        catalog::ListWriter writer;
        catalog::MemoryDescriptionReader descriptions(*m_zip);
        catalog::CatalogJob job{m_state.run, m_state.list, *m_archivePane, *m_zip,
                                writer,      host,         &descriptions};
        m_listLoopRunning = true;
        result = catalog::MakeListRun(job, listFile, shownStart, start);
        m_listLoopRunning = false;
    }

    // Closing steps, after a finished, aborted or failed run alike.
    setWindowTitle(QStringLiteral("Vexlo32"));
    m_pathPanel->showPath(shownStart, start);
    m_folderHolder->setPath(start);
    m_archivePane->setFolderPath(start);
    m_runStartFolder.clear();
    // Save diz is offered after any run, whatever it was before.
    m_saveDizOffered = true;
    setRun(Run::Idle);

    // A list that could not be written is never passed off as made.
    if (!result.ok && !m_unloaded) {
        MessageRequest request;
        request.icon = QMessageBox::Warning;
        request.title = QStringLiteral("Vexlo32");
        request.text = QStringLiteral("The file list %1 could not be written: %2")
                           .arg(listFile, result.errorText);
        showMessage(this, request);
    }
}

} // namespace vexlo
