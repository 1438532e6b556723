#pragma once

#include <QString>

namespace vexlo {

// The state the window's handlers share. Everything starts empty or false.
struct SharedState {
    QString selectedFilePath;  // entry last selected or processed (full path)
    QString listFilePath;      // list file as last chosen
    QString chosenFolder;      // folder last confirmed in the browse dialog, lower case
    bool KeepRunning = false;  // Make list or Save diz is running
    bool ListAborted = false;  // Make list was aborted; no further folder starts
    bool MultiLineDiz = false; // mirrors "&Multi-line file_id.diz"
    bool ReadOnlyDrive = false;// the archives' file system counts as unwritable
};

}  // namespace vexlo
