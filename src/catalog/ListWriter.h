#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace vexlo::catalog {

// Writes the list file: raw bytes, CR LF line ends, and the current column of
// the line being written, counted from 1. A file name advances the column by
// its number of characters (code points; an undecodable name byte counts as
// one), a description byte by one, so columns line up as the reader sees
// them whatever the names' encoding.
//
// Output is buffered. The first failure (open, write or close) is kept with
// its system text; later writes are dropped, and the caller asks failed()
// between files and reports errorText() at the end. A list that could not be
// written completely is never reported as written.
class ListWriter {
public:
    ListWriter() = default;
    ~ListWriter();
    ListWriter(const ListWriter&) = delete;
    ListWriter& operator=(const ListWriter&) = delete;

    // Creates the file, or empties an existing one (the list is replaced,
    // never extended). The path is resolved like every program path.
    bool open(const QString& path);
    // Writes what is buffered and closes the file. False when this or any
    // earlier step failed.
    bool close();
    bool isOpen() const { return m_fd >= 0; }

    // File names and folder paths, written as the bytes they stand for.
    void writeName(const QString& text);
    // Bytes taken from files (descriptions, shortcut targets) and the ASCII
    // fields, unchanged.
    void writeBytes(const QByteArray& bytes);
    // Moves to column n: spaces up to it; nothing when there; when already
    // past it, a new line and n - 1 spaces.
    void PadToColumn(int n);
    void endLine();

    int column() const { return m_column; }
    bool failed() const { return !m_error.isEmpty(); }
    QString errorText() const { return m_error; }

private:
    void writeBytesCounted(const QByteArray& bytes, int columns);
    void fail(int error);
    void flush();

    int m_fd = -1;
    int m_column = 1;
    QByteArray m_buffer;
    QString m_error;
};

// Number of characters a name takes in the list: code points, with a lone
// surrogate counted as one.
int nameColumns(const QString& text);

// The size field: the length in decimal without leading zeros, right-aligned
// in 9 characters; 0 has no digits and is 9 spaces. Lengths of 1,000,000,000
// and more keep all their digits and so widen the field.
QByteArray sizeField(qint64 size);
// The date field "mm-dd-yy" of a local time; 8 spaces when it is unknown, so
// that the columns after it stay in place.
QByteArray dateField(const QDateTime& modified);
// First byte upper case, the rest lower case. Only ASCII letters change:
// descriptions are DOS text, and another code page's case mapping would turn
// their line-drawing and accented glyphs into different ones.
QByteArray sentenceCase(const QByteArray& text);

} // namespace vexlo::catalog
