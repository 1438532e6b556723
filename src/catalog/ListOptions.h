// SPDX-License-Identifier: MIT
#pragma once

namespace vexlo::catalog {

// How a Make list run writes descriptions, set before the run starts.
struct ListOptions {
    bool multiLineDiz = false;  // every description line, not just the first
    bool readOnlyDrive = false; // the archives' file system counts as unwritable
};

} // namespace vexlo::catalog
