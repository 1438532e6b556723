// SPDX-License-Identifier: MIT
#pragma once

#include "catalog/ListOptions.h"
#include "diz/RunControl.h"

#include <QString>

namespace vexlo {

// What the window's commands share. The core sees only the run control and
// the list options; the paths are the window's own.
struct WindowState {
    // Paths on disk, as the user picked or typed them: what the commands act
    // on. The panels show them lower-cased.
    QString selectedFilePath; // entry last selected or processed (full path)
    QString listFilePath;     // list file as last chosen
    QString chosenFolder;     // folder last confirmed in the browse dialog
    RunControl run;
    catalog::ListOptions list;
};

} // namespace vexlo
