// SPDX-License-Identifier: MIT
#include "catalog/ListWriter.h"

#include "platform/FileSystem.h"
#include "platform/NativeName.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::catalog {

namespace {

// Big enough that a list of a few thousand entries costs a handful of write
// calls, small enough that a failure shows up while the run is still young.
constexpr qsizetype kFlushSize = 64 * 1024;

} // namespace

ListWriter::~ListWriter()
{
    if (isOpen())
        close();
}

bool ListWriter::open(const QString& path)
{
    if (isOpen())
        close();
    m_error.clear();
    m_buffer.clear();
    m_column = 1;
    m_streaming = false;
    m_streamDevice = 0;
    m_streamInode = 0;
    if (path == QLatin1String("-")) {
        m_fd = STDOUT_FILENO;
        return true;
    }
    // Folder and name are taken as given, never matched to another that
    // differs in letter case.
    const platform::OutputTarget target = platform::outputTargetFor(platform::encodeName(path));
    switch (target.kind) {
    case platform::OutputTarget::Kind::Replace:
        if (m_file.begin(target.path)) {
            m_fd = m_file.fd();
            return true;
        }
        // A folder where no new file may be made: a list that exists there
        // and may be written is written in place, as it always was.
        if (errno == EACCES || errno == EPERM) {
            const int error = errno;
            m_fd = platform::openListInPlace(target.path);
            m_streaming = m_fd >= 0;
            struct stat st;
            if (m_fd >= 0 && ::fstat(m_fd, &st) == 0) {
                m_streamDevice = st.st_dev;
                m_streamInode = st.st_ino;
            }
            if (m_fd >= 0)
                return true;
            errno = error;
        }
        fail(errno);
        return false;
    case platform::OutputTarget::Kind::Stream:
        m_fd = platform::openOutputStream(target);
        m_streaming = m_fd >= 0;
        if (m_fd < 0) {
            fail(errno);
            return false;
        }
        return true;
    case platform::OutputTarget::Kind::Refuse:
        break;
    }
    fail(target.error);
    return false;
}

bool ListWriter::close()
{
    if (isOpen()) {
        flush();
        if (m_streaming) {
            if (::close(m_fd) != 0 && !failed())
                fail(errno);
        } else if (m_fd != STDOUT_FILENO && !failed() && !m_file.commit()) {
            fail(errno);
        }
        m_file.discard();
        m_streaming = false;
        m_fd = -1;
    }
    m_buffer.clear();
    return !failed();
}

void ListWriter::fail(int error)
{
    if (failed())
        return;
    m_error = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO));
    m_buffer.clear();
}

void ListWriter::flush()
{
    if (!isOpen() || failed()) {
        m_buffer.clear();
        return;
    }
    const char* p = m_buffer.constData();
    qsizetype left = m_buffer.size();
    while (left > 0) {
        const ssize_t put = ::write(m_fd, p, size_t(left));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return;
        }
        p += put;
        left -= put;
    }
    m_buffer.clear();
}

void ListWriter::writeName(const QString& text)
{
    QByteArray bytes = platform::encodeName(text);
    for (char& c : bytes) {
        if (quint8(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    writeBytesCounted(bytes, nameColumns(text));
}

void ListWriter::writeBytes(const QByteArray& bytes)
{
    writeBytesCounted(bytes, int(bytes.size()));
}

void ListWriter::writeBytesCounted(const QByteArray& bytes, int columns)
{
    m_column += columns;
    if (failed())
        return;
    m_buffer.append(bytes);
    if (m_buffer.size() >= kFlushSize)
        flush();
}

void ListWriter::PadToColumn(int n)
{
    if (m_column > n)
        endLine();
    if (m_column < n)
        writeBytes(QByteArray(n - m_column, ' '));
}

void ListWriter::PadOrSpace(int n)
{
    if (m_column < n)
        PadToColumn(n);
    else
        writeBytes(QByteArrayLiteral(" "));
}

void ListWriter::endLine()
{
    writeBytes(QByteArrayLiteral("\r\n"));
    m_column = 1;
}

int nameColumns(const QString& text)
{
    int columns = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate())
            ++i;
        ++columns;
    }
    return columns;
}

QByteArray sizeField(qint64 size)
{
    const QByteArray digits = size > 0 ? QByteArray::number(size) : QByteArray();
    if (digits.size() >= 9)
        return digits;
    return QByteArray(9 - digits.size(), ' ') + digits;
}

QByteArray dateField(const QDateTime& modified)
{
    if (!modified.isValid())
        return QByteArray(8, ' ');
    return modified.toLocalTime().toString(QStringLiteral("MM-dd-yy")).toLatin1();
}

namespace {

// The letter pairs of the DOS code page: upper case, lower case.
constexpr unsigned char kDosLetterPairs[][2] = {{0x80, 0x87}, {0x9A, 0x81}, {0x90, 0x82},
                                                {0x8E, 0x84}, {0x8F, 0x86}, {0x92, 0x91},
                                                {0x99, 0x94}, {0xA5, 0xA4}};

char toUpperDos(char c)
{
    if (c >= 'a' && c <= 'z')
        return char(c - 'a' + 'A');
    for (const auto& pair : kDosLetterPairs) {
        if (quint8(c) == pair[1])
            return char(pair[0]);
    }
    return c;
}

char toLowerDos(char c)
{
    if (c >= 'A' && c <= 'Z')
        return char(c - 'A' + 'a');
    for (const auto& pair : kDosLetterPairs) {
        if (quint8(c) == pair[0])
            return char(pair[1]);
    }
    return c;
}

} // namespace

QByteArray sentenceCase(const QByteArray& text)
{
    QByteArray out = text;
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = i == 0 ? toUpperDos(out.at(i)) : toLowerDos(out.at(i));
    return out;
}

} // namespace vexlo::catalog
