// SPDX-License-Identifier: MIT
#pragma once

#include "diz/DizReader.h"
#include "diz/ZipComponent.h"

#include <QString>

#include <ctime>
#include <functional>
#include <vector>

namespace vexlo::diz {

// What one Save diz run stores and where, or why it stores nothing.
struct SavePlan {
    enum class Refusal {
        None,
        EmptyBox,             // nothing to store, nothing said
        Unencodable,          // a character outside the DOS set is in the box
        CannotWriteTemporary, // the file every archive receives
        ReadOnlyDrive,        // the archives' file system cannot be written
        TooManyArchives,      // more than DizWriter::kMaxArchives selected
    };
    struct Archive {
        QString path;  // fixed from the folder the pane showed at the start
        int index = 0; // its entry in the pane
    };
    Refusal refusal = Refusal::None;
    QString notice;       // what the user is told of a refusal, when anything
    int badPosition = -1; // Unencodable: where in the box, and how many units
    int badLength = 0;
    QByteArray bytes; // the box's text in the DOS set, and CR LF
    QString temporaryPath;
    time_t modified = 0;           // the stored member's time, the same in every archive
    std::vector<Archive> archives; // in list order
};

// Save diz: stores the box text into every selected archive of the pane as
// its member file_id.diz, one after the other, through the zip component's
// atomic replace. The same button aborts a running save.
class DizWriter {
public:
    DizWriter(ZipComponent& zip, DizHost& host, PaneModel& pane, RunControl& run);
    // The default update call refers to this object.
    DizWriter(const DizWriter&) = delete;
    DizWriter& operator=(const DizWriter&) = delete;

    // For tests: the update call (default: the plan's bytes stored into
    // ArchivePath, as UpdateMembers(0) would store the temporary file) and the free
    // space of the file system holding a path (default: DiskInfo).
    void setUpdateCall(ZipCall call) { m_update = std::move(call); }
    void setFreeSpaceQuery(std::function<qint64(const QString&)> query)
    {
        m_freeSpace = std::move(query);
    }

    // Save diz from the button or the menu: aborts while a run offers
    // Abort, otherwise starts a run. A press that reaches us while an
    // aborted run is still finishing its archive (events served during the
    // zip call) is ignored: a second run must not rewrite the temporary file
    // the first is storing. selectedFilePath: the entry last selected, whose
    // file system is judged before any archive is touched.
    void press(const QString& selectedFilePath);

    // The abort branch: asks the zip component and the run to stop and
    // restores the idle state at once.
    void abort();

    // True from the start of a run until its loop has ended.
    bool isRunning() const { return m_running; }

    static constexpr int kMaxArchives = 999;

    // " 7" and "-3": the status as the error text shows it.
    static QString statusNumberText(ZipStatus status);

private:
    void run(const QString& selectedFilePath);
    // The first half of a plan, before the run starts: the bytes.
    SavePlan planBytes() const;
    // The rest, once the run offers Abort: the temporary file written, the
    // drive judged, the archives taken from the pane.
    void planArchives(SavePlan& plan, const QString& selectedFilePath);
    // Tells the user why nothing is stored and ends the run if it started.
    void refuse(const SavePlan& plan);
    // The loop over the archives, and the flush after it.
    void store(const SavePlan& plan);
    void restoreIdle();

    ZipComponent& m_zip;
    DizHost& m_host;
    PaneModel& m_pane;
    RunControl& m_run;
    ZipCall m_update;
    std::function<qint64(const QString&)> m_freeSpace;
    RootMember m_storing;   // what the running store puts into each archive
    bool m_running = false; // the loop over the archives goes on
};

} // namespace vexlo::diz
