// SPDX-License-Identifier: MIT
#pragma once

// Fixtures shared by the tests: real ZIP archives written with libzip, files
// with chosen dates, and a way to run the built program.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

#include <utility>
#include <vector>

namespace vexlo::test {

struct Member {
    QString name;
    QByteArray data;
    bool store = false; // stored instead of deflated
};

// Writes a new ZIP archive holding the members, in order. Returns false when
// libzip fails.
bool makeZip(const QString& path, const std::vector<Member>& members);

// Writes an archive of another kind with the Debian tool that makes it:
// "7z" (7z), "lzh" (lha), "cab" (gcab), "arj" (arj), "tar", "tar.gz",
// "tar.bz2", "tar.xz" (tar). Members are written into a scratch folder and
// added by their relative names, folders included. password: encrypted
// (7z, with its names hidden too when hideNames). Returns an empty text when
// made, "missing" when the tool is not installed (the caller skips), else
// what went wrong.
QString makeKindArchive(const QString& kind, const QString& path,
                        const std::vector<Member>& members, const QString& password = QString(),
                        bool hideNames = false);

// Sets an environment variable for a test's length (an empty value unsets it).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, QFile::encodeName(value));
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// The rows of a test about sibling folders "Docs" and "docs": the one acted
// on ("twin") and the other, each way round.
void addCaseTwinRows();

// Writes a file (creating folders on the way) and optionally sets its time.
bool writeBytes(const QString& path, const QByteArray& bytes);
bool setModified(const QString& path, const QDateTime& when);

QByteArray readBytes(const QString& path);

// Bytes that deflate cannot shrink (sizes on disk follow sizes in an archive),
// the same for the same seed.
QByteArray noise(qsizetype size, quint32 seed = 7);

// Lowers the largest file this process may write while it lives, so that a
// write fails even when running as root (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return m_ok; }

private:
    struct rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};

// Every entry of a folder, hidden ones too, sorted by name.
QStringList folderEntries(const QString& folder);

// Runs the built program (VEXLO32_BINARY) with the arguments; returns its exit
// code, or -1 when it could not be started or did not end within the timeout.
// extraEnv: "NAME=value" sets a variable, a bare "NAME" removes it.
struct RunResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
RunResult runProgram(const QStringList& args, const QByteArray& input = QByteArray(),
                     int timeoutMs = 60000, const QStringList& extraEnv = QStringList());

} // namespace vexlo::test
