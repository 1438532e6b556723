// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace vexlo {
class PaneModel;
struct RunControl;
} // namespace vexlo

#include "diz/ZipStatus.h"

namespace vexlo::diz {

class ZipComponent;

// What Get diz and Save diz need of the window. The window implements it over
// its controls; the tests use a recording fake.
class DizHost {
public:
    virtual ~DizHost() = default;

    // The description box Text1. boxText() is the box's text with its line
    // breaks as the box keeps them ('\n', U+2029 or U+2028: take the text
    // document's raw text, which also keeps U+00A0, the DOS blank 0xFF).
    // setBoxText() gets '\n' line breaks and no '\r'.
    virtual QString boxText() const = 0;
    virtual void setBoxText(const QString& text) = 0;
    virtual void focusBox() = 0;
    // Highlights part of the box text (UTF-16 positions of boxText()).
    virtual void selectInBox(int position, int length) = 0;
    // A short explanation for the user that does not replace the box text
    // (shown near the box, for instance as a tool tip).
    virtual void showNotice(const QString& text) = 0;

    // Whether Save diz is offered (its button and menu item).
    virtual void setSaveDizEnabled(bool enabled) = 0;
    // A Save diz run starts (true) or has ended or been aborted (false): the
    // window offers Abort in place of Save diz and holds the other commands
    // while it runs.
    virtual void setSavingDescriptions(bool saving) = 0;
    // The hourglass over the window.
    virtual void setBusyPointer(bool busy) = 0;
    // The progress bar's ProgressValue.
    virtual void setProgressValue(int value) = 0;
    // Lets the window serve pending events once (Abort, repaints).
    virtual void yieldEvents() = 0;
    // The folder the window holds, as it holds it (its text decides the
    // joining rule of the archives' paths).
    virtual QString currentFolder() const = 0;
    // Save diz found the archives' file system unwritable.
    virtual void noteReadOnlyDrive() {}
};

// One call of the zip component, after the caller has set its properties.
// The default calls the component's method; tests put in other statuses.
using ZipCall = std::function<ZipStatus(ZipComponent&)>;

// The name of the last selected entry in list order, or an empty text.
QString lastSelectedName(const PaneModel& pane);

// The pane's joining rule: the pane folder, then a separator unless
// ruleFolder's text ends in one, then the name. The rule folder is not the
// folder that is joined (the pane reads the one, the user chose the other), so
// an empty rule folder with the pane at the root gives "//name": POSIX takes a
// doubled separator as one, and the path is kept as the rule makes it.
QString joinPaneEntry(const QString& paneFolder, const QString& ruleFolder, const QString& name);

// What the box receives for a description file: every line (its line ends
// LineEnds::CarriageReturn) followed by CR LF.
QByteArray boxBytesFromDizFile(const QByteArray& bytes);

// Get diz: shows the description of the last selected archive of the pane in
// the box, and offers Save diz when one was read.
class DizReader {
public:
    DizReader(ZipComponent& zip, DizHost& host, PaneModel& pane, const RunControl& run);

    // "All archive kinds": an archive of another kind (by its name) shows its
    // description too; Save diz stays off for it, as for any name not
    // ending in "zip".
    void setAllKinds(bool on) { m_allKinds = on; }

    // For tests: the extraction call (default: ExtractMembers(0)).
    void setExtractCall(ZipCall call) { m_extract = std::move(call); }

    // Get diz, from the button, the menu or a double click in the pane.
    // Does nothing while Make list or Save diz runs (keepRunning): the
    // extraction would overwrite the temporary file a run is storing; the
    // result is then a null text. Otherwise returns the path of the entry it
    // took (the pane's folder and last selected name, joined by the rule of
    // ruleFolder, the folder the user last chose), also when that entry is
    // no archive.
    QString getDiz(const QString& ruleFolder);

private:
    ZipComponent& m_zip;
    DizHost& m_host;
    PaneModel& m_pane;
    const RunControl& m_run;
    ZipCall m_extract;
    bool m_allKinds = false;

    void showOtherKind(const QString& path);
};

} // namespace vexlo::diz
