#include "platform/NativeName.h"
#include "shell/core/CommandLine.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStringList>

int main(int argc, char** argv)
{
    // Arguments are file names: keep their bytes, whatever their encoding.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(vexlo::platform::decodeName(QByteArray(argv[i])));

    if (vexlo::isCommandLineJob(args)) {
        // No window, no display, no hand-over to a running instance.
        QCoreApplication app(argc, argv);
        int status = 0;
        vexlo::runCommandLine(args, status);
        return status;
    }

    QApplication app(argc, argv);
    return 0;
}
