#include "catalog/ListWriter.h"

#include "platform/FileSystem.h"
#include "platform/NativeName.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    const QByteArray native = platform::encodeName(platform::resolvePath(path));
    m_fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool ListWriter::close()
{
    if (isOpen()) {
        flush();
        if (::close(m_fd) != 0 && !failed())
            fail(errno);
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
    writeBytesCounted(platform::encodeName(text), nameColumns(text));
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

QByteArray sentenceCase(const QByteArray& text)
{
    QByteArray out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char c = out.at(i);
        if (i == 0 && c >= 'a' && c <= 'z')
            out[i] = char(c - 'a' + 'A');
        else if (i > 0 && c >= 'A' && c <= 'Z')
            out[i] = char(c - 'A' + 'a');
    }
    return out;
}

} // namespace vexlo::catalog
