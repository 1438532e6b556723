// SPDX-License-Identifier: MIT
#include "cli/CliCommon.h"

#include "diz/ArchiveKinds.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QCommandLineParser>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace vexlo::cli {

void printError(const QString& text)
{
    const QByteArray line = "vexlo32: " + platform::encodeName(text) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

void printFailure(const QString& subject, const QString& reason)
{
    printError(subject + QStringLiteral(": ") + reason);
}

int usageMistake(const QString& text, const QString& helpWords)
{
    printError(text);
    std::fprintf(stderr, "Try 'vexlo32 %s' for more information.\n",
                 platform::encodeName(helpWords).constData());
    return kExitUsage;
}

void printText(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

const char* kindsHelpNote()
{
    return diz::arjAvailable()
               ? "With --all-kinds, ARJ archives are read with the arj program.\n"
               : "With --all-kinds, ARJ archives need the arj program (Debian package\n"
                 "arj), which is not installed: they are listed without descriptions.\n";
}

void setUpParser(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
}

QString parseWords(QCommandLineParser& parser, const QStringList& words)
{
    if (parser.parse(QStringList{QStringLiteral("vexlo32")} + words))
        return QString();
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText();
    // The parser knows the name only; the user should see the word typed.
    for (const QString& word : words) {
        if (word == QLatin1String("--"))
            break;
        QString name = word;
        while (name.startsWith(u'-'))
            name.remove(0, 1);
        if (name.section(u'=', 0, 0) == unknown.first() && word.startsWith(u'-'))
            return QStringLiteral("unknown option %1").arg(word.section(u'=', 0, 0));
    }
    return QStringLiteral("unknown option --%1").arg(unknown.first());
}

QString absolutePath(const QString& typed, QString& problem)
{
    problem.clear();
    QString full = typed;
    if (!full.startsWith(platform::kSeparator)) {
        char buffer[PATH_MAX];
        if (!::getcwd(buffer, sizeof buffer)) {
            // A removed current folder, or one deeper than a path can name:
            // then a relative path names nothing we could show, and any
            // folder put in its place would be listed or written wrongly.
            const int error = errno == ERANGE ? ENAMETOOLONG : errno;
            problem = QStringLiteral("cannot find the current folder: %1")
                          .arg(platform::errorText(error));
            return QString();
        }
        full = platform::joinPath(platform::decodeName(buffer), full);
    }
    QStringList parts = full.split(platform::kSeparator, Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    // A ".." goes back from where the system stands after the components
    // before it, which through a link is not the text before it: the part
    // up to the last ".." is asked of the system, the rest kept as typed.
    QString result = platform::kRootFolder;
    const qsizetype lastUp = parts.lastIndexOf(QStringLiteral(".."));
    if (lastUp >= 0) {
        const QByteArray head = platform::encodeName(
            platform::kRootFolder + parts.mid(0, lastUp + 1).join(platform::kSeparator));
        char* real = ::realpath(head.constData(), nullptr);
        if (!real) {
            problem = QStringLiteral("%1: %2").arg(typed, platform::errorText(errno));
            return QString();
        }
        result = platform::decodeName(real);
        std::free(real);
        parts = parts.mid(lastUp + 1);
    }
    for (const QString& part : std::as_const(parts))
        result = platform::joinPath(result, part);
    return result;
}

int readStandardInput(QByteArray& out, qint64 maxBytes)
{
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (out.size() + n > maxBytes)
            return EFBIG;
        out.append(buffer, n);
    }
}

} // namespace vexlo::cli
