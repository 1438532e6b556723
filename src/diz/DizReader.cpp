#include "diz/DizReader.h"

#include "diz/Cp437.h"
#include "diz/ZipComponent.h"
#include "pane/core/PaneModel.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "shell/core/SharedState.h"

namespace vexlo::diz {

namespace {

const QString kDizName = QStringLiteral("file_id.diz");
const QString kCrcErrorText = QStringLiteral("          ** CRC Error **");

bool endsInZip(const QString& name)
{
    return name.size() >= 3 &&
           name.right(3).compare(QLatin1String("zip"), Qt::CaseInsensitive) == 0;
}

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

QList<QByteArray> splitDizLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        const qsizetype cr = bytes.indexOf('\r', start);
        if (cr < 0) {
            lines.append(bytes.mid(start));
            break;
        }
        lines.append(bytes.mid(start, cr - start));
        start = cr + 1;
        if (start < n && bytes[start] == '\n')
            ++start;
    }
    return lines;
}

QByteArray boxBytesFromDizFile(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 2);
    for (const QByteArray& line : splitDizLines(bytes)) {
        out.append(line);
        out.append("\r\n", 2);
    }
    return out;
}

DizReader::DizReader(ZipComponent& zip, DizHost& host, PaneModel& pane, SharedState& state)
    : m_zip(zip), m_host(host), m_pane(pane), m_state(state),
      m_extract([](ZipComponent& component) { return component.ExtractMembers(0); })
{
}

void DizReader::getDiz()
{
    if (m_state.KeepRunning)
        return;

    // A new read never appends to the previous description.
    m_host.setBoxText(QString());

    // The last selected entry wins; the separator follows chosenFolder.
    const QString name = lastSelectedName(m_pane);
    m_state.selectedFilePath = joinPaneEntry(m_pane.folderPath(), m_state.chosenFolder, name);

    // Only ZIP archives have a description to read.
    if (!endsInZip(name)) {
        m_host.setSaveDizEnabled(false);
        return;
    }

    // An earlier temporary file is left standing: an extraction that fails
    // without writing one shows the earlier description below.
    m_zip.setKeepPaths(false);
    m_zip.setMemberMask(kDizName);
    m_zip.setTargetFolder(platform::dataFolder());
    m_zip.setArchivePath(m_state.selectedFilePath);
    const qint16 status = m_extract(m_zip);

    // Aborted: nothing changes. No description: an empty box to type one.
    if (status == ZipStatus::Aborted)
        return;
    if (status == ZipStatus::NothingMatched) {
        m_host.setBoxText(QString());
        m_host.focusBox();
        return;
    }
    if (status > 100) {
        m_host.setBoxText(kCrcErrorText + u' ' + QString::number(status));
        m_host.setSaveDizEnabled(false);
        return;
    }

    m_host.setProgressValue(0);

    // A file that stands there but cannot be read counts as missing.
    const QString temp = platform::tempDizPath();
    QByteArray bytes;
    if (!platform::exists(temp) || !platform::readFile(temp, bytes)) {
        m_host.setBoxText(QString());
        m_host.setSaveDizEnabled(false);
        return;
    }
    m_host.setBoxText(cp437::boxTextFromBytes(boxBytesFromDizFile(bytes)));

    m_host.setSaveDizEnabled(true);
    m_host.focusBox();
}

} // namespace vexlo::diz
