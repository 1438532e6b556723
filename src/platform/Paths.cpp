#include "platform/Paths.h"

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
}  // namespace

QString joinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(kSeparator))
        return folder + name;
    return folder + kSeparator + name;
}

QString lowerPath(const QString& path)
{
    return path.toLower();
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
    return joinPath(dataFolder(), QStringLiteral("file_id.diz"));
}

}  // namespace vexlo::platform
