#include "platform/Paths.h"

#include "platform/FileNames.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace vexlo::platform {

namespace {
QString& programFolderOverride()
{
    static QString value;
    return value;
}
} // namespace

QString joinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(kSeparator))
        return folder + name;
    return folder + kSeparator + name;
}

namespace {

// QString's case mapping turns a lone surrogate that follows a changed
// character into U+FFFD, which would lose an undecodable name byte. So map
// only the runs between lone surrogates and keep those as they are.
QString mapCaseKeepingLoneSurrogates(const QString& text, bool upper)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype start = 0;
    auto flush = [&](qsizetype end) {
        const QString run = text.mid(start, end - start);
        out.append(upper ? run.toUpper() : run.toLower());
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const bool pairStart = c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate();
        const bool pairEnd = c.isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate();
        if (c.isSurrogate() && !pairStart && !pairEnd) {
            flush(i);
            out.append(c);
            start = i + 1;
        }
    }
    flush(n);
    return out;
}

} // namespace

QString lowerPath(const QString& path)
{
    return mapCaseKeepingLoneSurrogates(path, false);
}

QString upperName(const QString& name)
{
    return mapCaseKeepingLoneSurrogates(name, true);
}

QString lastComponent(const QString& path)
{
    const qsizetype cut = path.lastIndexOf(kSeparator);
    return cut < 0 ? path : path.mid(cut + 1);
}

QString parentPath(const QString& path)
{
    const qsizetype cut = path.lastIndexOf(kSeparator);
    if (cut < 0)
        return QString();
    if (cut == 0)
        return kRootFolder;
    return path.left(cut);
}

bool isRootFolder(const QString& folder)
{
    return folder.endsWith(kSeparator);
}

QString programFolder()
{
    if (!programFolderOverride().isEmpty())
        return programFolderOverride();
    QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        folder = QDir::currentPath();
    return folder;
}

void setProgramFolderOverride(const QString& folder)
{
    programFolderOverride() = folder;
}

QString dataFolder()
{
    const QString beside = programFolder();
    if (isWritableFolder(beside))
        return beside;
    QString user = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (user.isEmpty())
        user = QDir::homePath() + QStringLiteral("/.local/share/Vexlo32");
    QDir().mkpath(user);
    return user;
}

QString settingsFilePath()
{
    return joinPath(dataFolder(), QStringLiteral("Vexlo32.ini"));
}

QString tempDizPath()
{
    return joinPath(dataFolder(), kTemporaryDescriptionName);
}

} // namespace vexlo::platform
