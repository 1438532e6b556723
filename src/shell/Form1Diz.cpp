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
    m_dizReader->getDiz();
}

void Form1::saveDescriptionsOrAbort()
{
    if (m_run == Run::SavingDescriptions)
        m_dizWriter->abort();
    else
        m_dizWriter->press();
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

// The writer shows its run on the button: "&Abort" while it goes on, "Save
// &diz" again once it is over or aborted. For the window that is the run
// state, which sets the caption, the other commands and the busy pointer
// together, and what the writer reads back is the run state's caption.
QString Form1::DizWindowHost::saveDizCaption() const
{
    return m_window.m_run == Run::SavingDescriptions ? diz::DizWriter::kAbortCaption
                                                     : diz::DizWriter::kIdleCaption;
}

void Form1::DizWindowHost::setSaveDizCaption(const QString& caption)
{
    m_window.setRun(caption == diz::DizWriter::kAbortCaption ? Run::SavingDescriptions : Run::Idle);
}

void Form1::DizWindowHost::setOtherCommandsEnabled(bool)
{
    // Set with the run state (setSaveDizCaption).
}

void Form1::DizWindowHost::setBusyPointer(bool)
{
    // Set with the run state (setSaveDizCaption).
}

void Form1::DizWindowHost::setProgressValue(int value)
{
    m_window.m_progressBar->setValue(value);
}

void Form1::DizWindowHost::yieldEvents()
{
    QCoreApplication::processEvents();
}

QString Form1::DizWindowHost::dirFolderPath() const
{
    return m_window.m_folderHolder->path();
}

}  // namespace vexlo
