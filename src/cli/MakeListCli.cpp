// SPDX-License-Identifier: MIT
#include "cli/MakeListCli.h"

#include "catalog/FolderWalk.h"
#include "catalog/ListBuilder.h"
#include "catalog/ListWriter.h"
#include "cli/CliCommon.h"
#include "diz/FolderListing.h"
#include "diz/ZipComponent.h"
#include "platform/DiskInfo.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace vexlo::cli {
using namespace catalog;
using platform::DiskInfo;

namespace {

const char kMakeListUsage[] =
    "Usage: vexlo32 --make-list FOLDER [--output FILE] [--long] [--multi-line]\n"
    "                          [--all-kinds]\n"
    "Writes the file list of FOLDER and all its sub-folders, as \"Make list\" does.\n"
    "\n"
    "  --output FILE   the list file (replaced when the list is complete), or - for\n"
    "                  standard output; default FOLDER/Vexlo.txt\n"
    "  --long          long filename format (otherwise short 8.3 names)\n"
    "  --multi-line    every line of each FILE_ID.DIZ (otherwise the first only)\n"
    "  --all-kinds     also the descriptions of ARJ, LZH/LHA, RAR, 7z, CAB, ISO and\n"
    "                  TAR archives (otherwise ZIP archives only)\n"
    "  -h, --help      show this help and exit\n"
    "\n"
    "FOLDER and FILE are used exactly as typed, letter case included.\n"
    "Folders are written as the absolute path of FOLDER in lower case.\n"
    "Exit status: 0 when the list was written, 1 when it could not be or a\n"
    "folder could not be read (each is named), 2 for bad arguments.\n";

QByteArray counted(int n, const char* what)
{
    return QByteArray::number(n) + ' ' + what + (n == 1 ? "" : "s");
}

// The command line's host: the options stand for the check mark, there are
// no events to run, and on a terminal a progress line is kept up to date.
class CliHost : public CatalogHost {
public:
    CliHost(bool longFormat, bool showProgress)
        : m_longFormat(longFormat), m_showProgress(showProgress)
    {
        m_sinceShown.start();
    }

    bool longFileFormat() const override { return m_longFormat; }
    void yieldToEvents() override {}
    void setProgress(int) override {}
    void setTitle(const QString&) override {}
    void setPathPanel(const QString&) override {}
    void setCurrentFolder(const QString&) override {}

    void folderStarted(const QString& shownFolder) override
    {
        ++m_folders;
        m_current = shownFolder;
        show(true);
    }
    void fileStarted(const QString&) override
    {
        ++m_files;
        show(false);
    }

    void folderUnreadable(const QString& shownFolder, int error) override
    {
        m_unreadable.append({shownFolder, error});
    }

    void finish()
    {
        if (m_showProgress)
            std::fputs("\r\x1b[K", stderr);
    }

    // Folders that could not be read, with why: they got empty sections.
    QList<QPair<QString, int>> unreadable() const { return m_unreadable; }

private:
    void show(bool always)
    {
        // A terminal redraws slowly; a few updates a second are plenty.
        if (!m_showProgress || (!always && m_sinceShown.elapsed() < 100))
            return;
        m_sinceShown.restart();
        const QByteArray line = "\r" + counted(m_folders, "folder") + ", " +
                                counted(m_files, "file") + ": " + platform::encodeName(m_current) +
                                "\x1b[K";
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
    }

    bool m_longFormat;
    bool m_showProgress;
    int m_folders = 0;
    int m_files = 0;
    QString m_current;
    QElapsedTimer m_sinceShown;
    QList<QPair<QString, int>> m_unreadable;
};

struct Options {
    QString folder;
    QString output;
    bool longFormat = false;
    bool multiLine = false;
    bool allKinds = false;
    bool help = false;
};

// Returns an error text, or an empty one when the words were understood.
QString parseOptions(const QStringList& words, Options& options)
{
    QCommandLineParser parser;
    setUpParser(parser);
    const QCommandLineOption mode(QStringLiteral("make-list"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption longFormat(QStringLiteral("long"));
    const QCommandLineOption multiLine(QStringLiteral("multi-line"));
    const QCommandLineOption allKinds(QStringLiteral("all-kinds"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({mode, output, longFormat, multiLine, allKinds, help});
    if (const QString problem = parseWords(parser, words); !problem.isEmpty())
        return problem;
    options.help = parser.isSet(help);
    if (options.help)
        return QString();
    options.longFormat = parser.isSet(longFormat);
    options.multiLine = parser.isSet(multiLine);
    options.allKinds = parser.isSet(allKinds);
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return QStringLiteral("--make-list needs a folder");
    if (positional.size() > 1)
        return QStringLiteral("--make-list takes one folder");
    options.folder = positional.first();
    if (options.folder == kStandardStream)
        return QStringLiteral("a folder to list cannot be standard input");
    if (parser.isSet(output)) {
        options.output = parser.values(output).constLast();
        if (options.output.isEmpty())
            return QStringLiteral("--output needs a file name");
    }
    return QString();
}

} // namespace

int runMakeListCommand(const QStringList& words)
{
    Options options;
    const QString problem = parseOptions(words, options);
    if (!problem.isEmpty())
        return usageMistake(problem, QStringLiteral("--make-list --help"));
    if (options.help) {
        printText(kMakeListUsage);
        printText(kindsHelpNote());
        return 0;
    }

    QString pathProblem;
    const QString realFolder = absolutePath(options.folder, pathProblem);
    if (realFolder.isEmpty()) {
        printError(pathProblem);
        return kExitFailure;
    }
    if (!platform::isDirectory(realFolder)) {
        printError(QStringLiteral("%1: no such folder").arg(options.folder));
        return kExitFailure;
    }
    // "-" is standard output.
    const QString listFile =
        options.output.isEmpty() ? platform::joinPath(realFolder, platform::kDefaultListFileName)
        : options.output == kStandardStream ? options.output
                                            : absolutePath(options.output, pathProblem);
    if (listFile.isEmpty()) {
        printError(pathProblem);
        return kExitFailure;
    }

    // Our own temporary description file, so that a run never touches the
    // one a window of the program may be showing, nor another run's.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        printError(
            QStringLiteral("cannot create a temporary folder: %1").arg(scratch.errorString()));
        return kExitFailure;
    }
    platform::setUserFoldersOverride(scratch.path());

    RunControl run;
    ListOptions listOptions;
    DiskInfo disk;
    disk.setDriveLetter(realFolder);
    listOptions.readOnlyDrive = disk.FreeSpace() < DiskInfo::kWritableThreshold;
    listOptions.multiLineDiz = options.multiLine;
    listOptions.allKinds = options.allKinds;
    run.keepRunning = true;

    FolderListing pane;
    diz::ZipComponent zip;
    ListWriter writer;
    CliHost host(options.longFormat, ::isatty(STDERR_FILENO) == 1);
    MemoryDescriptionReader descriptions(zip);
    CatalogJob job{run, listOptions, pane, zip, writer, host, &descriptions};
    const MakeListResult result =
        MakeListRun(job, listFile, platform::lowerPath(realFolder), realFolder);
    host.finish();
    platform::setUserFoldersOverride(QString());
    if (!result.ok) {
        printError(result.errorText);
        return kExitFailure;
    }
    // The list is written, but it misses what these folders hold.
    for (const auto& [folder, error] : host.unreadable())
        printError(QStringLiteral("%1: cannot read the folder: %2")
                       .arg(folder, platform::errorText(error)));
    return host.unreadable().isEmpty() ? 0 : kExitFailure;
}

} // namespace vexlo::cli
