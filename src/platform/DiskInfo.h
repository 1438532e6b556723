// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace vexlo::platform {

// Our disk-information component. Linux has no drive letters: DriveLetter
// takes a whole path, and the file system that holds it is the "drive".
//
// FreeSpace is the space free to this user, in KiB, on the file system that
// holds the path, or 0 when nothing may be written there:
// - a path that does not exist yet is judged by its nearest existing
//   ancestor folder (a list file about to be created, a folder not yet made);
// - an existing file is judged by the folder that holds it, since writing a
//   list or updating an archive creates a file in that folder;
// - 0 when that file system is mounted read-only, when the folder is not
//   writable by this user, or when the path cannot be looked at (a component
//   we may not search, a file used as a folder);
// - an empty path means the current folder, a relative path is taken
//   relative to the current folder;
// - the figure is capped at 2^31 - 1 KiB (2 TiB), so that a caller that keeps
//   it in a 32-bit number never sees it wrap below the threshold.
class DiskInfo {
public:
    void setDriveLetter(const QString& path) { m_path = path; }
    QString driveLetter() const { return m_path; }
    qint64 FreeSpace() const;

    // Callers compare FreeSpace with this: below it, the drive counts as one
    // the program must not write to.
    static constexpr qint64 kWritableThreshold = 1000;

    // The folder whose file system and permissions decide FreeSpace for the
    // path, or an empty text when the path cannot be judged.
    static QString judgedFolder(const QString& path);

    // For tests: answers FreeSpace instead of the file system (an empty
    // function removes it).
    static void setFreeSpaceOverride(std::function<qint64(const QString& path)> answer);

private:
    QString m_path;
};

} // namespace vexlo::platform
