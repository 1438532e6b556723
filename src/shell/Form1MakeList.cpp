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

namespace {

const QString kMakeListCaption = QStringLiteral("&Make list");
const QString kAbortCaption = QStringLiteral("&Abort");

// The window as the list builder and the walk see it.
//
// The builder yields once per folder and once per file. Every yield runs the
// pending events, so an Abort press is answered at the next file; but
// painting the pane and the progress bar for every file would cost more than
// reading the archive, and nobody can read a highlight that moves thousands
// of times a second. So while the run goes on those two controls only take
// their changes in, and are painted at a human rate: at most every
// kRepaintInterval ms, in the yield that comes first after it.
class WindowCatalogHost : public catalog::CatalogHost {
public:
    static constexpr qint64 kRepaintInterval = 30;

    explicit WindowCatalogHost(Form1& window) : m_window(window)
    {
        m_sincePaint.start();
        holdPainting(true);
    }
    ~WindowCatalogHost() override { holdPainting(false); }
    WindowCatalogHost(const WindowCatalogHost&) = delete;
    WindowCatalogHost& operator=(const WindowCatalogHost&) = delete;

    bool longFileFormat() const override { return m_window.longfile->isChecked(); }
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
    void setProgress(int value) override { m_window.PVProgressBar1->setValue(value); }
    void setTitle(const QString& title) override { m_window.setWindowTitle(title); }
    void setPathPanel(const QString& text) override { m_window.SSPanel2->setCaption(text); }
    void setCurrentFolder(const QString& folder) override { m_window.Dir1->setPath(folder); }
    void fileStarted(const QString& fullPath) override
    {
        m_window.state().selectedFilePath = fullPath;
    }

private:
    void holdPainting(bool hold)
    {
        m_window.File1->setUpdatesEnabled(!hold);
        m_window.PVProgressBar1->setUpdatesEnabled(!hold);
    }

    Form1& m_window;
    QElapsedTimer m_sincePaint;
};

} // namespace

void Form1::Command4_Click()
{
    // A press while a list is being made arrives inside one of the run's
    // yields: it only changes flags and the caption, and returns.
    if (Command4->text() == kAbortCaption) {
        XceedZip1->setAbortRequest(true);
        m_state.run.keepRunning = false;
        m_state.run.listAborted = true;
        Command4->setText(kMakeListCaption);
        return;
    }

    // 1. The folder to list must exist.
    const QString pathText = SSPanel2->caption();
    if (pathText.isEmpty() || !platform::isDirectory(pathText)) {
        SSPanel2->setCaption(QString());
        File1->setFolderPath(platform::kRootFolder);
        return;
    }
    // 2. and 3.
    File1->refresh();
    DiskInfo1.setDriveLetter(pathText);
    m_state.list.readOnlyDrive = DiskInfo1.FreeSpace() < platform::DiskInfo::kWritableThreshold;

    // 4. No destination, no list.
    const QString listFile = SSPanel1->caption();
    if (listFile.isEmpty())
        return;

    // The run: busy state first.
    setCursor(Qt::WaitCursor);
    for (QWidget* w : {static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2),
                       static_cast<QWidget*>(Command3), static_cast<QWidget*>(Command5),
                       static_cast<QWidget*>(Command6), static_cast<QWidget*>(Text1)})
        w->setEnabled(false);
    Text1->setPlainText(QString());
    sdiz->setEnabled(false);
    Command4->setText(kAbortCaption);
    m_state.run.keepRunning = true;
    file->menuAction()->setEnabled(false);
    m_state.run.listAborted = false;

    const QString start = pathText;
    m_runStartFolder = start;
    catalog::MakeListResult result;
    {
        WindowCatalogHost host(*this);
        catalog::ListWriter writer;
        catalog::MemoryDescriptionReader descriptions(*XceedZip1);
        catalog::CatalogJob job{m_state.run, m_state.list, *File1, *XceedZip1, writer, host, &descriptions};
        result = catalog::MakeListRun(job, listFile, start);
    }

    // Closing steps, after a finished, aborted or failed run alike.
    setWindowTitle(QStringLiteral("Vexlo32"));
    SSPanel2->setCaption(start);
    Dir1->setPath(start);
    File1->setFolderPath(start);
    m_runStartFolder.clear();
    Command1->setEnabled(true);
    sdiz->setEnabled(true);
    file->menuAction()->setEnabled(true);
    Command4->setText(kMakeListCaption);
    m_state.run.keepRunning = false;
    for (QWidget* w : {static_cast<QWidget*>(File1), static_cast<QWidget*>(Text1),
                       static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2),
                       static_cast<QWidget*>(Command3), static_cast<QWidget*>(Command5),
                       static_cast<QWidget*>(Command6)})
        w->setEnabled(true);
    options->menuAction()->setEnabled(true);
    help->menuAction()->setEnabled(true);
    unsetCursor();

    // A list that could not be written is never passed off as made.
    if (!result.ok && !m_unloaded) {
        MessageRequest request;
        request.icon = QMessageBox::Warning;
        request.title = QStringLiteral("Vexlo32");
        request.text = QStringLiteral("The file list %1 could not be written: %2")
                           .arg(platform::resolvePath(listFile), result.errorText);
        showMessage(this, request);
    }
}

} // namespace vexlo
