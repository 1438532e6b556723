// SPDX-License-Identifier: MIT
#include "reliability_support.h"

#include <QDateTime>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace vexlo::test {

namespace {

void le16(QByteArray& out, quint16 v)
{
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}
void le32(QByteArray& out, quint32 v)
{
    le16(out, quint16(v & 0xffff));
    le16(out, quint16(v >> 16));
}
void le64(QByteArray& out, quint64 v)
{
    le32(out, quint32(v & 0xffffffffu));
    le32(out, quint32(v >> 32));
}

quint32 le32At(const QByteArray& b, qsizetype at)
{
    const auto* p = reinterpret_cast<const uchar*>(b.constData() + at);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

bool writeProc(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

void snapshotInto(const QByteArray& root, const QByteArray& rel, QMap<QByteArray, QByteArray>& out)
{
    const QByteArray path = rel.isEmpty() ? root : root + '/' + rel;
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return;
    while (dirent* ent = ::readdir(dir)) {
        const QByteArray name(ent->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray childRel = rel.isEmpty() ? name : rel + '/' + name;
        struct stat st;
        if (::lstat((root + '/' + childRel).constData(), &st) != 0)
            continue;
        out.insert(childRel, QByteArray::number(qint64(st.st_size)) + ' ' +
                                 QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
                                 QByteArray::number(qint64(st.st_mtim.tv_nsec)));
        if (S_ISDIR(st.st_mode))
            snapshotInto(root, childRel, out);
    }
    ::closedir(dir);
}

} // namespace

void putLe32(QByteArray& bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xff);
}
void putLe16(QByteArray& bytes, qsizetype at, quint16 value)
{
    bytes[at] = char(value & 0xff);
    bytes[at + 1] = char(value >> 8);
}

QByteArray rawZip(const std::vector<RawMember>& members, bool zip64End)
{
    QByteArray out;
    QByteArray central;
    for (const RawMember& m : members) {
        const quint32 crc = quint32(
            crc32(0, reinterpret_cast<const Bytef*>(m.data.constData()), uInt(m.data.size())));
        const quint64 size = m.declaredSize >= 0 ? quint64(m.declaredSize) : quint64(m.data.size());
        const quint64 compressed = quint64(m.data.size());
        const quint64 offset = quint64(out.size());
        QByteArray localExtra;
        if (m.zip64) {
            le16(localExtra, 0x0001);
            le16(localExtra, 16);
            le64(localExtra, size);
            le64(localExtra, compressed);
        }
        le32(out, 0x04034b50);
        le16(out, m.zip64 ? 45 : 20);
        le16(out, m.flags);
        le16(out, 0);      // stored
        le16(out, 0x7000); // time
        le16(out, 0x2530); // date: 1998-09-16
        le32(out, crc);
        le32(out, m.zip64 ? 0xffffffffu : quint32(compressed));
        le32(out, m.zip64 ? 0xffffffffu : quint32(size));
        le16(out, quint16(m.name.size()));
        le16(out, quint16(localExtra.size()));
        out += m.name + localExtra + m.data;

        QByteArray centralExtra;
        if (m.zip64) {
            le16(centralExtra, 0x0001);
            le16(centralExtra, 24);
            le64(centralExtra, size);
            le64(centralExtra, compressed);
            le64(centralExtra, offset);
        }
        le32(central, 0x02014b50);
        le16(central, m.zip64 ? 45 : 20);
        le16(central, m.zip64 ? 45 : 20);
        le16(central, m.flags);
        le16(central, 0);
        le16(central, 0x7000);
        le16(central, 0x2530);
        le32(central, crc);
        le32(central, m.zip64 ? 0xffffffffu : quint32(compressed));
        le32(central, m.zip64 ? 0xffffffffu : quint32(size));
        le16(central, quint16(m.name.size()));
        le16(central, quint16(centralExtra.size()));
        le16(central, 0); // comment
        le16(central, 0); // disk
        le16(central, 0); // internal attributes
        le32(central, 0); // external attributes
        le32(central, m.zip64 ? 0xffffffffu : quint32(offset));
        central += m.name + centralExtra;
    }
    const quint64 centralAt = quint64(out.size());
    out += central;
    const quint64 count = members.size();
    if (zip64End) {
        const quint64 end64At = quint64(out.size());
        le32(out, 0x06064b50);
        le64(out, 44);
        le16(out, 45);
        le16(out, 45);
        le32(out, 0);
        le32(out, 0);
        le64(out, count);
        le64(out, count);
        le64(out, quint64(central.size()));
        le64(out, centralAt);
        le32(out, 0x07064b50);
        le32(out, 0);
        le64(out, end64At);
        le32(out, 1);
    }
    le32(out, 0x06054b50);
    le16(out, 0);
    le16(out, 0);
    le16(out, zip64End ? 0xffff : quint16(count));
    le16(out, zip64End ? 0xffff : quint16(count));
    le32(out, zip64End ? 0xffffffffu : quint32(central.size()));
    le32(out, zip64End ? 0xffffffffu : quint32(centralAt));
    le16(out, 0);
    return out;
}

qsizetype endRecordOffset(const QByteArray& zip)
{
    return zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
}

qsizetype centralOffset(const QByteArray& zip)
{
    const qsizetype end = endRecordOffset(zip);
    return end < 0 ? -1 : qsizetype(le32At(zip, end + 16));
}

QMap<QByteArray, QByteArray> snapshotTree(const QString& root)
{
    QMap<QByteArray, QByteArray> out;
    snapshotInto(root.toLocal8Bit(), QByteArray(), out);
    return out;
}

int inChild(const std::function<int()>& fn)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0)
        ::_exit(fn());
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool dropToNobody()
{
    if (::geteuid() != 0)
        return true;
    return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

bool mountPrivateTmpfs(const QByteArray& folder, int sizeKiB, bool readOnly)
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeProc("/proc/self/setgroups", "deny");
        if (!writeProc("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1") ||
            !writeProc("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1"))
            return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    const QByteArray options = "size=" + QByteArray::number(sizeKiB) + "k";
    return ::mount("vexlo32-test", folder.constData(), "tmpfs", readOnly ? MS_RDONLY : 0,
                   options.constData()) == 0;
}

int runProgramRaw(const QList<QByteArray>& args, QByteArray* out)
{
    const QByteArray binary = qgetenv("VEXLO32_BINARY");
    int pipeFds[2];
    if (binary.isEmpty() || ::pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        QList<QByteArray> all = QList<QByteArray>{binary} + args;
        for (QByteArray& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(binary.constData(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    QByteArray collected;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        collected.append(buffer, got);
    ::close(pipeFds[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    if (out)
        *out = collected;
    return WEXITSTATUS(status);
}

bool remountReadOnly(const QByteArray& folder)
{
    return ::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

} // namespace vexlo::test
