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

void Form1::File1_DblClick()
{
    const QString path = m_dizReader->getDiz(m_state.chosenFolder);
    if (!path.isNull())
        m_state.selectedFilePath = path;
}

void Form1::Command1_Click()
{
    m_dizWriter->press(m_state.selectedFilePath);
}

QString Form1::DizWindowHost::boxText() const
{
    return m_window.Text1->rawText();
}

void Form1::DizWindowHost::setBoxText(const QString& text)
{
    m_window.Text1->setPlainText(text);
}

void Form1::DizWindowHost::focusBox()
{
    m_window.Text1->setFocus(Qt::OtherFocusReason);
}

void Form1::DizWindowHost::selectInBox(int position, int length)
{
    QTextCursor cursor = m_window.Text1->textCursor();
    cursor.setPosition(position);
    cursor.setPosition(position + length, QTextCursor::KeepAnchor);
    m_window.Text1->setTextCursor(cursor);
}

void Form1::DizWindowHost::showNotice(const QString& text)
{
    m_window.Text1->showNotice(text);
}

void Form1::DizWindowHost::setSaveDizEnabled(bool enabled)
{
    m_window.Command1->setEnabled(enabled);
    m_window.sdiz->setEnabled(enabled);
}

void Form1::DizWindowHost::setSavingDescriptions(bool saving)
{
    m_window.Command1->setText(saving ? QStringLiteral("&Abort") : QStringLiteral("Save &diz"));
    const bool enabled = !saving;
    for (QWidget* w : {static_cast<QWidget*>(m_window.Command2), static_cast<QWidget*>(m_window.Command3),
                       static_cast<QWidget*>(m_window.Command4), static_cast<QWidget*>(m_window.Command5),
                       static_cast<QWidget*>(m_window.File1)})
        w->setEnabled(enabled);
}

void Form1::DizWindowHost::setBusyPointer(bool busy)
{
    if (busy)
        m_window.setCursor(Qt::WaitCursor);
    else
        m_window.unsetCursor();
}

void Form1::DizWindowHost::setProgressValue(int value)
{
    m_window.PVProgressBar1->setValue(value);
}

void Form1::DizWindowHost::yieldEvents()
{
    QCoreApplication::processEvents();
}

QString Form1::DizWindowHost::currentFolder() const
{
    return m_window.Dir1->path();
}

void Form1::DizWindowHost::noteReadOnlyDrive()
{
    m_window.state().list.readOnlyDrive = true;
}

}  // namespace vexlo
