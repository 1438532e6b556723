#include "diz/DizWriter.h"

#include "platform/DiskInfo.h"
#include "diz/Cp437.h"
#include "diz/ZipComponent.h"
#include "diz/PaneModel.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "diz/RunControl.h"

#include <limits>
#include <utility>
#include <vector>

namespace vexlo::diz {


namespace {

const QString kReadOnlyText = QStringLiteral("Read only drive");
const QString kErrorText = QStringLiteral("          Error #");

// The figure as the callers compare it: a 32-bit signed number. A huge free
// space must not wrap round to a negative one.
qint32 asFigure(qint64 value)
{
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return qint32(value);
}

class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RunningFlag() { m_flag = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& m_flag;
};

} // namespace

DizWriter::DizWriter(ZipComponent& zip, DizHost& host, PaneModel& pane, RunControl& run)
    : m_zip(zip), m_host(host), m_pane(pane), m_run(run),
      m_update([](ZipComponent& component) { return component.UpdateMembers(0); }),
      m_freeSpace([](const QString& path) {
          platform::DiskInfo disk;
          disk.setDriveLetter(path);
          return disk.FreeSpace();
      })
{
}

QString DizWriter::statusNumberText(ZipStatus status)
{
    const qint16 code = statusCode(status);
    const QString digits = QString::number(code);
    return code >= 0 ? u' ' + digits : digits;
}

void DizWriter::press(const QString& selectedFilePath)
{
    if (m_offeringAbort) {
        abort();
        return;
    }
    if (m_running)
        return;
    run(selectedFilePath);
}

void DizWriter::abort()
{
    m_zip.setAbortRequest(true);
    m_run.keepRunning = false;
    restoreIdle();
}

void DizWriter::restoreIdle()
{
    m_offeringAbort = false;
    m_host.setSavingDescriptions(false);
    m_host.setBusyPointer(false);
    m_run.keepRunning = false;
}

void DizWriter::run(const QString& selectedFilePath)
{
    const QString text = m_host.boxText();

    // An empty box stores nothing (a box of spaces or one line end is not empty).
    if (text.isEmpty())
        return;

    // The input filter keeps characters outside the DOS set out of the box;
    // should one get in all the same, nothing is stored rather than a
    // changed text. The box keeps the user's text.
    int bad = -1;
    if (!cp437::canEncode(text, &bad)) {
        const bool pair =
            text[bad].isHighSurrogate() && bad + 1 < text.size() && text[bad + 1].isLowSurrogate();
        m_host.selectInBox(bad, pair ? 2 : 1);
        m_host.focusBox();
        m_host.showNotice(QStringLiteral("Not saved: %1.").arg(cp437::unencodableText(text, bad)));
        return;
    }
    const QByteArray bytes = *cp437::bytesFromBoxText(text) + QByteArrayLiteral("\r\n");

    const RunningFlag running(m_running);

    // Running: the button becomes "&Abort" and the rest waits.
    m_run.keepRunning = true;
    m_offeringAbort = true;
    m_host.setSavingDescriptions(true);
    m_host.setBusyPointer(true);

    // The temporary file is what every archive receives. Without it there
    // is nothing to store: no archive is touched, and the box keeps its text.
    const QString temp = platform::tempDizPath();
    if (const int error = platform::writeWholeFile(temp, bytes); error != 0) {
        const QString why = platform::errorText(error);
        restoreIdle();
        m_host.showNotice(QStringLiteral("Not saved: cannot write %1: %2").arg(temp, why));
        return;
    }

    // The drive test, before any archive is touched.
    if (asFigure(m_freeSpace(selectedFilePath)) < platform::DiskInfo::kWritableThreshold) {
        m_host.setBoxText(kReadOnlyText);
        m_host.noteReadOnlyDrive();
        restoreIdle();
        return;
    }

    // The run list, in list order. A run stores into all selected archives
    // or into none: taking only the first ones would leave the rest
    // unchanged without a word.
    // Each archive's path is fixed here, from the folder the pane shows now.
    std::vector<std::pair<QString, int>> runList;
    const int count = m_pane.count();
    const QString folder = m_pane.folderPath();
    const QString dirFolder = m_host.currentFolder();
    for (int i = 0; i < count; ++i) {
        if (m_pane.isSelected(i))
            runList.emplace_back(joinPaneEntry(folder, dirFolder, m_pane.name(i)), i);
    }
    if (runList.size() > size_t(kMaxArchives)) {
        restoreIdle();
        m_host.showNotice(QStringLiteral("Not saved: %1 files are selected; Save diz stores into "
                                         "at most %2 at a time.")
                              .arg(runList.size())
                              .arg(kMaxArchives));
        return;
    }

    for (int i = 0; i < count; ++i)
        m_pane.setSelected(i, false);

    const QString mask = temp + u'\r';
    int previous = -1;
    for (const auto& [path, index] : runList) {
        if (!m_run.keepRunning)
            break;
        if (previous >= 0)
            m_pane.setSelected(previous, false);
        m_pane.setSelected(index, true);
        previous = index;

        // An archive that cannot be prepared ends the run; it stays
        // highlighted. The name is the one listed, taken exactly: a vanished
        // archive is never matched to a sibling that differs only in case.
        // Someone else's archive, whose owner the update could not keep,
        // counts as one whose attributes cannot be reset.
        const QString archive = platform::resolveFolderPart(path);
        if (!platform::statExact(path).ok || !platform::resetAttributesForReplace(archive))
            break;

        m_zip.setKeepPaths(false);
        m_zip.setMemberMask(mask);
        m_zip.setArchivePath(archive);
        const ZipStatus status = m_update(m_zip);
        if (status != ZipStatus::Success)
            m_host.setBoxText(kErrorText + statusNumberText(status));
        m_host.setProgressValue(0);

        // Between archives the window serves its events, so that "&Abort"
        // can always be pressed.
        if (m_run.keepRunning)
            m_host.yieldEvents();
    }
    // The folder's record of the updates, flushed once for the run.
    if (!m_zip.FlushUpdates())
        m_host.setBoxText(kErrorText + statusNumberText(ZipStatus::ArchiveNotFlushed));

    restoreIdle();
}

} // namespace vexlo::diz
