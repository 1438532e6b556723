#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

namespace vexlo::diz {

// An update writes the new archive to "<archive>.XXXXXX" beside it (six
// letters and digits: Debian's libzip 1.7.3 takes glibc's mkstemp, which
// uses A-Z, a-z and 0-9; our own file source uses 0-9 and a-z) and renames
// that over the archive. A run killed before the rename leaves the
// file behind; nothing else ever removes it. Before each update the zip
// layer removes the leftovers of that one archive, and since a wrong guess
// would delete a user's file, only a file that passes every test below:
//
// - its name is the archive's own name, ".", and six letters or digits
//   (ASCII), in the archive's folder (no other pattern, no other folder);
// - it is a regular file (never a link or a folder), has no other hard
//   link, and belongs to this user or to the archive's owner;
// - it is not the archive itself;
// - it is empty or starts like a ZIP archive (a local header or an end
//   record, or the first bytes of one): what libzip writes first;
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
