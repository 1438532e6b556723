#include "cli/MakeListCli.h"

#include "catalog/FolderWalk.h"
#include "catalog/ListBuilder.h"
#include "catalog/ListWriter.h"
#include "diz/FolderListing.h"
#include "diz/ZipComponent.h"
#include "platform/DiskInfo.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vexlo::cli {
using namespace catalog;
using platform::DiskInfo;

namespace {

const char kMakeListUsage[] =
    "Usage: vexlo32 --make-list FOLDER [--output FILE] [--long] [--multi-line]\n"
    "Writes the file list of FOLDER and all its sub-folders, as \"Make list\" does.\n"
    "\n"
    "  --output FILE   the list file (replaced when the list is complete), or - for\n"
    "                  standard output; default FOLDER/Vexlo.txt\n"
    "  --long          long filename format (otherwise short 8.3 names)\n"
    "  --multi-line    every line of each FILE_ID.DIZ (otherwise the first only)\n"
    "  --help          show this help and exit\n"
    "\n"
    "Folders are written as the absolute path of FOLDER in lower case.\n"
    "Exit status: 0 when the list was written, 1 when it could not be or a\n"
    "folder could not be read (each is named), 2 for bad arguments.\n";

void printError(const QString& text)
{
    const QByteArray line = "vexlo32: " + platform::encodeName(text) + '\n';
    std::fputs(line.constData(), stderr);
}

// The absolute form of a path typed on the command line, with "." and empty
// components dropped and ".." taken back textually, as a shell shows it.
QString absolutePath(const QString& path)
{
    QString full = path;
    if (!full.startsWith(platform::kSeparator)) {
        char buffer[PATH_MAX];
        const QString cwd =
            ::getcwd(buffer, sizeof buffer) ? platform::decodeName(buffer) : platform::kRootFolder;
        full = platform::joinPath(cwd, full);
    }
    QStringList kept;
    for (const QString& part : full.split(platform::kSeparator, Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(part);
    }
    return platform::kRootFolder + kept.join(platform::kSeparator);
}

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
    bool help = false;
};

// Returns an error text, or an empty one when the words were understood.
QString parseOptions(const QStringList& args, Options& options)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args.at(i);
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            options.help = true;
        } else if (word == QLatin1String("--long")) {
            options.longFormat = true;
        } else if (word == QLatin1String("--multi-line")) {
            options.multiLine = true;
        } else if (word == QLatin1String("--output")) {
            if (i + 1 >= args.size())
                return QStringLiteral("--output needs a file name");
            options.output = args.at(++i);
        } else if (word.startsWith(QLatin1String("--output="))) {
            options.output = word.mid(9);
        } else if (word.startsWith(u'-') && word != QLatin1String("-")) {
            return QStringLiteral("unknown option %1 for --make-list").arg(word);
        } else if (options.folder.isEmpty()) {
            options.folder = word;
        } else {
            return QStringLiteral("--make-list takes one folder");
        }
    }
    if (!options.help && options.folder.isEmpty())
        return QStringLiteral("--make-list needs a folder");
    if (!options.help && options.output.isEmpty() && args.contains(QStringLiteral("--output=")))
        return QStringLiteral("--output needs a file name");
    return QString();
}

} // namespace

int runMakeListCommand(const QStringList& args)
{
    Options options;
    const QString problem = parseOptions(args, options);
    if (!problem.isEmpty()) {
        printError(problem + QStringLiteral(" (try 'vexlo32 --make-list --help')"));
        return 2;
    }
    if (options.help) {
        std::fputs(kMakeListUsage, stdout);
        return 0;
    }

    const QString realFolder = absolutePath(options.folder);
    if (!platform::isDirectory(realFolder)) {
        printError(QStringLiteral("%1: no such folder").arg(options.folder));
        return 1;
    }
    // "-" is standard output.
    const QString listFile = options.output.isEmpty()
                                 ? platform::joinPath(realFolder, platform::kDefaultListFileName)
                             : options.output == QLatin1String("-") ? options.output
                                                                    : absolutePath(options.output);

    // Our own temporary description file, so that a run never touches the
    // one a window of the program may be showing, nor another run's.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        printError(
            QStringLiteral("cannot create a temporary folder: %1").arg(scratch.errorString()));
        return 1;
    }
    platform::setUserFoldersOverride(scratch.path());

    RunControl run;
    ListOptions listOptions;
    DiskInfo disk;
    disk.setDriveLetter(realFolder);
    listOptions.readOnlyDrive = disk.FreeSpace() < DiskInfo::kWritableThreshold;
    listOptions.multiLineDiz = options.multiLine;
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
        return 1;
    }
    // The list is written, but it misses what these folders hold.
    for (const auto& [folder, error] : host.unreadable())
        printError(QStringLiteral("%1: cannot read the folder: %2")
                       .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
    return host.unreadable().isEmpty() ? 0 : 1;
}

} // namespace vexlo::cli
