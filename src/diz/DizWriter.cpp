// SPDX-License-Identifier: MIT
#include "diz/DizWriter.h"

#include "diz/Cp437.h"
#include "diz/PaneModel.h"
#include "diz/RunControl.h"
#include "diz/ZipComponent.h"
#include "platform/DiskInfo.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <ctime>
#include <limits>
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
    : m_zip(zip), m_host(host), m_pane(pane), m_run(run), m_update([this](ZipComponent& component) {
          return component.storeRootMembers(component.archivePath(), {m_storing});
      }),
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
    // Abort is offered while the loop runs and nobody has stopped it yet.
    if (m_running && m_run.keepRunning) {
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
    m_host.setSavingDescriptions(false);
    m_host.setBusyPointer(false);
    m_run.keepRunning = false;
}

SavePlan DizWriter::planBytes() const
{
    SavePlan plan;
    const QString text = m_host.boxText();

    // An empty box stores nothing (a box of spaces or one line end is not empty).
    if (text.isEmpty()) {
        plan.refusal = SavePlan::Refusal::EmptyBox;
        return plan;
    }

    // The input filter keeps characters outside the DOS set out of the box;
    // should one get in all the same, nothing is stored rather than a
    // changed text. The box keeps the user's text.
    int bad = -1;
    if (!cp437::canEncode(text, &bad)) {
        const bool pair =
            text[bad].isHighSurrogate() && bad + 1 < text.size() && text[bad + 1].isLowSurrogate();
        plan.refusal = SavePlan::Refusal::Unencodable;
        plan.badPosition = bad;
        plan.badLength = pair ? 2 : 1;
        plan.notice = QStringLiteral("Not saved: %1.").arg(cp437::unencodableText(text, bad));
        return plan;
    }
    plan.bytes = *cp437::bytesFromBoxText(text) + QByteArrayLiteral("\r\n");
    return plan;
}

void DizWriter::planArchives(SavePlan& plan, const QString& selectedFilePath)
{
    // The temporary file holds what every archive receives, as the user may
    // look at it. Without it nothing is stored: no archive is touched, and
    // the box keeps its text.
    plan.temporaryPath = platform::tempDizPath();
    if (plan.temporaryPath.isEmpty()) {
        plan.refusal = SavePlan::Refusal::CannotWriteTemporary;
        plan.notice = QStringLiteral("Not saved: cannot write the temporary %1: there is no "
                                     "folder for it that is yours alone.")
                          .arg(platform::kTemporaryDescriptionName);
        return;
    }
    if (const int error = platform::writeOwnFile(plan.temporaryPath, plan.bytes); error != 0) {
        plan.refusal = SavePlan::Refusal::CannotWriteTemporary;
        plan.notice = QStringLiteral("Not saved: cannot write %1: %2")
                          .arg(plan.temporaryPath, platform::errorText(error));
        return;
    }
    // Every archive gets the same member, the time of the file included.
    plan.modified = ::time(nullptr);

    // The drive test, before any archive is touched.
    if (asFigure(m_freeSpace(selectedFilePath)) < platform::DiskInfo::kWritableThreshold) {
        plan.refusal = SavePlan::Refusal::ReadOnlyDrive;
        return;
    }

    // The run list, in list order. A run stores into all selected archives
    // or into none: taking only the first ones would leave the rest
    // unchanged without a word.
    // Each archive's path is fixed here, from the folder the pane shows now.
    const int count = m_pane.count();
    const QString folder = m_pane.folderPath();
    const QString dirFolder = m_host.currentFolder();
    for (int i = 0; i < count; ++i) {
        if (m_pane.isSelected(i))
            plan.archives.push_back({joinPaneEntry(folder, dirFolder, m_pane.name(i)), i});
    }
    if (plan.archives.size() > size_t(kMaxArchives)) {
        plan.refusal = SavePlan::Refusal::TooManyArchives;
        plan.notice = QStringLiteral("Not saved: %1 files are selected; Save diz stores into "
                                     "at most %2 at a time.")
                          .arg(plan.archives.size())
                          .arg(kMaxArchives);
        plan.archives.clear();
    }
}

void DizWriter::refuse(const SavePlan& plan)
{
    using Refusal = SavePlan::Refusal;
    switch (plan.refusal) {
    case Refusal::None:
    case Refusal::EmptyBox:
        return;
    case Refusal::Unencodable: // before the run started
        m_host.selectInBox(plan.badPosition, plan.badLength);
        m_host.focusBox();
        m_host.showNotice(plan.notice);
        return;
    case Refusal::ReadOnlyDrive:
        m_host.setBoxText(kReadOnlyText);
        m_host.noteReadOnlyDrive();
        restoreIdle();
        return;
    case Refusal::CannotWriteTemporary:
    case Refusal::TooManyArchives:
        restoreIdle();
        m_host.showNotice(plan.notice);
        return;
    }
}

void DizWriter::run(const QString& selectedFilePath)
{
    SavePlan plan = planBytes();
    if (plan.refusal != SavePlan::Refusal::None) {
        refuse(plan);
        return;
    }

    const RunningFlag running(m_running);

    // Running: the button becomes "&Abort" and the rest waits.
    m_run.keepRunning = true;
    m_host.setSavingDescriptions(true);
    m_host.setBusyPointer(true);

    planArchives(plan, selectedFilePath);
    if (plan.refusal != SavePlan::Refusal::None) {
        refuse(plan);
        return;
    }
    store(plan);
    restoreIdle();
}

void DizWriter::store(const SavePlan& plan)
{
    const int count = m_pane.count();
    for (int i = 0; i < count; ++i)
        m_pane.setSelected(i, false);

    // The bytes stored are the plan's own, never read back from the file:
    // between archives the window serves its events, and a copy on another
    // display, or anyone who can write the file, must not change what the
    // later archives receive. The component's properties still name the
    // file, which holds the same bytes, as an update of it would.
    const QString mask = plan.temporaryPath + u'\r';
    m_storing = RootMember{platform::kTemporaryDescriptionName, plan.bytes, plan.modified};
    int previous = -1;
    for (const SavePlan::Archive& target : plan.archives) {
        if (!m_run.keepRunning)
            break;
        if (previous >= 0)
            m_pane.setSelected(previous, false);
        m_pane.setSelected(target.index, true);
        previous = target.index;

        // An archive that cannot be prepared ends the run; it stays
        // highlighted. The path is the pane's real folder and the name listed,
        // taken exactly: a vanished archive is never matched to a sibling
        // that differs only in case. Someone else's archive, whose owner the
        // update could not keep, counts as one whose attributes cannot be
        // reset.
        const QString& archive = target.path;
        if (!platform::statPath(archive).ok || !platform::resetAttributesForReplace(archive))
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
    m_storing = RootMember();
    // The folder's record of the updates, flushed once for the run.
    if (!m_zip.FlushUpdates())
        m_host.setBoxText(kErrorText + statusNumberText(ZipStatus::ArchiveNotFlushed));
}

} // namespace vexlo::diz
