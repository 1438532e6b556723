// SPDX-License-Identifier: MIT
#include "cli/CliCommon.h"

#include "diz/ArchiveKinds.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QCommandLineParser>

#include <cerrno>
#include <climits>
#include <cstdio>
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
