#pragma once

#include <QString>
#include <QtGlobal>

namespace vexlo::catalog {

// Our disk-information component. Linux has no drive letters: DriveLetter
// takes a whole path, and the file system that holds it is the "drive".
// FreeSpace is the space free to this user in KiB, or 0 when that file system
// is mounted read-only or the folder is not writable by this user. For a path
// not yet created, the nearest existing ancestor decides.
class DiskInfo {
public:
    void setDriveLetter(const QString& path) { m_path = path; }
    QString driveLetter() const { return m_path; }
    qint64 FreeSpace() const;

    // Callers compare FreeSpace with this: below it, the drive counts as one
    // the program must not write to.
    static constexpr qint64 kWritableThreshold = 1000;

private:
    QString m_path;
};

}  // namespace vexlo::catalog
