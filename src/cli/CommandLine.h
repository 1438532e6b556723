// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace vexlo::cli {

// What the command line asks for. Only the program's own options make a
// command-line job; the toolkit's own options (-style, -platform, -display,
// ...) go to the window, and a word that is neither is a mistake.
struct CommandLine {
    enum class Action {
        Window, // start the window, with what follows
        Job,    // run job() without a window (it needs a QCoreApplication)
        Exit,   // done already (help, version or a mistake): exit with exitStatus
    };
    Action action = Action::Window;
    int exitStatus = 0;
    std::function<int()> job;

    // For the window:
    QString folder;          // the folder to open: absolute, exactly as typed; or empty
    QStringList toolkitArgs; // the toolkit's options and their values, as typed
    QString style;           // the value of -style, when one was given
    QString display;         // the value of -display, when one was given
};

// words: the arguments after the program's name, decoded with their bytes
// kept (NativeName.h). Help, version and mistakes are printed here.
CommandLine readCommandLine(const QStringList& words);

} // namespace vexlo::cli
