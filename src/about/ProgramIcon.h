// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

namespace vexlo::about {

// The program's icon in every size the program carries (16 to 256 pixels),
// for the main window and the About box.
QIcon programIcon();

// Makes the pictures held in the program (":/about/...", ":/icons/...")
// available; safe to call any number of times.
void loadPictures();

} // namespace vexlo::about
