// SPDX-License-Identifier: MIT
// The list file's destination and viewing.
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"
#include "shell/Form1.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"

#include <QFileDialog>

namespace vexlo {

void Form1::openListDestination()
{
    // A cancel, or any failure, ends the command silently; what was already
    // set stays set.
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("*.txt (*.txt)"));
    dialog.setWindowTitle(QStringLiteral("Save file list"));
    const QString start = m_pathPanel->path();
    if (!start.isEmpty())
        dialog.setDirectory(start);
    dialog.selectFile(platform::kDefaultListFileName);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString chosen = dialog.selectedFiles().value(0);
    if (chosen.isEmpty())
        return;

    // The list is made where and under the name typed, letter case kept; the
    // panel shows it lower-cased.
    m_state.listFilePath = chosen;
    QString shown = platform::lowerPath(chosen);
    if (shown.toUpper() == platform::kDefaultListFileName.toUpper()) {
        shown = platform::kDefaultListFileName;
        m_state.listFilePath = shown;
    }
    m_listPanel->showPath(shown, m_state.listFilePath);

    m_diskInfo.setDriveLetter(m_state.listFilePath);
    if (m_diskInfo.FreeSpace() < platform::DiskInfo::kWritableThreshold)
        m_listPanel->setCaption(QString());
}

void Form1::viewList()
{
    if (m_state.listFilePath.isEmpty())
        m_state.listFilePath =
            platform::joinPath(m_pathPanel->path(), platform::kDefaultListFileName);
    const platform::FileStat st = platform::statPath(m_state.listFilePath);
    if (!st.ok || !st.isFile || platform::lastComponent(m_state.listFilePath).startsWith(u'.'))
        return;
    const QString& real = m_state.listFilePath;
    platform::Launcher* launcher = platform::launcher();
    if (!launcher || !launcher->openFile(real)) {
        MessageRequest request;
        request.icon = QMessageBox::Warning;
        request.title = QStringLiteral("Vexlo32");
        request.text = QStringLiteral("The list file %1 could not be opened: no text editor "
                                      "could be started.")
                           .arg(real);
        showMessage(this, request);
    }
}

} // namespace vexlo
