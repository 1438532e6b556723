// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <sys/types.h>
#include <vector>

namespace vexlo::platform {

// Every file-system access of the program goes through these functions, and
// each takes its path exactly as given: the window keeps the real path of
// what the user picked or typed, and the command line uses what it was
// given. A lower-cased text decides nothing on a file system where "Docs"
// and "docs" are two folders. Names travel as text with undecodable bytes
// kept (NativeName.h).

// The one place where a text is matched to the disk without regard to letter
// case: for a folder whose real path is not known, which is only a settings
// file written in lower case by an older version. The exact path when it
// exists; otherwise each component is taken as written where it exists so,
// and else matched without regard to case against its folder, but only when
// exactly one entry matches (with two or more the text is ambiguous, and
// guessing could show and act on the wrong one). From a component that
// matches nothing on, the rest is kept as given.
QString resolvePath(const QString& path);

// The command line never guesses: a path typed there names exactly one file,
// and one that does not exist must be an error, not a sibling that differs in
// letter case. With this on, resolvePath() takes each path exactly as given
// (the window needs it only for a folder text whose real path is unknown).
void setPathsTakenAsGiven(bool on);

struct FileStat {
    bool ok = false;
    bool isDir = false;
    bool isFile = false; // a regular file
    bool isLink = false; // only set when the link itself was asked about
    qint64 size = 0;
    QDateTime modified; // local time
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    uid_t owner = 0;
};

// stat() of the path; followLinks false asks about a link itself.
FileStat statPath(const QString& path, bool followLinks = true);

bool exists(const QString& path);
bool isDirectory(const QString& path);
bool isRegularFile(const QString& path);

struct DirEntry {
    QString name;
    bool isDir = false;  // a folder, or a link to one
    bool isFile = false; // a regular file, or a link to one
};

// The entries of a folder in the order the file system returns them, without
// "." and "..". Returns false when the folder cannot be read.
bool listDirectory(const QString& folder, std::vector<DirEntry>& out);

// One entry of a folder read through its descriptor.
struct FolderItem {
    QString name;        // decoded as every name (NativeName.h)
    QByteArray native;   // its bytes
    bool isLink = false; // the entry itself is a symbolic link
    uid_t linkOwner = 0; // ...and whose it is
    FileStat stat;       // what it is, links followed; not ok for a link to nothing
};

// Whether what a link in a listed folder leads to may be read or walked
// into: the link is ours, or its owner owns what it leads to. Otherwise a
// user who can put a link in a tree that root (or anyone) lists could have
// the list show files of the lister's that the link's owner cannot read.
bool mayFollow(const FolderItem& item);

// Opens a folder relative to an open one (AT_FDCWD: a path), following a
// link or not. The descriptor, or -1 with errno set.
int openFolderAt(int dirFd, const QByteArray& name, bool followLinks);
// Every entry of an open folder but "." and "..", in the order the file
// system gives them: one directory read and one fstatat per entry, no path
// resolution. False when the folder cannot be read (errno set; what was read
// is kept).
bool readFolderAt(int dirFd, std::vector<FolderItem>& out);
// Opens a regular file relative to an open folder for reading, links
// followed. A FIFO, device or folder there is never opened for good (-1,
// errno EINVAL or EISDIR), nor waited on; the descriptor stays non-blocking.
int openRegularAt(int dirFd, const QByteArray& name);
// The same for an entry a folder read gave: the file opened must still be
// the one the read saw (a link swapped meanwhile is refused), and through a
// link only as mayFollow allows. size, when given, is set to the file's size
// as that check saw it.
int openListedFile(int dirFd, const FolderItem& item, qint64* size = nullptr);

// Before a file is replaced by a new version (Save diz), its attributes are
// "reset to normal": here, its owner may write it (an owner's read-only file
// becomes writable, as on DOS). False, with nothing
// changed, for a file the new version could not keep the owner or group of
// (someone else's file, even one we may write): it is never replaced.
bool resetAttributesForReplace(const QString& path);
// Deletes a file (never a folder). Returns false and leaves errno set on failure.
bool removeFile(const QString& path);

// Writes all of bytes to fd (retrying short writes and interruptions);
// false with errno set when a write fails.
bool writeAll(int fd, const QByteArray& bytes);

// Reads a whole file: 0, or the reason it failed as an errno value (EFBIG
// for a file larger than maxBytes). Both readers take regular files only and
// never wait on a named pipe or a device.
int readFileUpTo(const QString& path, QByteArray& out, qint64 maxBytes);
// The same, for callers that only need to know whether it worked.
bool readFile(const QString& path, QByteArray& out, qint64 maxBytes = qint64(64) << 20);
// Reads at most the first limit bytes of a file.
bool readFileStart(const QString& path, QByteArray& out, qint64 limit);
// Creates or truncates a file and writes the bytes: 0, or the reason it
// failed as an errno value.
int writeWholeFile(const QString& path, const QByteArray& bytes);
// The same, for callers that only need to know whether it worked.
bool writeFile(const QString& path, const QByteArray& bytes);
// Creates or rewrites a working file of the program's own (mode 0600) and
// writes the bytes: 0, or the reason it failed as an errno value. Whatever
// stands at that name must be a regular file of this user: a link there is
// never followed (ELOOP), and a pipe, a device or someone else's file is
// left untouched (EINVAL, EPERM).
int writeOwnFile(const QString& path, const QByteArray& bytes);
// Writes the bytes to a temporary file in the same folder, flushes it to disk
// and renames it over the path: readers see the old file or the new one.
bool writeFileAtomic(const QString& path, const QByteArray& bytes);

// Flushes a file, and the folder that holds it, to the disk.
bool syncFileAndFolder(const QString& path);

// Copies length bytes between open files at the given offsets, in the
// kernel where it can (never through our memory; shared blocks where the
// file system clones). Returns false and leaves errno set on failure.
bool copyFileRange(int from, quint64 fromOffset, int to, quint64 toOffset, quint64 length);
// Writes all the bytes at the offset.
bool writeAllAt(int fd, const QByteArray& bytes, quint64 offset);

// True when the folder exists and this user may create files in it.
bool isWritableFolder(const QString& folder);

// For the start of a program, before any thread: without TZ the C library
// looks at /etc/localtime again for every local time it works out, and
// libzip works one out for every member of every archive it opens. Naming
// the same zone file keeps the same zone and spares those looks.
void settleLocalTimeZone();

// The text of a failure an errno value gives.
QString errorText(int error);
// The text of the last failure of the functions above that leave errno set.
QString lastErrorText();

} // namespace vexlo::platform
