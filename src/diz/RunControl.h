// SPDX-License-Identifier: MIT
#pragma once

namespace vexlo {

// Whether a long run (Make list, Save diz) goes on. The one who starts a run
// sets keepRunning; an Abort press clears it, and the run looks at it before
// each folder, file and archive.
struct RunControl {
    bool keepRunning = false; // a run is going on and is to go on
    bool listAborted = false; // Make list was aborted: no further folder starts
};

} // namespace vexlo
