#include "cli/CommandLine.h"

#include "Version.h"
#include "cli/DizCli.h"
#include "cli/MakeListCli.h"

#include <cstdio>

namespace vexlo::cli {

namespace {

const char kUsage[] = "Usage: vexlo32 [OPTION]...\n"
                      "Without options, opens the Vexlo32 window.\n"
                      "\n"
                      "  --make-list FOLDER [--output FILE] [--long] [--multi-line]\n"
                      "                        write the file list of FOLDER and its sub-folders\n"
                      "                        (default FILE: FOLDER/Vexlo.txt)\n"
                      "  --get-diz ARCHIVE     write the archive's FILE_ID.DIZ to standard output\n"
                      "  --save-diz DIZFILE ARCHIVE...\n"
                      "                        store DIZFILE as the FILE_ID.DIZ of each archive\n"
                      "  --help                show this help and exit\n"
                      "  --version             show the version and exit\n";

} // namespace

bool isCommandLineJob(const QStringList& args)
{
    return !args.isEmpty() && args.first().startsWith(QLatin1String("-"));
}

bool runCommandLine(const QStringList& args, int& exitStatus)
{
    if (args.isEmpty())
        return false;
    const QString& first = args.first();
    const QStringList rest = args.mid(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        exitStatus = 0;
        return true;
    }
    if (first == QLatin1String("--version")) {
        std::printf("Vexlo32 %s\n", kVersionText);
        exitStatus = 0;
        return true;
    }
    if (first == QLatin1String("--make-list")) {
        exitStatus = runMakeListCommand(rest);
        return true;
    }
    if (first == QLatin1String("--get-diz")) {
        exitStatus = runGetDizCommand(rest);
        return true;
    }
    if (first == QLatin1String("--save-diz")) {
        exitStatus = runSaveDizCommand(rest);
        return true;
    }
    // Anything else that looks like an option is one we do not know: said
    // so, rather than taken for nothing.
    if (first.startsWith(u'-')) {
        std::fprintf(stderr, "vexlo32: unknown option %s\nTry 'vexlo32 --help'.\n",
                     first.toLocal8Bit().constData());
        exitStatus = 2;
        return true;
    }
    return false;
}

} // namespace vexlo::cli
