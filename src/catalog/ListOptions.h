// SPDX-License-Identifier: MIT
#pragma once

namespace vexlo::catalog {

// How a Make list run writes descriptions, set before the run starts.
struct ListOptions {
    bool multiLineDiz = false;  // every description line, not just the first
    bool readOnlyDrive = false; // the archives' file system counts as unwritable
    // Archives of other kinds (ARJ, LZH, RAR, 7z, CAB, ISO, TAR...) are
    // listed with their descriptions too. Off, the list is what it always
    // was: only names ending in "zip" are opened.
    bool allKinds = false;
};

} // namespace vexlo::catalog
