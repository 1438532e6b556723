// The archive pane's handlers of the main window: selection tracking,
// refresh and delete.
#include "diz/DizReader.h"
#include "pane/ArchivePane.h"
#include "pane/BrowseDialog.h"
#include "pane/FolderHolder.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"

#include <QCoreApplication>
#include <QPlainTextEdit>

namespace vexlo {

void Form1::Command3_Click()
{
    if (!BrowseDialog1) {
        BrowseDialog1 = new pane::BrowseDialog(this);
        BrowseDialog1->setObjectName(QStringLiteral("BrowseDialog1"));
        connect(BrowseDialog1, &pane::BrowseDialog::SelectionChanged, this,
                &Form1::BrowseDialog1_SelectionChanged);
    }
    // 1. No start folder of ours: the dialog's own default applies.
    if (!BrowseDialog1->show())
        return;

    // 2. The pick is remembered even when it cannot be used.
    m_state.chosenFolder = platform::lowerPath(BrowseDialog1->selectedFolder());

    // 3. A folder that went away since the dialog showed it changes nothing else.
    if (!platform::isDirectory(m_state.chosenFolder))
        return;

    // 4.-6. The panel and the pane take the lower-cased text; Dir1 keeps the
    //       folder as the dialog reports it.
    SSPanel2->setCaption(m_state.chosenFolder);
    if (!File1->setFolderPath(m_state.chosenFolder)) {
        SSPanel2->setCaption(QString());  // 7. recovery, no message
        return;
    }
    Dir1->setPath(BrowseDialog1->selectedFolder());
}

void Form1::BrowseDialog1_SelectionChanged(const QString& path, int)
{
    BrowseDialog1->setStatusText(path);
}

void Form1::File1_Click()
{
    // The last selected entry in list order wins; none leaves the name empty.
    const int last = File1->lastSelectedIndex();
    const QString name = last >= 0 ? File1->name(last) : QString();
    // The separator decision looks at the folder last confirmed in the browse
    // dialog; the text joined is the pane's own folder.
    m_state.selectedFilePath = diz::joinPaneEntry(File1->folderPath(), m_state.chosenFolder, name);
}

void Form1::refresh_Click()
{
    if (savingDescriptions())
        return;
    File1->refresh();
    QCoreApplication::processEvents();
    Text1->setPlainText(QString());
}

void Form1::delete_Click()
{
    if (savingDescriptions())
        return;
    MessageRequest request;
    request.icon = QMessageBox::Warning;
    request.title = QStringLiteral("Vexlo32");
    request.text = QStringLiteral("Delete all files selected?");
    request.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    request.defaultButton = QMessageBox::Ok;
    if (showMessage(this, request) != QMessageBox::Ok)
        return;

    // At the root the folder part is empty, so that joining gives one "/".
    QString folder = File1->folderPath();
    if (folder.endsWith(platform::kSeparator))
        folder.chop(1);

    // The pane is not re-read in the loop, so the indexes stay valid.
    const int n = File1->count();
    for (int i = 0; i < n; ++i) {
        if (!File1->isSelected(i))
            continue;
        const QString path = folder + platform::kSeparator + File1->name(i);
        // The name is used exactly as listed: never as a pattern, and never
        // matched to a sibling that differs only in letter case.
        const platform::FileStat st = platform::statExact(path, false);
        if (!st.ok)
            continue;  // vanished since the pane was read
        const bool regular = st.isLink ? platform::statExact(path, true).isFile : st.isFile;
        if (!regular)
            continue;
        // The attribute reset before deleting does nothing here: a
        // write-protected file in a writable folder can be deleted, and a
        // file that cannot be keeps its permissions. A link is deleted as a
        // link.
        platform::removeExactFile(path);  // a failure passes over this file
    }
    File1->refresh();
}

}  // namespace vexlo
