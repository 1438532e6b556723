// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

#include <sys/stat.h>

namespace vexlo::platform {

// Replaces a file that users keep with a new version of it, so that the old
// one stays whole until the new one is complete on the disk, and so that
// nothing but that one file is ever touched:
//
// - open() opens the file once and holds it: every read of the old version
//   goes through that one descriptor, and an open file description lock
//   (write lock where we may write the file, read lock otherwise) keeps a
//   second copy of the program off it until we are done. The file must be a
//   regular file with one name (a hard-linked file would be split: its other
//   names would keep the old content), whose owner and group the new version
//   can keep.
// - beginWrite() creates the new version as an unnamed file in the same
//   folder (O_TMPFILE), which a killed process leaves nothing of. Where the
//   file system has no unnamed files, it gets a hidden name of a form no user
//   file has: "." + name + ".vexlo32-" + ten letters and digits
//   (isLeftoverName).
// - commit() gives it the old file's owner, group, mode and extended
//   attributes (ACLs among them), flushes it to the disk, and only then puts
//   it in the old file's place, provided the name still holds the very file
//   that was opened, unchanged (device, inode, size, times). With
//   RENAME_EXCHANGE the check is made again on what the exchange took out, so
//   another program's version that arrived at the last moment is put back,
//   never lost. The folder is flushed after.
//
// Anything that fails leaves the old file as it was and removes the new one.
class FileReplacement {
public:
    enum class Result {
        Ok,
        CannotOpen,   // missing, unreadable, or a folder or link there
        NotRegular,   // a FIFO, a device or another special file
        HardLinked,   // more than one name
        NotPermitted, // we could not keep its owner or group (someone else's file)
        Busy,         // another update holds the file's lock
        Moved,        // the name held another file once the lock was ours: open again
        Changed,      // the file changed, or was replaced, while we worked on it
        CannotWrite,  // the new version could not be written, flushed or put in place
        Conflict,     // another version arrived at the last moment and could not be put
                      // back: ours is in place, theirs kept as "<name>.other-version-..."
        NotFlushed,   // in place, but the folder could not be flushed to the disk
    };

    FileReplacement() = default;
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // path: the real path of the file (links already followed; a link found
    // at the name now is refused). lockWaitMs: how long another holder of
    // the lock is waited for.
    Result open(const QByteArray& path, int lockWaitMs);

    // The old version, open for reading, and what fstat said of it.
    int fd() const { return m_fd; }
    const struct stat& original() const { return m_original; }

    Result beginWrite();
    // The new version, open for reading and writing.
    int writeFd() const { return m_writeFd; }

    // folderToFlush: when given, the folder is not flushed here but handed
    // over (a descriptor the caller flushes with flushFolder and closes), so
    // that many updates in one folder cost one flush of it.
    Result commit(int* folderToFlush = nullptr);

    // Drops the new version (the old file is never touched) and lets go of
    // the old one. Also what the destructor does.
    void discard();

    // errno of the failure behind the last result other than Ok.
    int errorNumber() const { return m_errno; }

    // Whether name (a name in the file's folder) has the form of a new
    // version of fileName that was given a name: what a killed update leaves.
    static bool isLeftoverName(const QByteArray& name, const QByteArray& fileName);
    // The file name a leftover belongs to, as isLeftoverName compares it
    // (long names are shortened); empty when name is no leftover.
    static QByteArray leftoverOwnerKey(const QByteArray& name);
    static QByteArray ownerKey(const QByteArray& fileName);

private:
    Result fail(Result result, int error);
    Result lock(int lockWaitMs);
    Result nameTheNewFile();
    Result putInPlace();
    bool sameAsOpened(const struct stat& st) const;
    bool unchangedSinceOpened() const;
    void closeRead();

    int m_dirFd = -1;
    int m_fd = -1;
    int m_lockFd = -1; // m_fd reopened for writing, when we may; else m_fd
    QByteArray m_name; // the file's name in its folder
    struct stat m_original {};
    int m_writeFd = -1;
    QByteArray m_writeName; // the new version's hidden name, once it has one
    int m_errno = 0;
};

// A new file that takes the place of whatever is at a name once it is
// complete: for output that users keep (the list file). It is written
// unnamed in the destination's folder, flushed, and renamed over the name at
// the commit; until then the previous file stays as it was, and a failed or
// abandoned run leaves it so. What is at the name (a file, a link, a FIFO)
// is replaced, never followed, written into or waited on. A previous file of
// ours lends its permissions; otherwise the umask decides.
class NewFileAt {
public:
    NewFileAt() = default;
    ~NewFileAt();
    NewFileAt(const NewFileAt&) = delete;
    NewFileAt& operator=(const NewFileAt&) = delete;

    bool begin(const QByteArray& path); // false with errno set
    int fd() const { return m_fd; }
    // Whether the file device/inode is the new file, or the one it will
    // replace: a list must not list itself.
    bool isThisFile(dev_t device, ino_t inode) const;
    bool commit(); // false with errno set; the new file is then dropped
    void discard();

private:
    int m_dirFd = -1;
    int m_fd = -1;
    QByteArray m_name;
    QByteArray m_tempName; // once it has a name
    bool m_hadFile = false;
    struct stat m_previous {};
    struct stat m_new {};
};

// Where output that users keep (the list file) goes for a path that was
// typed or chosen. A file, nothing, or a FIFO at the path: a new file takes
// its place (a FIFO is never opened, so never waited on). A link made by
// someone else (planted in a folder others may write): the link is
// replaced, never followed. A link of our own or root's is taken as meant,
// one step at a time (someone else's link further along is refused): a file
// it leads to is replaced (a missing one created); the kernel's links
// (/dev/stdout to /proc/self/fd/1) are written into, opened without waiting. A
// character device at the path itself (/dev/null), which only the
// privileged can make, is written into; a folder, block device or socket is
// refused.
struct OutputTarget {
    enum class Kind { Replace, Stream, Refuse } kind = Kind::Refuse;
    QByteArray path;
    bool inPlace = false; // a Stream that may be a regular file (/proc/self/fd)
    int error = 0;        // for Refuse
};
OutputTarget outputTargetFor(const QByteArray& path);
// Opens a Stream target for writing without waiting (a FIFO without a
// reader fails at once); writes then block as usual. A regular file found
// there (a link swapped meanwhile) is refused. -1 with errno.
int openOutputStream(const OutputTarget& target);
// The list written into its old file in place, emptied first: only for a
// list in a folder where no new file may be made (the list itself is
// writable). A link or special file there is refused. -1 with errno.
int openListInPlace(const QByteArray& path);

// Flushes a folder (its renames) to the disk. Some network and FUSE file
// systems cannot and say so (EINVAL, ENOTSUP): that is no failure.
bool flushFolder(int dirFd);

// Whether this process may give a new file the owner and group of st: its
// owner who belongs to its group, or root. Replacing a file any other user
// may write would make it ours: such a file is never replaced.
bool canKeepOwnership(const struct stat& st);

} // namespace vexlo::platform
