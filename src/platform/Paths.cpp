// SPDX-License-Identifier: MIT
#include "platform/Paths.h"

#include "platform/FileNames.h"
#include "platform/FileSystem.h"

#include "platform/NativeName.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

// The installed data folder as seen from the program's folder; the build
// works it out from the install folders it was configured with.
#ifndef VEXLO32_DATA_FROM_PROGRAM
#define VEXLO32_DATA_FROM_PROGRAM "../share/vexlo32"
#endif

namespace vexlo::platform {

namespace {
QString& programFolderOverride()
{
    static QString value;
    return value;
}

QString& userFoldersOverride()
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

QString dataFilePath(const QString& name)
{
    const QString program = programFolder();
    const QString beside = joinPath(program, name);
    if (statPath(beside).isFile)
        return beside;
    const QString installed =
        QDir::cleanPath(joinPath(program, QString::fromUtf8(VEXLO32_DATA_FROM_PROGRAM)));
    return joinPath(installed, name);
}

namespace {

// A folder the program may keep the user's files in: a folder (or a link to
// one, as a home on another disk often is) that belongs to this user and that
// nobody else may write to.
bool isOwnPrivateFolder(const QString& folder)
{
    struct stat st;
    return ::stat(encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString appFolderIn(QStandardPaths::StandardLocation location)
{
    const QString base = QStandardPaths::writableLocation(location);
    return base.isEmpty() ? QString() : joinPath(base, QStringLiteral("vexlo32"));
}

// The runtime folder only when the session gives one: without it Qt would
// make one up under /tmp, which the cache folder beats.
QString runtimeCandidate()
{
    const QString given = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (given.isEmpty() || !given.startsWith(kSeparator))
        return QString();
    return appFolderIn(QStandardPaths::RuntimeLocation);
}

} // namespace

bool makeOwnFolder(const QString& folder)
{
    if (folder.isEmpty() || !folder.startsWith(kSeparator))
        return false;
    const QStringList parts = folder.split(kSeparator, Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += kSeparator + part;
        if (::mkdir(encodeName(path).constData(), S_IRWXU) != 0 && errno != EEXIST)
            return false;
    }
    return isOwnPrivateFolder(folder);
}

void setUserFoldersOverride(const QString& folder)
{
    userFoldersOverride() = folder;
}

QString settingsFolder()
{
    if (!userFoldersOverride().isEmpty())
        return userFoldersOverride();
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config/Vexlo32");
    return folder;
}

QString temporaryFolder()
{
    if (!userFoldersOverride().isEmpty())
        return userFoldersOverride();
    const QString runtime = runtimeCandidate();
    if (!runtime.isEmpty() && makeOwnFolder(runtime))
        return runtime;
    QString cache = appFolderIn(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::homePath() + QStringLiteral("/.cache/vexlo32");
    // Should neither be usable, the writes into it fail and say where.
    makeOwnFolder(cache);
    return cache;
}

QString settingsFilePath()
{
    const QString folder = settingsFolder();
    if (userFoldersOverride().isEmpty())
        makeOwnFolder(folder);
    return joinPath(folder, kSettingsFileName);
}

QString settingsFileToRead()
{
    const QString current = joinPath(settingsFolder(), kSettingsFileName);
    if (!userFoldersOverride().isEmpty() || statPath(current, false).ok)
        return current;
    const QString olderPlaces[] = {
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation),
        programFolder(),
    };
    for (const QString& folder : olderPlaces) {
        if (folder.isEmpty())
            continue;
        const QString older = joinPath(folder, kSettingsFileName);
        if (statPath(older).isFile)
            return older;
    }
    return current;
}

QString tempDizPath()
{
    return joinPath(temporaryFolder(), kTemporaryDescriptionName);
}

} // namespace vexlo::platform
