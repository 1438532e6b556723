// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

namespace vexlo::diz {

// An update writes the new archive into an unnamed file, which a killed run
// leaves nothing of; it gets a name only for the moment of the exchange, or
// where the file system has no unnamed files: "." + archive name +
// ".vexlo32-" + ten letters and digits (platform/FileReplacement.h). A run
// killed then leaves that file behind, and nothing else ever removes it.
// Before each update the zip layer removes the leftovers of that one
// archive, and since a wrong guess would delete a user's file, only a file
// that passes every test below:
//
// - its name has exactly that form for the archive's own name, in the
//   archive's folder: no user file is named so ("game.zip.backup" or
//   "game.zip.201224" never match);
// - it is a regular file (never a link or a folder), has no other hard
//   link, and belongs to this user or to the archive's owner;
// - it is not the archive itself;
// - no process has it open: a write lease, which the kernel grants only
//   then, is held while it is removed, so a running update of another
//   process is never disturbed. Where leases are not available nothing is
//   removed.
//
// realArchive: the archive's real path (links resolved). Returns how many
// files were removed.
int removeStrayUpdateFiles(const QString& realArchive);

// The same clean-up for many archives in a row. Listing the folder for every
// archive would make updating n archives of one folder cost n listings of
// it; this keeps what one listing found (the leftovers of every archive
// there) and lists the folder again only when it has changed since, other
// than by our own updates (noteOwnChange). The tests above still apply to
// every file before it is removed. A folder's times move in clock ticks of
// a few milliseconds: a leftover that another process makes within the tick
// of one of our own changes can go unseen until the folder is listed again,
// and is then removed by a later update; it is never mistaken for more.
class StrayUpdateCleaner {
public:
    int removeFor(const QString& realArchive);
    // After an update (or a failed one) of realArchive: its own temporary
    // file and rename changed the folder, which needs no new listing.
    void noteOwnChange(const QString& realArchive);

private:
    struct Stamp {
        qint64 modifiedSec = -1, modifiedNsec = -1, changedSec = -1, changedNsec = -1;
        bool operator==(const Stamp&) const = default;
    };
    static bool stampOf(int dirFd, Stamp& out);

    QByteArray m_folder; // native path of the folder listed last
    Stamp m_stamp;       // the folder's times when it was listed
    std::map<QByteArray, std::vector<QByteArray>> m_byArchive; // archive name -> leftovers
};

// True for a name of the form above for the archive name given.
bool isUpdateTempName(const QString& name, const QString& archiveName);

} // namespace vexlo::diz
