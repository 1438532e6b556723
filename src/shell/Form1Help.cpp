// The Help menu of the main window.
#include "about/HelpCommands.h"
#include "shell/Form1.h"

namespace vexlo {

void Form1::contents_Click()
{
    m_help->contents();
}

void Form1::email_Click()
{
    m_help->email();
}

void Form1::web_Click()
{
    m_help->web();
}

void Form1::about_Click()
{
    m_help->about();
}

}  // namespace vexlo
