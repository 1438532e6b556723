// SPDX-License-Identifier: MIT
#pragma once

#include "diz/StrayUpdateFiles.h"
#include "diz/ZipStatus.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <ctime>
#include <vector>

namespace vexlo::diz {

// A member to store at the root of an archive.
struct RootMember {
    QString name;    // a plain name: no folder part, neither "." nor ".."
    QByteArray data; // in full, before the archive is touched
    time_t modified = 0;
};

// Our zip component over libzip: the one place where ZIP archives are read
// and written. Its operations take their arguments and return a status
// (ZipStatus.h); the properties and the capitalised methods are the front
// the program has always used, a call of an operation with what the
// properties hold. Calls block; during a call the component
// raises Status (extraction) or Adding (update) with the completion in
// percent, and AbortRequest set meanwhile (from a slot of those signals, or
// of events they let run) makes the call stop early and return 190.
//
// AbortRequest: the program sets it true to stop a running call and never
// sets it back, yet a later call must run normally. So a call does not look
// at the flag's value but at whether it was set (to true) after the call
// began; each call takes a mark at its start and compares. The flag itself
// keeps the value the program gave it: the component never resets it.
//
// KeepPaths is accepted for the callers' sake; member paths are never kept.
// Only root-level members take part, and extraction writes the one fixed name
// MemberMask in TargetFolder, so nothing can land outside that folder.
class ZipComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool AbortRequest READ abortRequest WRITE setAbortRequest)
    Q_PROPERTY(bool KeepPaths READ keepPaths WRITE setKeepPaths)
    Q_PROPERTY(QString MemberMask READ memberMask WRITE setMemberMask)
    Q_PROPERTY(QString TargetFolder READ targetFolder WRITE setTargetFolder)
    Q_PROPERTY(QString ArchivePath READ archivePath WRITE setArchivePath)

public:
    explicit ZipComponent(QObject* parent = nullptr);
    ~ZipComponent() override; // flushes what FlushUpdates would

    bool abortRequest() const { return m_abortRequest; }
    void setAbortRequest(bool on)
    {
        m_abortRequest = on;
        if (on)
            ++m_abortRequests;
    }
    bool keepPaths() const { return m_keepPaths; }
    void setKeepPaths(bool on) { m_keepPaths = on; }
    QString memberMask() const { return m_memberMask; }
    void setMemberMask(const QString& mask) { m_memberMask = mask; }
    QString targetFolder() const { return m_targetFolder; }
    void setTargetFolder(const QString& folder) { m_targetFolder = folder; }
    QString archivePath() const { return m_archivePath; }
    void setArchivePath(const QString& path) { m_archivePath = path; }

    // The operations.

    // Reads the root-level member called name (without regard to letter
    // case) of the archive into memory. Nothing on the disk changes.
    ZipStatus readRootMember(const QString& archivePath, const QString& name, QByteArray& out);
    // The same for an archive the caller holds open (a regular file).
    // knownSize: its size, when the caller's fstat has just seen a regular
    // file (spares a second one); -1 to look.
    ZipStatus readRootMemberFrom(int fd, const QString& name, QByteArray& out,
                                 qint64 knownSize = -1);
    // Reads the member as readRootMember does and writes it as the file
    // name in targetFolder, whole or not at all.
    ZipStatus extractRootMember(const QString& archivePath, const QString& name,
                                const QString& targetFolder);
    // Stores the members at the root of the archive, as UpdateMembers says;
    // each at most kMaxStoredMemberSize bytes.
    ZipStatus storeRootMembers(const QString& archivePath, const std::vector<RootMember>& members);
    // Reads the files (full paths; empty ones skipped), then stores each
    // under its last path component.
    ZipStatus storeRootFiles(const QString& archivePath, const QStringList& files);

    // The front.

    // Extracts the root-level member matching MemberMask (without regard to
    // letter case) of ArchivePath into TargetFolder, replacing a file of that
    // name there. The target appears whole or not at all.
    ZipStatus ExtractMembers(int reserved);

    // Stores the files named by MemberMask (CR-separated full paths) at the
    // root of ArchivePath. A member of the same name (any letter case) is
    // replaced and keeps its stored name; a new one is added after the last
    // member. Nothing else of the archive changes, byte for byte (ZipSplice.h
    // says what may): an archive whose records overlap or disagree is
    // refused. The archive is replaced atomically, keeping owner, group, mode
    // and extended attributes, and only if it is still the file that was read
    // (platform/FileReplacement.h); a hard-linked archive, or someone else's
    // whose owner we could not keep, is refused.
    ZipStatus UpdateMembers(int reserved);

    // The same update with the member's bytes given instead of a file:
    // stores data as the root member memberName of ArchivePath (its time:
    // now). For callers that have the bytes and no file of that name.
    ZipStatus UpdateMemberData(const QString& memberName, const QByteArray& data);

    // An update puts the new archive on the disk before it replaces the old
    // one, so a crash leaves either archive whole. The folder's record of
    // the exchange is flushed once for many updates in one folder: when the
    // next update is in another folder, here, or when the component goes.
    // False when a flush since the last call failed (the archives are
    // updated; a crash could bring back their old versions).
    bool FlushUpdates();

    // Reads the root-level member matching memberName (without regard to
    // letter case) into memory, with the same checks and statuses as
    // ExtractMembers but without touching the disk.
    ZipStatus ReadMember(const QString& archive, const QString& memberName, QByteArray& out);
    // The same for an archive the caller holds open (a regular file; its
    // size as for readRootMemberFrom).
    ZipStatus ReadMemberFrom(int fd, const QString& memberName, QByteArray& out,
                             qint64 knownSize = -1);

signals:
    void Status(int completion); // during extraction or reading
    void Adding(int completion); // during an update

private:
    friend class ZipRunningCall;

    // Reads the files to store into memory, size-limited.
    static ZipStatus readRootFiles(const QStringList& paths, std::vector<RootMember>& out);

    bool m_abortRequest = false;
    quint64 m_abortRequests = 0; // times AbortRequest was set true; calls compare marks
    bool m_keepPaths = false;
    QString m_memberMask;
    QString m_targetFolder;
    QString m_archivePath;
    StrayUpdateCleaner m_strays; // what killed earlier updates left, folder by folder
    int m_unflushedFolder = -1;  // the folder of the last updates, not yet flushed
    bool m_flushFailed = false;
    void flushFolderUnless(int sameAsFd);
};

// The size of an archive a reader is given open as fd: knownSize when the
// caller's fstat gave it (kept), else what fstat says now. CannotOpenArchive
// for what is not a regular file, NotAZipArchive for an empty one (libzip
// would take it for an empty archive).
ZipStatus sizeOfHeldArchive(int fd, qint64& knownSize);

} // namespace vexlo::diz
