// SPDX-License-Identifier: MIT
// The Help menu of the main window.
#include "about/HelpCommands.h"
#include "shell/Form1.h"

namespace vexlo {

void Form1::showHelpContents()
{
    m_help->contents();
}

void Form1::writeEmail()
{
    m_help->email();
}

void Form1::openWebPage()
{
    m_help->web();
}

void Form1::showAbout()
{
    m_help->about();
}

} // namespace vexlo
