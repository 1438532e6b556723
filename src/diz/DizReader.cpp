// SPDX-License-Identifier: MIT
#include "diz/DizReader.h"

#include "diz/ArchiveKinds.h"
#include "diz/Cp437.h"
#include "diz/DescriptionText.h"
#include "diz/PaneModel.h"
#include "diz/RunControl.h"
#include "diz/ZipComponent.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>

namespace vexlo::diz {

namespace {

const QString kCrcErrorText = QStringLiteral("          ** CRC Error **");

} // namespace

QString lastSelectedName(const PaneModel& pane)
{
    QString name;
    const int count = pane.count();
    for (int i = 0; i < count; ++i) {
        if (pane.isSelected(i))
            name = pane.name(i);
    }
    return name;
}

QString joinPaneEntry(const QString& paneFolder, const QString& ruleFolder, const QString& name)
{
    if (ruleFolder.endsWith(platform::kSeparator))
        return paneFolder + name;
    return paneFolder + platform::kSeparator + name;
}

QByteArray boxBytesFromDizFile(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 2);
    for (const QByteArray& line : splitLines(bytes, LineEnds::CarriageReturn)) {
        out.append(line);
        out.append("\r\n", 2);
    }
    return out;
}

DizReader::DizReader(ZipComponent& zip, DizHost& host, PaneModel& pane, const RunControl& run)
    : m_zip(zip), m_host(host), m_pane(pane), m_run(run),
      m_extract([](ZipComponent& component) { return component.ExtractMembers(0); })
{
}

QString DizReader::getDiz(const QString& ruleFolder)
{
    if (m_run.keepRunning)
        return QString();

    // A new read never appends to the previous description.
    m_host.setBoxText(QString());

    // The last selected entry wins; the separator follows ruleFolder.
    const QString name = lastSelectedName(m_pane);
    const QString path = joinPaneEntry(m_pane.folderPath(), ruleFolder, name);

    // Only ZIP archives have a description to read, and with "All archive
    // kinds" those of other kinds, which are never written.
    if (!endsInZip(name)) {
        m_host.setSaveDizEnabled(false);
        if (m_allKinds && hasOtherKindName(name))
            showOtherKind(path);
        return path;
    }

    // An earlier temporary file is left standing: an extraction that fails
    // without writing one shows the earlier description below.
    // Without a folder of this user's alone there is nowhere the member
    // may be written: told as any target that cannot be written is.
    const QString target = platform::temporaryFolder();
    m_zip.setKeepPaths(false);
    m_zip.setMemberMask(platform::kDescriptionFileName);
    m_zip.setTargetFolder(target);
    m_zip.setArchivePath(path);
    const ZipStatus status = target.isEmpty() ? ZipStatus::CannotWriteTarget : m_extract(m_zip);

    // Aborted: nothing changes. No description: an empty box to type one.
    if (status == ZipStatus::Aborted)
        return path;
    if (status == ZipStatus::NothingMatched) {
        m_host.setBoxText(QString());
        m_host.focusBox();
        return path;
    }
    if (isFailure(status)) {
        m_host.setBoxText(kCrcErrorText + u' ' + QString::number(statusCode(status)));
        m_host.setSaveDizEnabled(false);
        return path;
    }

    m_host.setProgressValue(0);

    // A file that stands there but cannot be read counts as missing.
    const QString temp = platform::tempDizPath();
    QByteArray bytes;
    if (!platform::exists(temp) || !platform::readFile(temp, bytes)) {
        m_host.setBoxText(QString());
        m_host.setSaveDizEnabled(false);
        return path;
    }
    m_host.setBoxText(cp437::boxTextFromBytes(boxBytesFromDizFile(bytes)));

    m_host.setSaveDizEnabled(true);
    m_host.focusBox();
    return path;
}

// Read into memory through one descriptor: no temporary file, so the one a
// ZIP's Get diz left for Save diz stays as it is.
void DizReader::showOtherKind(const QString& path)
{
    const platform::UniqueFd fd(platform::openRegularAt(AT_FDCWD, platform::encodeName(path)));
    QByteArray bytes;
    ZipStatus status = ZipStatus::CannotOpenArchive;
    if (fd.get() >= 0) {
        m_zip.setKeepPaths(false);
        m_zip.setMemberMask(platform::kDescriptionFileName);
        m_zip.setArchivePath(path);
        status = readMemberOfAnyKind(m_zip, fd.get(), platform::kDescriptionFileName, bytes);
    }
    if (status == ZipStatus::Aborted)
        return;
    m_host.setProgressValue(0);
    if (status == ZipStatus::NothingMatched) {
        m_host.focusBox();
        return;
    }
    if (isFailure(status)) {
        m_host.setBoxText(kCrcErrorText + u' ' + QString::number(statusCode(status)));
        return;
    }
    m_host.setBoxText(cp437::boxTextFromBytes(boxBytesFromDizFile(bytes)));
    m_host.focusBox();
}

} // namespace vexlo::diz
