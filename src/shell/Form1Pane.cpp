// SPDX-License-Identifier: MIT
// The archive pane's handlers of the main window: selection tracking,
// refresh and delete.
#include "diz/DizReader.h"
#include "pane/ArchivePane.h"
#include "pane/BrowseDialog.h"
#include "pane/FolderHolder.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"

#include <QCoreApplication>
#include <QPlainTextEdit>

#include <utility>

namespace vexlo {

void Form1::browseForFolder()
{
    if (!m_browseDialog) {
        m_browseDialog = new pane::BrowseDialog(this);
        m_browseDialog->setObjectName(QStringLiteral("BrowseDialog1"));
        connect(m_browseDialog, &pane::BrowseDialog::SelectionChanged, this,
                &Form1::showHighlightedFolder);
    }
    // 1. No start folder of ours: the dialog's own default applies.
    if (!m_browseDialog->show())
        return;
    openFolder(m_browseDialog->selectedFolder());
}

void Form1::openFolder(const QString& realFolder)
{
    // A folder handed over from the command line while a run holds the pane
    // (or is still winding down after an Abort) is opened when the run is
    // over: the second start was told it is taken, so it must not be lost.
    // Of several, the latest wins, as it would have when idle.
    if (m_run != Run::Idle || runWindingDown()) {
        qCInfo(lcWindow).noquote() << "opening the folder after the run" << realFolder;
        m_folderAfterRun = realFolder;
        return;
    }
    qCInfo(lcWindow).noquote() << "opening the folder" << realFolder;

    // 2. The pick is remembered even when it cannot be used: the folder as
    //    given, letter case kept.
    const QString& picked = realFolder;
    m_state.chosenFolder = picked;

    // 3. A folder that went away since the dialog showed it changes nothing else.
    if (!platform::isDirectory(picked))
        return;

    // 4.-6. The panel shows the folder lower-cased; it, the pane and the
    //       folder holder act on the folder picked.
    m_pathPanel->showPath(platform::lowerPath(picked), picked);
    if (!m_archivePane->setFolderPath(picked)) {
        m_pathPanel->setCaption(QString()); // 7. recovery, no message
        return;
    }
    m_folderHolder->setPath(picked);
}

void Form1::openFolderAfterRun()
{
    if (m_unloaded || m_folderAfterRun.isEmpty() || m_run != Run::Idle || runWindingDown())
        return; // a later end of the run comes back here
    const QString folder = std::exchange(m_folderAfterRun, QString());
    openFolder(folder);
}

void Form1::showHighlightedFolder(const QString& folder)
{
    m_browseDialog->setStatusText(folder);
}

void Form1::rememberSelectedArchive()
{
    // The last selected entry in list order wins; none leaves the name empty.
    const int last = m_archivePane->lastSelectedIndex();
    const QString name = last >= 0 ? m_archivePane->name(last) : QString();
    // The separator decision looks at the folder last confirmed in the browse
    // dialog; the folder joined is the pane's own.
    m_state.selectedFilePath =
        diz::joinPaneEntry(m_archivePane->folderPath(), m_state.chosenFolder, name);
}

void Form1::refreshPane()
{
    m_archivePane->refresh();
    QCoreApplication::processEvents();
    m_descriptionBox->setPlainText(QString());
}

void Form1::deleteSelectedFiles()
{
    MessageRequest request;
    request.icon = QMessageBox::Warning;
    request.title = QStringLiteral("Vexlo32");
    request.text = QStringLiteral("Delete all files selected?");
    request.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    request.defaultButton = QMessageBox::Ok;
    if (showMessage(this, request) != QMessageBox::Ok)
        return;

    // At the root the folder part is empty, so that joining gives one "/".
    QString folder = m_archivePane->folderPath();
    if (folder.endsWith(platform::kSeparator))
        folder.chop(1);

    // The pane is not re-read in the loop, so the indexes stay valid.
    const int n = m_archivePane->count();
    for (int i = 0; i < n; ++i) {
        if (!m_archivePane->isSelected(i))
            continue;
        const QString path = folder + platform::kSeparator + m_archivePane->name(i);
        // The pane's real folder and the name exactly as listed: never a
        // pattern, and never a sibling that differs only in letter case.
        const platform::FileStat st = platform::statPath(path, false);
        if (!st.ok)
            continue; // vanished since the pane was read
        const bool regular = st.isLink ? platform::statPath(path, true).isFile : st.isFile;
        if (!regular)
            continue;
        // The attribute reset before deleting does nothing here: a
        // write-protected file in a writable folder can be deleted, and a
        // file that cannot be keeps its permissions. A link is deleted as a
        // link.
        // Into the Trash where there is one. A file that cannot be deleted is
        // passed over; the pane shows it still.
        if (platform::discardFile(path) == platform::Discarded::Failed)
            qCInfo(lcWindow) << "not deleted:" << path << platform::lastErrorText();
    }
    m_archivePane->refresh();
}

} // namespace vexlo
