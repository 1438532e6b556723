// SPDX-License-Identifier: MIT
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <csignal>

namespace vexlo::test {

void addCaseTwinRows()
{
    QTest::addColumn<QString>("twin");
    QTest::addColumn<QString>("other");
    QTest::newRow("Docs") << "Docs"
                          << "docs";
    QTest::newRow("docs") << "docs"
                          << "Docs";
}

bool makeZip(const QString& path, const std::vector<Member>& members)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!archive)
        return false;
    for (const Member& member : members) {
        // libzip takes the buffer when the source is created with freep = 1,
        // but never frees one of zero length: an empty member gets none.
        void* copy = member.data.isEmpty() ? nullptr : ::malloc(size_t(member.data.size()));
        if (!copy && !member.data.isEmpty()) {
            zip_discard(archive);
            return false;
        }
        if (copy)
            ::memcpy(copy, member.data.constData(), size_t(member.data.size()));
        zip_source_t* source =
            zip_source_buffer(archive, copy, zip_uint64_t(member.data.size()), copy ? 1 : 0);
        if (!source) {
            ::free(copy);
            zip_discard(archive);
            return false;
        }
        const zip_int64_t index =
            zip_file_add(archive, member.name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        if (member.store)
            zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return false;
    }
    return true;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

bool setModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    return file.setFileTime(when, QFileDevice::FileModificationTime);
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(gen.generate() & 0xff);
    return out;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    m_ok = ::getrlimit(RLIMIT_FSIZE, &m_old) == 0;
    if (m_ok) {
        struct rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_ok = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_ok)
        ::setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString makeKindArchive(const QString& kind, const QString& path,
                        const std::vector<Member>& members, const QString& password, bool hideNames)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return QStringLiteral("no scratch folder");
    QStringList names;
    for (const Member& m : members) {
        if (!writeBytes(scratch.filePath(m.name), m.data))
            return QStringLiteral("cannot write ") + m.name;
        names << m.name;
    }
    const QString target = QFileInfo(path).absoluteFilePath();
    QFile::remove(target);
    QString tool;
    QStringList args;
    if (kind == QLatin1String("7z")) {
        tool = QStringLiteral("7z");
        // -t7z: 7z would take the format from the name (a ".zip" makes a ZIP).
        args << "a"
             << "-t7z"
             << "-bd"
             << "-y";
        if (!password.isEmpty())
            args << "-p" + password << (hideNames ? "-mhe=on" : "-mhe=off");
        args << target << "--";
    } else if (kind == QLatin1String("lzh")) {
        tool = QStringLiteral("lha");
        args << "a" << target;
    } else if (kind == QLatin1String("cab")) {
        tool = QStringLiteral("gcab");
        args << "-c" << target;
    } else if (kind == QLatin1String("arj")) {
        tool = QStringLiteral("arj");
        args << "a"
             << "-y" << target;
    } else if (kind.startsWith(QLatin1String("tar"))) {
        tool = QStringLiteral("tar");
        const QString flag = kind == QLatin1String("tar.gz")    ? "-z"
                             : kind == QLatin1String("tar.bz2") ? "-j"
                             : kind == QLatin1String("tar.xz")  ? "-J"
                                                                : "";
        args << "-c";
        if (!flag.isEmpty())
            args << flag;
        args << "-f" << target << "--";
    } else {
        return QStringLiteral("unknown kind ") + kind;
    }
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return QStringLiteral("missing");
    QProcess process;
    process.setWorkingDirectory(scratch.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, args + names);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0 || !QFileInfo::exists(target))
        return tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
    return QString();
}

RunResult runProgram(const QStringList& args, const QByteArray& input, int timeoutMs,
                     const QStringList& extraEnv)
{
    RunResult result;
    const QString binary = qEnvironmentVariable("VEXLO32_BINARY");
    if (binary.isEmpty())
        return result;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : extraEnv) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq < 0)
            env.remove(pair);
        else
            env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    process.setProcessEnvironment(env);
    process.start(binary, args);
    if (!process.waitForStarted(10000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace vexlo::test
