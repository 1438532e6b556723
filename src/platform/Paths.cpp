// SPDX-License-Identifier: MIT
#include "platform/Paths.h"

#include "platform/FileNames.h"
#include "platform/FileSystem.h"

#include "platform/Log.h"
#include "platform/NativeName.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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

bool isOwnPrivateFolder(const QString& folder, bool followLinks)
{
    struct stat st;
    const QByteArray native = encodeName(folder);
    const int got =
        followLinks ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    return got == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool makeOwnFolder(const QString& folder)
{
    if (folder.isEmpty() || !folder.startsWith(kSeparator))
        return false;
    if (isOwnPrivateFolder(folder))
        return true; // the usual case: made before
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

QString displayKey()
{
    // Display names hold colons, dots and, for Wayland, may be a whole path:
    // a digest of both makes a short, plain file name that differs with either.
    const QByteArray key =
        "WAYLAND_DISPLAY=" + qgetenv("WAYLAND_DISPLAY") + "\nDISPLAY=" + qgetenv("DISPLAY");
    return QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
}

namespace {

// The folder that holds the display folders: the runtime folder, else the
// cache folder; empty when neither is ours alone. A folder others may write
// to is never used, not even for a moment: whoever can write there can put
// a link where the temporary description goes, and Save diz would write
// through it and store what it finds into the archives.
QString sharedTemporaryFolder()
{
    const QString runtime = runtimeCandidate();
    if (!runtime.isEmpty() && makeOwnFolder(runtime))
        return runtime;
    QString cache = appFolderIn(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::homePath() + QStringLiteral("/.cache/vexlo32");
    if (makeOwnFolder(cache))
        return cache;
    qCWarning(lcPlatform) << "no private folder for temporary files:" << runtime << cache
                          << "are missing, someone else's or open to others";
    return QString();
}

} // namespace

QString temporaryFolder()
{
    if (!userFoldersOverride().isEmpty())
        return userFoldersOverride();
    // One copy runs per display, and each has a folder of its own: a Get diz
    // on one display must not replace the file a Save diz on another has
    // just written, nor may a copy that ends delete it.
    const QString shared = sharedTemporaryFolder();
    if (shared.isEmpty())
        return QString();
    const QString own = joinPath(shared, displayKey());
    if (!makeOwnFolder(own)) {
        qCWarning(lcPlatform) << "no private folder for temporary files:" << own;
        return QString();
    }
    return own;
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
    // No folder, no file: joined to nothing the name would land in "/".
    const QString folder = temporaryFolder();
    return folder.isEmpty() ? QString() : joinPath(folder, kTemporaryDescriptionName);
}

} // namespace vexlo::platform
