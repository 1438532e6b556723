// SPDX-License-Identifier: MIT
// Get diz and Save diz in the main window: the handlers, and the window as
// the description code's host.
#include "diz/DizReader.h"
#include "diz/DizWriter.h"
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1.h"
#include "shell/Form1DizHost.h"

#include <QAction>
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>

namespace vexlo {

void Form1::getDescription()
{
    const QString path = m_dizReader->getDiz(m_state.chosenFolder);
    if (!path.isNull())
        m_state.selectedFilePath = path;
}

void Form1::saveDescriptionsOrAbort()
{
    if (m_run == Run::SavingDescriptions)
        m_dizWriter->abort();
    else
        m_dizWriter->press(m_state.selectedFilePath);
}

QString Form1::DizWindowHost::boxText() const
{
    return m_window.m_descriptionBox->rawText();
}

void Form1::DizWindowHost::setBoxText(const QString& text)
{
    m_window.m_descriptionBox->setPlainText(text);
}

void Form1::DizWindowHost::focusBox()
{
    m_window.m_descriptionBox->setFocus(Qt::OtherFocusReason);
}

void Form1::DizWindowHost::selectInBox(int position, int length)
{
    QTextCursor cursor = m_window.m_descriptionBox->textCursor();
    cursor.setPosition(position);
    cursor.setPosition(position + length, QTextCursor::KeepAnchor);
    m_window.m_descriptionBox->setTextCursor(cursor);
}

void Form1::DizWindowHost::showNotice(const QString& text)
{
    m_window.m_descriptionBox->showNotice(text);
}

void Form1::DizWindowHost::setSaveDizEnabled(bool enabled)
{
    m_window.offerSaveDiz(enabled);
}

// For the window a save that starts or ends is the run state, which sets
// the captions, the other commands and the busy pointer together.
void Form1::DizWindowHost::setSavingDescriptions(bool saving)
{
    m_window.setRun(saving ? Run::SavingDescriptions : Run::Idle);
}

void Form1::DizWindowHost::setBusyPointer(bool)
{
    // Set with the run state (setSavingDescriptions).
}

void Form1::DizWindowHost::setProgressValue(int value)
{
    m_window.m_progressBar->setValue(value);
}

void Form1::DizWindowHost::yieldEvents()
{
    QCoreApplication::processEvents();
}

QString Form1::DizWindowHost::currentFolder() const
{
    return m_window.m_folderHolder->path();
}

void Form1::DizWindowHost::noteReadOnlyDrive()
{
    m_window.m_state.list.readOnlyDrive = true;
}

} // namespace vexlo
