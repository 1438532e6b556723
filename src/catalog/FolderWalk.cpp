// SPDX-License-Identifier: MIT
#include "catalog/FolderWalk.h"

#include "platform/FileSystem.h"
#include "platform/NameOrder.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vexlo::catalog {

namespace {

using FileId = std::pair<dev_t, ino_t>;

// At most this many folders of the path being walked are held open; deeper
// ones are let go and opened again, by name from their parent, when the walk
// comes back to them.
constexpr size_t kOpenFolders = 64;
// How far up from a link's target we look for the tree it might lie in.
constexpr int kMaxClimb = 100000;

QString withSeparator(const QString& folder)
{
    return folder.endsWith(platform::kSeparator) ? folder : folder + platform::kSeparator;
}

// The pane and the current folder hold folders as a folder list box does: without a
// trailing separator, except at the root.
QString withoutSeparator(const QString& folder)
{
    QString text = folder;
    while (text.size() > 1 && text.endsWith(platform::kSeparator))
        text.chop(1);
    return text;
}

bool idOf(int fd, FileId& id)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

struct Frame {
    QString text;    // as shown and written: the path, ending in a separator
    QString real;    // where it is on disk, ending in a separator
    QByteArray name; // in its parent (empty for the start folder)
    bool throughLink = false;
    int fd = -1;
    FileId id{};
    bool unreadable = false;
    int error = 0; // why it could not be opened
    bool visited = false;
    std::vector<platform::FolderItem> subFolders; // in the pane's order
    size_t next = 0;
};

class Walk {
public:
    explicit Walk(CatalogJob& job) : m_job(job) {}
    ~Walk()
    {
        for (Frame& frame : m_frames)
            closeFrame(frame);
    }

    void run(const QString& text, const QString& real);

private:
    void visit(Frame& frame);
    bool followsLink(int parentFd, const platform::FolderItem& link);
    bool insideTree(int folderFd);
    int frameFd(size_t index);
    void keepOpenFoldersFew();
    static void closeFrame(Frame& frame)
    {
        if (frame.fd >= 0)
            ::close(frame.fd);
        frame.fd = -1;
    }

    CatalogJob& m_job;
    std::vector<Frame> m_frames;
    FileId m_root{};
    std::set<FileId> m_aboveRoot; // the start folder and every folder above it
    std::set<FileId> m_visited;
    bool m_stop = false;
};

void Walk::run(const QString& text, const QString& real)
{
    Frame start;
    start.text = withSeparator(text);
    start.real = withSeparator(real);
    start.fd = platform::openFolderAt(AT_FDCWD, platform::encodeName(real), true);
    start.error = start.fd >= 0 ? 0 : errno;
    if (start.fd >= 0 && idOf(start.fd, start.id)) {
        m_root = start.id;
        m_visited.insert(start.id);
        // The start folder and its ancestors: a link to any of them would
        // walk the tree again, or the whole file system.
        int fd = ::dup(start.fd);
        FileId id = start.id;
        m_aboveRoot.insert(id);
        for (int climb = 0; fd >= 0 && climb < kMaxClimb; ++climb) {
            const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = up;
            FileId upId;
            if (fd < 0 || !idOf(fd, upId) || upId == id)
                break;
            m_aboveRoot.insert(upId);
            id = upId;
        }
        if (fd >= 0)
            ::close(fd);
    } else {
        start.unreadable = true;
    }
    m_frames.push_back(std::move(start));

    while (!m_frames.empty() && !m_stop) {
        const size_t top = m_frames.size() - 1;
        if (!m_frames[top].visited) {
            m_frames[top].visited = true;
            visit(m_frames[top]);
            continue;
        }
        Frame& frame = m_frames[top];
        if (frame.next >= frame.subFolders.size()) {
            closeFrame(frame);
            m_frames.pop_back();
            continue;
        }
        const platform::FolderItem sub = frame.subFolders[frame.next++];
        Frame child;
        child.text = withSeparator(frame.text + sub.name);
        child.real = withSeparator(frame.real + sub.name);
        child.name = sub.native;
        child.throughLink = sub.isLink;
        const int parentFd = frameFd(top);
        // A real folder is opened as one: if a link took its place meanwhile,
        // it is not followed.
        // It must be the folder the read saw and the link rules were applied
        // to: a link swapped for another meanwhile leads nowhere.
        child.fd = parentFd >= 0 ? platform::openFolderAt(parentFd, sub.native, sub.isLink) : -1;
        child.error = child.fd >= 0 ? 0 : parentFd >= 0 ? errno : frame.error;
        if (child.fd >= 0 && idOf(child.fd, child.id) &&
            child.id == FileId{sub.stat.device, sub.stat.inode}) {
            if (!m_visited.insert(child.id).second) {
                closeFrame(child); // reached again (a bind mount, a link)
                continue;
            }
        } else {
            if (child.fd >= 0)
                child.error = ESTALE;
            closeFrame(child);
            child.unreadable = true;
        }
        m_frames.push_back(std::move(child));
        keepOpenFoldersFew();
    }
}

void Walk::visit(Frame& frame)
{
    CatalogJob& job = m_job;
    if (job.writer.failed() || job.run.listAborted) {
        m_stop = true; // nothing more can reach the list, or none is wanted
        return;
    }
    const QString text = platform::lowerPath(frame.text);
    job.host.setTitle(text);
    job.host.yieldToEvents();
    if (!job.run.keepRunning) {
        m_stop = true;
        return;
    }

    FolderContents contents;
    std::vector<platform::FolderItem> items;
    const size_t index = size_t(&frame - m_frames.data());
    contents.fd = frame.unreadable ? -1 : frameFd(index);
    if (contents.fd < 0 || !platform::readFolderAt(contents.fd, items)) {
        const int error = contents.fd >= 0 ? errno : frame.error ? frame.error : ENOENT;
        job.host.folderUnreadable(text, error);
        items.clear();
    }
    QStringList fileNames;
    for (platform::FolderItem& item : items) {
        contents.allNames.append(item.name);
        if (item.name.startsWith(u'.') || !item.stat.ok)
            continue;
        if (item.stat.isFile) {
            contents.files.push_back(item);
        } else if (item.stat.isDir && (!item.isLink || followsLink(contents.fd, item))) {
            frame.subFolders.push_back(item);
        }
    }
    auto byName = [](const platform::FolderItem& a, const platform::FolderItem& b) {
        return platform::nameOrderLess(a.name, b.name);
    };
    std::sort(contents.files.begin(), contents.files.end(), byName);
    std::sort(frame.subFolders.begin(), frame.subFolders.end(), byName);
    for (const platform::FolderItem& file : contents.files)
        fileNames.append(file.name);

    const QString paneText = withoutSeparator(text);
    job.host.setPathPanel(text);
    job.host.setCurrentFolder(paneText);
    job.pane.setFolderEntries(paneText, fileNames);
    job.host.folderStarted(text);
    BuildFolderEntries(job, withoutSeparator(frame.real), &contents);
}

// A link to a folder is followed only to a folder outside the tree: one
// inside is listed where it is, and one at the start folder or above it
// would list the tree again or the whole file system.
bool Walk::followsLink(int parentFd, const platform::FolderItem& link)
{
    // Nor one whose owner could not list the folder it leads to himself.
    if (!platform::mayFollow(link) || m_aboveRoot.count({link.stat.device, link.stat.inode}) > 0)
        return false;
    const int fd = platform::openFolderAt(parentFd, link.native, true);
    if (fd < 0)
        return false;
    return !insideTree(fd); // closes fd
}

bool Walk::insideTree(int fd)
{
    FileId id;
    bool inside = false;
    for (int climb = 0; fd >= 0 && climb < kMaxClimb && idOf(fd, id); ++climb) {
        if (id == m_root) {
            inside = true;
            break;
        }
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FileId upId;
        const bool top = up < 0 || !idOf(up, upId) || upId == id;
        ::close(fd);
        fd = up;
        if (top)
            break;
    }
    if (fd >= 0)
        ::close(fd);
    return inside;
}

// The descriptor of a folder on the path, opened again from its parent if it
// was let go; -1 when it cannot be (then it is no longer the folder it was).
int Walk::frameFd(size_t index)
{
    if (m_frames[index].fd >= 0 || m_frames[index].unreadable)
        return m_frames[index].fd;
    size_t open = index;
    while (open > 0 && m_frames[open].fd < 0)
        --open;
    for (size_t k = open + 1; k <= index; ++k) {
        Frame& frame = m_frames[k];
        if (m_frames[k - 1].fd < 0)
            return -1;
        frame.fd = platform::openFolderAt(m_frames[k - 1].fd, frame.name, frame.throughLink);
        FileId id;
        if (frame.fd >= 0 && (!idOf(frame.fd, id) || id != frame.id))
            closeFrame(frame);
        // The way down is let go again as it is walked, but for the start
        // folder and the last few.
        if (k - 1 > 0 && index - (k - 1) > kOpenFolders)
            closeFrame(m_frames[k - 1]);
    }
    return m_frames[index].fd;
}

void Walk::keepOpenFoldersFew()
{
    size_t open = 0;
    for (const Frame& frame : m_frames)
        open += frame.fd >= 0;
    // The start folder stays open: it cannot be opened again by a name.
    for (size_t k = 1; open > kOpenFolders && k + 1 < m_frames.size(); ++k) {
        if (m_frames[k].fd >= 0) {
            closeFrame(m_frames[k]);
            --open;
        }
    }
}

} // namespace

void WalkFolder(CatalogJob& job, const QString& folder, const QString& realFolder)
{
    Walk walk(job);
    walk.run(folder, realFolder.isEmpty() ? platform::resolvePath(folder) : realFolder);
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
