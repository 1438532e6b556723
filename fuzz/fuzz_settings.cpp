// SPDX-License-Identifier: MIT
// The settings file on arbitrary bytes: readSettingsFile, then the start-up
// rules of startupFoldersFrom. Whatever the file holds, start-up must end on
// a folder: the first line comes back as the bytes it was (no line end, no
// NUL), and the pane gets a usable folder (the home folder at worst) or the
// root.

#include "fuzz_support.h"
#include "platform/Settings.h"

using namespace vexlo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString file = fuzz::scratchFolder() + "/Vexlo32.ini";
    const QByteArray input = fuzz::bytesOf(data, size);
    if (!platform::writeFile(file, input))
        fuzz::fail("cannot write the settings file");

    const SettingsRead read = readSettingsFile(file);
    if (!read.fileExists)
        fuzz::fail("the settings file was not found");
    if (read.readOk) {
        const QByteArray line = platform::encodeName(read.firstLine);
        if (!input.startsWith(line))
            fuzz::fail("the first line does not come back as its bytes");
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            fuzz::fail("the first line holds a line end or a NUL");
    } else if (!input.isEmpty()) {
        fuzz::fail("a non-empty settings file was not read");
    }

    const StartupFolders start = startupFoldersFrom(read);
    if (start.pathPanel.isEmpty() || start.folder.isEmpty())
        fuzz::fail("start-up ended without a folder");
    if (start.folder != platform::kRootFolder && !isUsableFolder(start.folder))
        fuzz::fail("the pane was given a folder it cannot show");
    if (start.pathPanel != platform::lowerPath(start.folder))
        fuzz::fail("the Path panel does not show the folder lower-cased");
    if (start.listFile != defaultListFile(start.folder) ||
        start.listPanel != defaultListFile(start.pathPanel))
        fuzz::fail("the list file is not derived from the folder");
    return 0;
}
