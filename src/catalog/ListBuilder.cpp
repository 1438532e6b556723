// SPDX-License-Identifier: MIT
#include "catalog/ListBuilder.h"

#include "diz/ArchiveKinds.h"
#include "diz/DescriptionText.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/ShortName.h"
#include "platform/UniqueFd.h"

#include <QHash>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::catalog {

namespace {

// Columns of the two layouts: size, date (or shortcut target), description.
struct Columns {
    int size;
    int date;
    int description;
};
constexpr Columns kLongColumns{43, 54, 64};
constexpr Columns kShortColumns{13, 24, 34};

// "Shortcut to " as the desktop names new shortcuts; the long layout drops it.
const QString kShortcutPrefix = QStringLiteral("SHORTCUT");
constexpr int kShortcutPrefixLength = 12;
// A shortcut's name is cut so that its target always starts on its own line.
constexpr int kShortcutNameLimit = 42;
// A shortcut is a few lines of text; we never read more of one than this.
constexpr qint64 kShortcutReadLimit = qint64(1) << 20;
constexpr qint64 kShortcutFirstLineLimit = qint64(64) << 10; // "[InternetShortcut]"

const QByteArray kCrcErrorText = QByteArrayLiteral("** CRC Error **");

void removeTemporaryDescription(const QString& temp)
{
    if (platform::isRegularFile(temp))
        platform::removeFile(temp);
}

// Positions in code points, so a cut never splits a character in two.
qsizetype unitsForCodePoints(const QString& text, int codePoints)
{
    qsizetype i = 0;
    for (int seen = 0; seen < codePoints && i < text.size(); ++seen) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        ++i;
    }
    return i;
}

QString shortcutDisplayName(const QString& name)
{
    QString display = name;
    if (platform::upperName(display.left(kShortcutPrefix.size())) == kShortcutPrefix)
        display = display.mid(unitsForCodePoints(display, kShortcutPrefixLength));
    return display.left(unitsForCodePoints(display, kShortcutNameLimit));
}

// The second line of an Internet shortcut from its fifth byte on: the text
// after "URL=". Empty when the file cannot be read or has no such line. Only
// the first two lines are read, however large the file: a first line longer
// than any shortcut's ends the search, and of the second at most the limit
// is taken, so a huge (or sparse) file costs no more than that.
QByteArray shortcutTargetOf(int fd)
{
    // An empty file has no target. Files of the kernel's (/proc) say they
    // are empty too, and reading one may wait or take what others would read.
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size == 0)
        return QByteArray();
    QByteArray second;
    qint64 first = 0;
    int line = 0;
    bool afterCr = false; // a LF right after it ends no line of its own
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QByteArray();
        if (got == 0)
            break;
        for (ssize_t k = 0; k < got; ++k) {
            const char c = buffer[k];
            if (afterCr) {
                afterCr = false;
                if (c == '\n')
                    continue;
            }
            if (c == '\r' || c == '\n') {
                afterCr = c == '\r';
                if (++line == 2)
                    return second.mid(4);
                continue;
            }
            if (line == 0 && ++first > kShortcutFirstLineLimit)
                return QByteArray();
            if (line == 1) {
                second.append(c);
                if (second.size() >= kShortcutReadLimit)
                    return second.mid(4);
            }
        }
    }
    return line >= 1 ? second.mid(4) : QByteArray();
}

QByteArray withoutLeadingSpaces(const QByteArray& line)
{
    qsizetype start = 0;
    while (start < line.size() && line.at(start) == ' ')
        ++start;
    return line.mid(start);
}

bool isShortcut(const QString& fullPath)
{
    return fullPath.right(4).toLower() == QLatin1String(".url");
}

// The folder line shows the pane's folder without a trailing separator,
// except at the root.
QString folderLineText(const QString& folder)
{
    QString text = folder;
    while (text.size() > 1 && text.endsWith(platform::kSeparator))
        text.chop(1);
    return platform::lowerPath(text);
}

// One file's line in the list, as read and before it is written: the name
// as listed, the size and date fields (a shortcut's target in the date's
// place), and for an archive what was read of its description.
struct ListEntry {
    QString name;            // upper case, short or long as the layout says
    bool longLayout = false; // the layout the entry was described in
    QByteArray size;
    QByteArray date;
    bool shortcut = false;
    bool archive = false;
    ArchiveDescription description;
};

// The description column: the first line alone in sentence case, or every
// line under the column. The layout is asked again for every line, so a
// change of the check mark during a run shows from the next line on.
void writeDescription(ListWriter& writer, const QByteArray& bytes, bool multiLine,
                      const CatalogHost& host)
{
    const QList<QByteArray> lines = diz::splitLines(bytes, diz::LineEnds::AnyOf);
    if (!multiLine) {
        const QByteArray first = lines.isEmpty() ? QByteArray() : lines.first();
        writer.writeBytes(sentenceCase(withoutLeadingSpaces(first)));
        writer.endLine();
        return;
    }
    // No description line ends by itself: the column rule puts each one on a
    // new line under the description column, and an empty line writes nothing.
    for (qsizetype k = 0; k < lines.size(); ++k) {
        const Columns& columns = host.longFileFormat() ? kLongColumns : kShortColumns;
        if (k > 0) // the first line starts where the entry put it
            writer.PadToColumn(columns.description);
        writer.writeBytes(k == 0 ? sentenceCase(lines.at(k)) : lines.at(k));
    }
    writer.endLine();
}

// Writes one entry in its layout: name, size, date (or target), then a
// failure's status, the description, or nothing.
void writeEntry(ListWriter& writer, const ListEntry& entry, const ListOptions& options,
                const CatalogHost& host)
{
    const Columns& columns = entry.longLayout ? kLongColumns : kShortColumns;
    writer.writeName(entry.name);
    writer.PadToColumn(columns.size);
    writer.writeBytes(entry.size);
    // A size of ten digits or more pushes the date right, never into it.
    writer.PadOrSpace(columns.date);
    writer.writeBytes(entry.date);
    if (!entry.shortcut)
        writer.PadOrSpace(columns.description);

    const diz::ZipStatus status = entry.description.status;
    if (diz::isFailure(status)) {
        writer.writeBytes(kCrcErrorText + ' ' + QByteArray::number(diz::statusCode(status)));
        writer.endLine();
        return;
    }
    if (!entry.archive || !entry.description.present) {
        writer.endLine();
        return;
    }
    writeDescription(writer, entry.description.bytes, options.multiLineDiz, host);
}

} // namespace

ArchiveDescription ExtractingDescriptionReader::read(const QString& archivePath)
{
    ArchiveDescription out;
    m_zip.setKeepPaths(false);
    m_zip.setMemberMask(platform::kDescriptionFileName);
    const QString target = platform::temporaryFolder();
    m_zip.setTargetFolder(target);
    m_zip.setArchivePath(archivePath);
    // No private folder: nowhere to extract to (see platform::temporaryFolder).
    if (target.isEmpty()) {
        out.status = diz::ZipStatus::CannotWriteTarget;
        return out;
    }
    out.status = m_zip.ExtractMembers(0);
    const QString temp = platform::tempDizPath();
    if (platform::isRegularFile(temp))
        out.present = platform::readFile(temp, out.bytes);
    return out;
}

namespace {

// A description read in memory through the zip component, with its
// properties set as an extraction would be given them, so the component
// shows the last archive asked about either way; nothing is extracted, so
// the target folder is left alone.
template <class Read>
ArchiveDescription readInMemory(diz::ZipComponent& zip, const QString& path, Read read)
{
    ArchiveDescription out;
    zip.setKeepPaths(false);
    zip.setMemberMask(platform::kDescriptionFileName);
    zip.setArchivePath(path);
    out.status = read(out.bytes);
    // An extraction leaves the temporary file exactly when it succeeded.
    out.present = out.status == diz::ZipStatus::Success;
    return out;
}

} // namespace

ArchiveDescription MemoryDescriptionReader::read(const QString& archivePath)
{
    return readInMemory(m_zip, archivePath, [&](QByteArray& bytes) {
        return m_zip.ReadMember(archivePath, platform::kDescriptionFileName, bytes);
    });
}

ArchiveDescription MemoryDescriptionReader::readOpen(int fd, qint64 size, const QString& path)
{
    return readInMemory(m_zip, path, [&](QByteArray& bytes) {
        return m_zip.ReadMemberFrom(fd, platform::kDescriptionFileName, bytes, size);
    });
}

namespace {

// An archive of another kind, named so but read as what its first bytes say
// (a ZIP among them through the zip component, as for any ZIP the list
// reads). Always in memory: no temporary file.
ArchiveDescription readOtherKind(diz::ZipComponent& zip, int fd, qint64 size, const QString& path)
{
    return readInMemory(zip, path, [&](QByteArray& bytes) {
        return diz::readMemberOfAnyKind(zip, fd, platform::kDescriptionFileName, bytes, size);
    });
}

// What the walk would have read, for a caller that has not: the pane's
// folder read once, its files aligned with the pane's entries.
struct ReadHere {
    FolderContents contents;
    ~ReadHere()
    {
        if (contents.fd >= 0)
            ::close(contents.fd);
    }
};

void readFolderForPane(const QString& realFolder, const PaneModel& pane, FolderContents& out)
{
    out.fd = platform::openFolderAt(AT_FDCWD, platform::encodeName(realFolder), true);
    std::vector<platform::FolderItem> items;
    if (out.fd >= 0)
        platform::readFolderAt(out.fd, items);
    QHash<QString, size_t> where;
    for (size_t k = 0; k < items.size(); ++k) {
        out.allNames.append(items[k].name);
        where.insert(items[k].name, k);
    }
    for (int i = 0; i < pane.count(); ++i) {
        const auto found = where.constFind(pane.name(i));
        if (found != where.constEnd()) {
            out.files.push_back(items[found.value()]);
        } else {
            // Not there (any more): the entry gets blank fields.
            platform::FolderItem missing;
            missing.name = pane.name(i);
            missing.native = platform::encodeName(missing.name);
            out.files.push_back(missing);
        }
    }
}

// One folder's section as it is made: where its files are, what the folder
// read gave, and the short names once the short layout first needs them.
class FolderSection {
public:
    FolderSection(CatalogJob& job, const QString& realFolder, const FolderContents& contents,
                  DescriptionReader& descriptions)
        : m_job(job), m_realFolder(realFolder), m_contents(contents), m_descriptions(descriptions)
    {
    }

    // The pane's i-th file as the folder read saw it; a file that vanished
    // or cannot be asked about still gets an entry, with a blank size and
    // date, and the list goes on.
    struct File {
        QString name;
        QString realPath;                           // where it is on disk
        const platform::FolderItem* item = nullptr; // null when not read with the folder
        platform::FileStat info;
    };
    File file(int i) const
    {
        File f;
        f.name = m_job.pane.name(i);
        f.realPath = platform::joinPath(m_realFolder, f.name);
        const auto& files = m_contents.files;
        if (size_t(i) < files.size() && files[size_t(i)].name == f.name)
            f.item = &files[size_t(i)];
        // What the folder read said of it is all we ask.
        f.info = f.item ? f.item->stat : platform::statPath(f.realPath);
        return f;
    }

    // The list never lists itself: under the default name, and by what it
    // is, whatever it is called.
    bool isTheList(const File& f) const
    {
        return platform::upperName(f.name) == platform::upperName(platform::kDefaultListFileName) ||
               (f.info.ok && m_job.writer.isListFile(f.info.device, f.info.inode));
    }

    // Reads what the entry shows of the file: for an archive its
    // description, for a shortcut its target, and the name in the layout
    // the check mark gives now.
    ListEntry describe(const File& f)
    {
        ListEntry entry;
        entry.size = sizeField(f.info.ok ? f.info.size : 0);
        entry.date = dateField(f.info.ok ? f.info.modified : QDateTime());
        entry.archive = diz::isArchiveName(f.name, m_job.options.allKinds);
        entry.shortcut = isShortcut(f.name);
        if (entry.archive || entry.shortcut) {
            // Read through one descriptor, opened relative to the folder and
            // checked to be the file the folder read saw; through a link only
            // where its owner may read what it leads to. That check's fstat
            // is the only one the file gets.
            qint64 size = -1;
            const platform::UniqueFd file(
                f.item && m_contents.fd >= 0
                    ? platform::openListedFile(m_contents.fd, *f.item, &size)
                    : platform::openRegularAt(AT_FDCWD, platform::encodeName(f.realPath)));
            if (entry.archive) {
                // Read only: an archive's attributes and permissions stay as
                // they are (Linux has no archive attributes to reset).
                if (file.get() < 0)
                    entry.description.status = diz::ZipStatus::CannotOpenArchive;
                else if (diz::endsInZip(f.name))
                    entry.description = m_descriptions.readOpen(file.get(), size, f.realPath);
                else
                    entry.description = readOtherKind(m_job.zip, file.get(), size, f.realPath);
            }
            if (entry.shortcut)
                entry.date = file.get() >= 0 ? shortcutTargetOf(file.get()) : QByteArray();
        }
        entry.longLayout = m_job.host.longFileFormat();
        entry.name =
            platform::upperName(entry.longLayout ? longName(f, entry.shortcut) : shortName(f));
        return entry;
    }

private:
    static QString longName(const File& f, bool shortcut)
    {
        return shortcut ? shortcutDisplayName(f.name) : f.name;
    }

    QString shortName(const File& f)
    {
        if (!m_shortNames) {
            m_shortNames.emplace();
            if (m_contents.fd >= 0)
                m_shortNames->setNames(m_contents.allNames);
            else
                m_shortNames->load(m_realFolder);
        }
        const QString name = m_shortNames->shortName(f.name);
        if (!name.isEmpty())
            return name;
        // The file came after the folder was read.
        return platform::lastComponent(platform::ShortPathOf(f.realPath));
    }

    CatalogJob& m_job;
    const QString m_realFolder;
    const FolderContents& m_contents;
    DescriptionReader& m_descriptions;
    std::optional<platform::ShortNameTable> m_shortNames;
};

} // namespace

void BuildFolderEntries(CatalogJob& job, const QString& knownRealFolder,
                        const FolderContents* given)
{
    RunControl& run = job.run;
    PaneModel& pane = job.pane;
    ListWriter& writer = job.writer;
    CatalogHost& host = job.host;

    if (run.listAborted)
        return;
    const QString temp = platform::tempDizPath();
    removeTemporaryDescription(temp);

    const int count = pane.count();
    for (int i = 0; i < count; ++i)
        pane.setSelected(i, false);

    const QString folder = pane.folderPath();
    writer.endLine();
    writer.writeName(folderLineText(folder));
    writer.endLine();

    // Files are reached through the real folder, resolved once, while the
    // texts stored and shown keep the pane's own.
    const QString realFolder =
        knownRealFolder.isEmpty() ? platform::resolvePath(folder) : knownRealFolder;
    ReadHere readHere;
    if (!given)
        readFolderForPane(realFolder, pane, readHere.contents);
    ExtractingDescriptionReader extracting(job.zip);
    DescriptionReader& descriptions = job.descriptions ? *job.descriptions : extracting;
    FolderSection section(job, realFolder, given ? *given : readHere.contents, descriptions);
    // The file was just removed; only a reader that writes it can bring it
    // back (Get diz and Save diz cannot run while a list is being made).
    const bool readerLeavesFile = descriptions.leavesTemporaryFile();
    bool temporaryMayExist = false;

    for (int i = 0; i < count; ++i) {
        if (temporaryMayExist) {
            removeTemporaryDescription(temp);
            temporaryMayExist = false;
        }
        if (!run.keepRunning || writer.failed()) {
            if (i > 0)
                pane.setSelected(i - 1, false);
            return;
        }
        const FolderSection::File file = section.file(i);
        host.fileStarted(file.realPath);

        if (i > 0)
            pane.setSelected(i - 1, false);
        pane.setSelected(i, true);
        host.yieldToEvents();

        if (section.isTheList(file))
            continue;
        const ListEntry entry = section.describe(file);
        if (entry.archive) {
            temporaryMayExist = readerLeavesFile;
            host.setProgress(0);
            if (entry.description.status == diz::ZipStatus::Aborted) {
                if (i > 0)
                    pane.setSelected(i - 1, false);
                return;
            }
        }
        writeEntry(writer, entry, job.options, host);
    }

    if (temporaryMayExist)
        removeTemporaryDescription(temp);
    if (count > 0)
        pane.setSelected(count - 1, false);
}

} // namespace vexlo::catalog
