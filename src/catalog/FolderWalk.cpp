#include "catalog/FolderWalk.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QStringList>

#include <set>
#include <utility>
#include <vector>

namespace vexlo::catalog {

namespace {

struct PendingFolder {
    QString text; // as shown and written; ends in a separator
    QString real; // as on disk
};

QString withSeparator(const QString& folder)
{
    return folder.endsWith(platform::kSeparator) ? folder : folder + platform::kSeparator;
}

// The pane and Dir1 hold folders as a folder list box does: without a
// trailing separator, except at the root.
QString withoutSeparator(const QString& folder)
{
    QString text = folder;
    while (text.size() > 1 && text.endsWith(platform::kSeparator))
        text.chop(1);
    return text;
}

bool sameFolder(const platform::FileStat& a, const platform::FileStat& b)
{
    return a.ok && b.ok && a.device == b.device && a.inode == b.inode;
}

} // namespace

void WalkFolder(CatalogJob& job, const QString& folder, const QString& realFolder)
{
    std::vector<PendingFolder> pending;
    pending.push_back(
        {withSeparator(folder), realFolder.isEmpty() ? platform::resolvePath(folder) : realFolder});
    std::set<std::pair<dev_t, ino_t>> visited;

    while (!pending.empty()) {
        const PendingFolder current = std::move(pending.back());
        pending.pop_back();

        if (job.writer.failed())
            break; // nothing more can reach the list
        if (job.state.ListAborted)
            continue;
        const platform::FileStat info = platform::statPath(current.real);
        if (info.ok && !visited.insert({info.device, info.inode}).second)
            continue; // reached again through a link

        const QString text = platform::lowerPath(current.text);
        job.host.setTitle(text);
        job.host.yieldToEvents();
        if (!job.state.KeepRunning)
            continue;

        QStringList subFolders;
        std::vector<platform::DirEntry> entries;
        platform::listDirectory(current.real, entries); // unreadable: no sub-folders
        for (const platform::DirEntry& entry : entries) {
            if (entry.isDir && !entry.name.startsWith(u'.'))
                subFolders.append(entry.name);
        }

        const QString paneText = withoutSeparator(text);
        const QString realText = withoutSeparator(current.real);
        job.host.setPathPanel(text);
        job.host.setDir1(paneText);
        const bool textFindsIt =
            paneText == realText || !info.ok || sameFolder(platform::statPath(paneText), info);
        job.pane.setFolderPath(textFindsIt ? paneText : realText);
        job.host.folderStarted(text);
        BuildFolderEntries(job, realText);

        // Pushed last to first, so that the first sub-folder is walked next.
        for (qsizetype k = subFolders.size() - 1; k >= 0; --k) {
            const QString& name = subFolders.at(k);
            pending.push_back({withSeparator(platform::joinPath(text, name)),
                               platform::joinPath(realText, name)});
        }
    }
}

MakeListResult MakeListRun(CatalogJob& job, const QString& listFile, const QString& startFolder,
                           const QString& realStartFolder)
{
    MakeListResult result;
    if (!job.writer.open(listFile)) {
        result.errorText = QStringLiteral("cannot create the list file %1: %2")
                               .arg(listFile, job.writer.errorText());
        return result;
    }
    WalkFolder(job, startFolder, realStartFolder);
    if (!job.writer.close()) {
        result.errorText = QStringLiteral("cannot write the list file %1: %2")
                               .arg(listFile, job.writer.errorText());
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace vexlo::catalog
