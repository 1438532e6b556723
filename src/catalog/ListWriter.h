// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "platform/FileReplacement.h"

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

    // Starts a new list that replaces the file at path when it is closed:
    // until then the previous list stays as it was, and a list that could
    // not be written completely never replaces it. A link planted by someone
    // else, or a FIFO, at the path is replaced, never followed or waited on
    // (platform::outputTargetFor says the whole rule). The path is taken
    // exactly as given; "-" is standard output.
    bool open(const QString& path);
    // Writes what is buffered and puts the list in place. False when this or
    // any earlier step failed; the previous list is then kept.
    bool close();
    bool isOpen() const { return m_fd >= 0; }
    // Whether a file is the list being written or the one it replaces.
    bool isListFile(dev_t device, ino_t inode) const
    {
        return m_file.isThisFile(device, inode) ||
               (m_streaming && device == m_streamDevice && inode == m_streamInode);
    }

    // File names and folder paths, written as the bytes they stand for, but
    // for control bytes (0x00-0x1F, 0x7F), which become "?": a name must not
    // break the list's lines.
    void writeName(const QString& text);
    // Bytes taken from files (descriptions, shortcut targets) and the ASCII
    // fields, unchanged.
    void writeBytes(const QByteArray& bytes);
    // Moves to column n: spaces up to it; nothing when there; when already
    // past it, a new line and n - 1 spaces.
    void PadToColumn(int n);
    // The same, but one space instead of a new line when already at or past
    // it: a field that grew pushes the next one right.
    void PadOrSpace(int n);
    void endLine();

    int column() const { return m_column; }
    bool failed() const { return !m_error.isEmpty(); }
    QString errorText() const { return m_error; }

private:
    void writeBytesCounted(const QByteArray& bytes, int columns);
    void fail(int error);
    void flush();

    int m_fd = -1;
    platform::NewFileAt m_file; // not open for standard output or a stream
    bool m_streaming = false;   // written into a device, pipe or (in place) the old list
    dev_t m_streamDevice = 0;
    ino_t m_streamInode = 0;
    int m_column = 1;
    QByteArray m_buffer;
    QString m_error;
};

// Number of characters a name takes in the list: code points, with a lone
// surrogate counted as one.
int nameColumns(const QString& text);

// The size field: the length in decimal without leading zeros, right-aligned
// in 9 characters; 0 has no digits and is 9 spaces. Lengths of 1,000,000,000
// and more keep all their digits and so widen the field (the writer keeps a
// space before what follows).
QByteArray sizeField(qint64 size);
// The date field "mm-dd-yy" of a local time; 8 spaces when it is unknown, so
// that the columns after it stay in place.
QByteArray dateField(const QDateTime& modified);
// First byte upper case, the rest lower case. Descriptions are DOS text: the
// ASCII letters and the letter pairs of the DOS code page (Ç ç, Ü ü, É é,
// Ä ä, Å å, Æ æ, Ö ö, Ñ ñ) change; every other byte, line drawing included,
// stays as it is.
QByteArray sentenceCase(const QByteArray& text);

} // namespace vexlo::catalog
