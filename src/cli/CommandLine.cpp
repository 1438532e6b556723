// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"

#include "Version.h"
#include "cli/CliCommon.h"
#include "cli/DizCli.h"
#include "cli/MakeListCli.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"

#include <QCommandLineParser>

#include <array>
#include <cerrno>
#include <string_view>
#include <sys/stat.h>

namespace vexlo::cli {

namespace {

// GNU layout, so that help2man makes the manual page from it.
const char kUsage[] =
    "Usage: vexlo32 [OPTION]... [FOLDER]\n"
    "  or:  vexlo32 --make-list FOLDER [--output FILE] [OPTION]...\n"
    "  or:  vexlo32 --get-diz [--utf8] [--all-kinds] ARCHIVE\n"
    "  or:  vexlo32 --save-diz [--utf8] DIZFILE ARCHIVE...\n"
    "Lists folders of ZIP archives and reads and writes their FILE_ID.DIZ\n"
    "descriptions. Without a mode, opens the Vexlo32 window, at FOLDER when one is\n"
    "given; when a Vexlo32 window is open on the same display already, that window\n"
    "switches to FOLDER and comes to the front instead.\n"
    "\n"
    "Modes:\n"
    "  --make-list FOLDER    write the file list of FOLDER and its sub-folders\n"
    "                        (default FILE: FOLDER/Vexlo.txt)\n"
    "  --get-diz ARCHIVE     write the archive's FILE_ID.DIZ to standard output\n"
    "  --save-diz DIZFILE ARCHIVE...\n"
    "                        store DIZFILE as the FILE_ID.DIZ of each archive\n"
    "\n"
    "Options:\n"
    "  --output FILE         (--make-list) the list file, or - for standard output\n"
    "  --long                (--make-list) long file names (otherwise 8.3 names)\n"
    "  --multi-line          (--make-list) every line of each description\n"
    "  --all-kinds           (--make-list, --get-diz) also ARJ, LZH/LHA, RAR, 7z, CAB,\n"
    "                        ISO and TAR archives (ARJ needs the arj program)\n"
    "  --utf8                (--get-diz, --save-diz) the description as UTF-8 text,\n"
    "                        converted from and to the DOS code page 437\n"
    "  -h, --help            show this help and exit; after a mode, the mode's help\n"
    "  --version             show the version and exit\n"
    "\n"
    "Paths are used exactly as typed, letter case included; one that does not\n"
    "exist is an error. A DIZFILE of -, and the ARCHIVE of --get-diz, is read from\n"
    "standard input; an --output FILE of - is written to standard output.\n"
    "The toolkit's own options (-style, -platform, -display, -qwindowgeometry, ...)\n"
    "are passed to the window.\n"
    "\n"
    "Exit status: 0 on success, 1 when a job failed (each failure is named on\n"
    "standard error) or no display could be opened, 2 for bad arguments.\n";

const char kVersionLines[] = "Copyright (C) 2026 The Vexlo32 developers.\n"
                             "License: MIT <https://opensource.org/licenses/MIT>.\n"
                             "This is free software: you are free to change and redistribute it.\n"
                             "There is NO WARRANTY, to the extent permitted by law.\n";

// The toolkit's own options, as QApplication and its platform plugins read
// them ("-name" or "--name"; a value in the next word or after "=").
struct ToolkitOption {
    const char* name;
    bool takesValue;
};
constexpr std::array<ToolkitOption, 22> kToolkitOptions{{
    {"style", true},         {"stylesheet", true},   {"widgetcount", false},
    {"reverse", false},      {"platform", true},     {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},       {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true}, {"session", true},
    {"display", true},       {"geometry", true},     {"title", true},
    {"icon", true},          {"name", true},         {"visual", true},
    {"sync", false},         {"nograb", false},      {"dograb", false},
    {"testability", false},
}};

const ToolkitOption* toolkitOption(const QString& word)
{
    if (!word.startsWith(u'-') || word == QLatin1String("-") || word == QLatin1String("--"))
        return nullptr;
    const QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1).section(u'=', 0, 0);
    for (const ToolkitOption& option : kToolkitOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    // -qmljsdebugger=port only comes with its value attached.
    static constexpr ToolkitOption kQmlDebugger{"qmljsdebugger", false};
    if (name == QLatin1String(kQmlDebugger.name) && word.contains(u'='))
        return &kQmlDebugger;
    return nullptr;
}

CommandLine exitWith(int status)
{
    CommandLine result;
    result.action = CommandLine::Action::Exit;
    result.exitStatus = status;
    return result;
}

// A job: every path of it is taken exactly as given.
CommandLine jobOf(int (*run)(const QStringList&), const QStringList& words)
{
    CommandLine result;
    result.action = CommandLine::Action::Job;
    result.job = [run, words] {
        platform::setPathsTakenAsGiven(true);
        return run(words);
    };
    return result;
}

CommandLine readWindowStart(const QStringList& words)
{
    CommandLine result;
    // The toolkit's options are taken out first, with their values, so that
    // a value is never taken for the folder.
    QStringList ours;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words.at(i);
        if (word == QLatin1String("--")) {
            ours += words.mid(i);
            break;
        }
        const ToolkitOption* option = toolkitOption(word);
        if (!option) {
            ours.append(word);
            continue;
        }
        result.toolkitArgs.append(word);
        if (!option->takesValue)
            continue;
        QString value;
        if (word.contains(u'=')) {
            value = word.section(u'=', 1);
        } else if (i + 1 < words.size()) {
            value = words.at(++i);
            result.toolkitArgs.append(value);
        } else {
            return exitWith(usageMistake(QStringLiteral("%1 needs a value").arg(word)));
        }
        if (option->name == std::string_view("style"))
            result.style = value;
        else if (option->name == std::string_view("display"))
            result.display = value;
    }

    QCommandLineParser parser;
    setUpParser(parser);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({help, version});
    if (const QString problem = parseWords(parser, ours); !problem.isEmpty())
        return exitWith(usageMistake(problem));
    if (parser.isSet(help)) {
        printText(kUsage);
        return exitWith(0);
    }
    if (parser.isSet(version)) {
        printText(QByteArray("vexlo32 " + QByteArray(kVersionNumber) + '\n').constData());
        printText(kVersionLines);
        return exitWith(0);
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return exitWith(usageMistake(QStringLiteral("the window opens one folder")));
    if (positional.isEmpty())
        return result;
    // A folder cannot come from standard input: "-" alone is no option of
    // ours either, and is said to be so.
    if (positional.first() == kStandardStream && !ours.contains(QStringLiteral("--")))
        return exitWith(usageMistake(QStringLiteral("unknown option -")));

    // The folder is checked before any window: exactly as typed, made
    // absolute, a folder.
    QString problem;
    result.folder = absolutePath(positional.first(), problem);
    if (result.folder.isEmpty()) {
        printError(problem);
        return exitWith(kExitUsage);
    }
    struct stat st;
    if (::stat(platform::encodeName(result.folder).constData(), &st) != 0) {
        printFailure(positional.first(), platform::errorText(errno));
        return exitWith(kExitUsage);
    }
    if (!S_ISDIR(st.st_mode)) {
        printFailure(positional.first(), platform::errorText(ENOTDIR));
        return exitWith(kExitUsage);
    }
    return result;
}

} // namespace

CommandLine readCommandLine(const QStringList& words)
{
    // The first word that names a mode decides; the mode's own parser then
    // reads every word.
    for (const QString& word : words) {
        if (word == QLatin1String("--"))
            break;
        if (word == QLatin1String("--make-list"))
            return jobOf(runMakeListCommand, words);
        if (word == QLatin1String("--get-diz"))
            return jobOf(runGetDizCommand, words);
        if (word == QLatin1String("--save-diz"))
            return jobOf(runSaveDizCommand, words);
    }
    return readWindowStart(words);
}

} // namespace vexlo::cli
