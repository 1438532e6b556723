// SPDX-License-Identifier: MIT
#pragma once

// Fakes and fixtures shared by the list tests: a host that records what the
// builder and the walk tell the window, a description source with chosen
// statuses, and the byte pieces of expected list lines.

#include "catalog/FolderWalk.h"
#include "catalog/ListBuilder.h"
#include "catalog/ListWriter.h"
#include "diz/FolderListing.h"
#include "diz/RunControl.h"
#include "diz/ZipComponent.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "testsupport.h"

#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <unistd.h>

namespace vexlo::test {

class FakeHost : public catalog::CatalogHost {
public:
    bool longFormat = true;
    std::function<void(int yieldNumber)> onYield;
    int yields = 0;
    QStringList titles;
    QStringList pathPanels;
    QStringList dir1s;
    QList<int> progress;
    QStringList filesStarted;

    bool longFileFormat() const override { return longFormat; }
    void yieldToEvents() override
    {
        ++yields;
        if (onYield)
            onYield(yields);
    }
    void setProgress(int value) override { progress.append(value); }
    void setTitle(const QString& title) override { titles.append(title); }
    void setPathPanel(const QString& text) override { pathPanels.append(text); }
    void setCurrentFolder(const QString& folder) override { dir1s.append(folder); }
    void fileStarted(const QString& fullPath) override { filesStarted.append(fullPath); }
    QString lastFileStarted() const
    {
        return filesStarted.isEmpty() ? QString() : filesStarted.last();
    }
};

// Statuses and descriptions by archive name. Like an extraction, a found
// description is also left as the temporary description file, so that the
// builder's clean-up is what keeps it from the next archive.
class FakeDescriptions : public catalog::DescriptionReader {
public:
    QHash<QString, catalog::ArchiveDescription> byName;
    QStringList asked;
    int staleTemporaryFiles = 0; // calls that found a temporary file already there
    std::function<diz::ZipStatus(const QString& name)> statusOverride;

    void set(const QString& name, diz::ZipStatus status, const QByteArray* bytes = nullptr)
    {
        catalog::ArchiveDescription d;
        d.status = status;
        d.present = bytes != nullptr;
        if (bytes)
            d.bytes = *bytes;
        byName.insert(name, d);
    }
    void setDiz(const QString& name, const QByteArray& bytes)
    {
        set(name, diz::ZipStatus::Success, &bytes);
    }

    catalog::ArchiveDescription read(const QString& archivePath) override
    {
        const QString name = platform::lastComponent(archivePath);
        asked.append(name);
        const QString temp = platform::tempDizPath();
        if (platform::exists(temp))
            ++staleTemporaryFiles;
        catalog::ArchiveDescription d = byName.value(name);
        if (statusOverride)
            d.status = statusOverride(name);
        if (d.present)
            writeBytes(temp, d.bytes);
        return d;
    }
};

inline QByteArray spaces(int n)
{
    return QByteArray(n, ' ');
}

// A size field as the list shows it: digits right-aligned in 9 characters,
// none for 0.
inline QByteArray sizeText(qint64 size)
{
    return size == 0 ? QByteArray(9, ' ') : QByteArray::number(size).rightJustified(9, ' ');
}

inline QByteArray folderHeader(const QString& folder)
{
    return "\r\n" + platform::encodeName(platform::lowerPath(folder)) + "\r\n";
}

inline const QDateTime kSeptember16 = QDateTime(QDate(1998, 9, 16), QTime(14, 30));

inline bool writeDated(const QString& path, const QByteArray& bytes,
                       const QDateTime& when = kSeptember16)
{
    return writeBytes(path, bytes) && setModified(path, when);
}

// A folder, a private program folder for the temporary description file, and
// a list file outside the listed folder.
struct ListFixture {
    QTemporaryDir root;
    QString folder;
    QString program;
    QString listFile;

    ListFixture()
    {
        folder = root.path() + "/Zips";
        program = root.path() + "/program";
        listFile = root.path() + "/list.txt";
        QDir().mkpath(folder);
        QDir().mkpath(program);
        platform::setUserFoldersOverride(program);
    }
    ~ListFixture() { platform::setUserFoldersOverride(QString()); }
};

// Runs BuildFolderEntries for one folder and returns the list file's bytes.
struct BuildRun {
    RunControl control;
    catalog::ListOptions options;
    FakeHost host;
    FolderListing pane;
    diz::ZipComponent zip;
    catalog::ListWriter writer;
    catalog::DescriptionReader* descriptions = nullptr;

    BuildRun() { control.keepRunning = true; }

    catalog::CatalogJob job()
    {
        return catalog::CatalogJob{control, options, pane, zip, writer, host, descriptions};
    }

    QByteArray build(const QString& folder, const QString& listFile)
    {
        pane.setFolderPath(folder);
        if (!writer.open(listFile))
            return "(cannot open the list file)";
        catalog::CatalogJob j = job();
        catalog::BuildFolderEntries(j);
        if (!writer.close())
            return "(cannot write the list file)";
        return readBytes(listFile);
    }

    QByteArray walk(const QString& folder, const QString& listFile)
    {
        catalog::CatalogJob j = job();
        const catalog::MakeListResult result = catalog::MakeListRun(j, listFile, folder);
        if (!result.ok)
            return "(" + result.errorText.toUtf8() + ")";
        return readBytes(listFile);
    }
};

inline bool runningAsRoot()
{
    return ::geteuid() == 0;
}

} // namespace vexlo::test
