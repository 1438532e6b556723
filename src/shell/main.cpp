// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/NativeName.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "shell/DesktopLauncher.h"
#include "shell/Form1.h"

#include <QApplication>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QSessionManager>
#include <QStringList>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// What the toolkit says while it connects to the display is held back. When
// no display can be opened, its page of advice ends in an abort (status
// 134); the user gets one line and status 1 instead. Otherwise the held
// messages go out as they would have.
struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
std::vector<HeldMessage> g_heldMessages;

void holdWhileConnecting(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        std::fputs("vexlo32: cannot open the display\n", stderr);
        std::fflush(stderr);
        // Half a toolkit is set up: nothing of it may run at exit.
        ::_exit(1);
    }
    g_heldMessages.push_back(
        {type, context.file, context.function, context.category, context.line, text});
}

void releaseHeldMessages(QtMessageHandler handler)
{
    qInstallMessageHandler(handler);
    for (const HeldMessage& m : g_heldMessages) {
        const QMessageLogContext context(m.file.constData(), m.line, m.function.constData(),
                                         m.category.constData());
        handler(m.type, context, m.text);
    }
    g_heldMessages.clear();
}

int runWindow(const char* programName, const vexlo::cli::CommandLine& commandLine)
{
    // -display names the display as DISPLAY does; the running copy that
    // would take over is the one on that display.
    if (!commandLine.display.isEmpty())
        qputenv("DISPLAY", vexlo::platform::encodeName(commandLine.display));

    // Made before the application object: it keeps the activation token the
    // desktop gave this start, which the application would otherwise consume.
    vexlo::platform::SingleInstance instance;
    instance.setFolder(commandLine.folder);

    // The toolkit gets its own options only: the folder is ours.
    QByteArrayList toolkitWords{QByteArray(programName)};
    for (const QString& word : commandLine.toolkitArgs)
        toolkitWords.append(vexlo::platform::encodeName(word));
    std::vector<char*> toolkitArgv;
    for (QByteArray& word : toolkitWords)
        toolkitArgv.push_back(word.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = int(toolkitWords.size());

    const QtMessageHandler previousHandler = qInstallMessageHandler(holdWhileConnecting);
    QApplication app(toolkitArgc, toolkitArgv.data());
    releaseHeldMessages(previousHandler);
    // A logout, a closed terminal, kill and Ctrl-C end the program as closing
    // its windows does: a dialog that is open is cancelled, the window's
    // shutdown remembers the folder and removes the temporary description.
    // Caught from here on, so that a signal during start-up waits for the
    // event loop, which then closes the window as soon as it is there.
    vexlo::platform::TerminationSignals termination;
    QObject::connect(&termination, &vexlo::platform::TerminationSignals::terminationRequested, &app,
                     [] { QApplication::closeAllWindows(); });
    QApplication::setApplicationName(QStringLiteral("Vexlo32"));
    if (commandLine.style.isEmpty())
        QApplication::setStyle(QStringLiteral("Fusion"));

    vexlo::DesktopLauncher launcher;
    vexlo::platform::setLauncher(&launcher);

    vexlo::Form1 window;
    window.setStartFolder(commandLine.folder);
    const bool run = window.startUp([&instance] {
        return instance.claim() == vexlo::platform::SingleInstance::Claim::HandedOver;
    });
    if (!run)
        return window.startUpExitStatus();
    QObject::connect(&instance, &vexlo::platform::SingleInstance::activationRequested, &window,
                     [&window](const QByteArray& token, const QByteArray&, const QString& folder) {
                         if (!folder.isEmpty())
                             window.openFolder(folder);
                         window.restoreFromHandOver(token);
                     });
    // The session manager may end the program without any of that once it
    // has asked for the data to be saved.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.rememberFolder(); });
    window.centreOnScreen();
    window.show();
    const int status = app.exec();
    vexlo::platform::setLauncher(nullptr);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    vexlo::platform::settleLocalTimeZone();
    // Arguments are file names: keep their bytes, whatever their encoding.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(vexlo::platform::decodeName(QByteArray(argv[i])));

    const vexlo::cli::CommandLine commandLine = vexlo::cli::readCommandLine(words);
    switch (commandLine.action) {
    case vexlo::cli::CommandLine::Action::Exit:
        return commandLine.exitStatus;
    case vexlo::cli::CommandLine::Action::Job: {
        // No window, no display, no hand-over to a running instance.
        QCoreApplication app(argc, argv);
        return commandLine.job();
    }
    case vexlo::cli::CommandLine::Action::Window:
        break;
    }
    return runWindow(argv[0], commandLine);
}
