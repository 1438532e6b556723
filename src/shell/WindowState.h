#pragma once

#include "catalog/ListOptions.h"
#include "diz/RunControl.h"

#include <QString>

namespace vexlo {

// What the window's commands share. The core sees only the run control and
// the list options; the paths are the window's own.
struct WindowState {
    QString selectedFilePath; // entry last selected or processed (full path)
    QString listFilePath;     // list file as last chosen
    QString chosenFolder;     // folder last confirmed in the browse dialog, lower case
    RunControl run;
    catalog::ListOptions list;
};

} // namespace vexlo
