#include "cli/CommandLine.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/NativeName.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "shell/DesktopLauncher.h"
#include "shell/Form1.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSessionManager>
#include <QStringList>

int main(int argc, char** argv)
{
    vexlo::platform::settleLocalTimeZone();
    // Arguments are file names: keep their bytes, whatever their encoding.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(vexlo::platform::decodeName(QByteArray(argv[i])));

    if (vexlo::cli::isCommandLineJob(args)) {
        // No window, no display, no hand-over to a running instance.
        QCoreApplication app(argc, argv);
        int status = 0;
        vexlo::cli::runCommandLine(args, status);
        return status;
    }

    // Made before the application object: it keeps the activation token the
    // desktop gave this start, which the application would otherwise consume.
    vexlo::platform::SingleInstance instance;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexlo32"));
    QApplication::setStyle(QStringLiteral("Fusion"));

    vexlo::DesktopLauncher launcher;
    vexlo::platform::setLauncher(&launcher);

    vexlo::Form1 window;
    const bool run = window.startUp([&instance] {
        return instance.claim() == vexlo::platform::SingleInstance::Claim::HandedOver;
    });
    if (!run)
        return window.startUpExitStatus();
    QObject::connect(&instance, &vexlo::platform::SingleInstance::activationRequested, &window,
                     [&window](const QByteArray& token) { window.restoreFromHandOver(token); });
    // A logout, a closed terminal, kill and Ctrl-C end the program as closing
    // its windows does: a dialog that is open is cancelled, the window's
    // shutdown remembers the folder and removes the temporary description.
    vexlo::platform::TerminationSignals termination;
    QObject::connect(&termination, &vexlo::platform::TerminationSignals::terminationRequested, &app,
                     [] { QApplication::closeAllWindows(); });
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
