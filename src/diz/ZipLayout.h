// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <vector>

namespace vexlo::diz {

// Where the records of a ZIP archive lie, byte range by byte range: what an
// update needs to change the description and keep every other byte. libzip
// parses archives for everything else (reading, checking); it does not tell
// where its records are, and it re-serialises every header when it writes,
// so the update reads the layout itself.
//
// The reader is strict where an update depends on it: every member's local
// record must be where the directory says, carry the same name and, where
// it gives them, the same sizes, and no two members (nor a member and the
// directory) may share a byte. It is lenient where nothing depends on it: a
// local time that differs from the central one, bytes before the first
// member (a stub) whose length the offsets count or not, bytes between the
// members.

// The bytes of an archive: n bytes at an offset, all of them or false.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual quint64 size() const = 0;
    virtual bool readAt(quint64 offset, char* out, size_t n) const = 0;
};

// An open file, read with pread; its size as fstat gave it when made. The
// last large read is kept, so that the end records and a small directory,
// which lie in the tail read first, cost no read of their own.
//
// With a read-ahead, a smaller read outside what is kept reads that many
// bytes from its offset on instead and keeps them, so that a member's local
// header and the data after it cost one read.
class DescriptorBytes : public ByteSource {
public:
    explicit DescriptorBytes(int fd);
    // For a caller whose fstat of fd has just said it is a regular file of
    // this size: no second fstat.
    DescriptorBytes(int fd, quint64 size, size_t readAhead);
    bool ok() const { return m_ok; }
    quint64 size() const override { return m_size; }
    bool readAt(quint64 offset, char* out, size_t n) const override;

private:
    bool readFully(quint64 offset, char* out, size_t n) const;

    int m_fd;
    quint64 m_size = 0;
    size_t m_readAhead = 0;
    bool m_ok = false;
    mutable QByteArray m_kept;
    mutable quint64 m_keptAt = 0;
};

// Bytes in memory (the tests and fuzz targets).
class MemoryBytes : public ByteSource {
public:
    explicit MemoryBytes(const QByteArray& bytes) : m_bytes(bytes) {}
    quint64 size() const override { return quint64(m_bytes.size()); }
    bool readAt(quint64 offset, char* out, size_t n) const override;

private:
    const QByteArray& m_bytes;
};

struct ZipEntryRecord {
    QByteArray central; // its central header as stored: fixed part, name, extra, comment
    QByteArray name;    // the stored name's bytes
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 size = 0;
    quint64 recordedOffset = 0;  // of its local header, as the directory gives it
    quint64 localStart = 0;      // where its local header is in the file
    quint64 localEnd = 0;        // just past its data and data descriptor
    qsizetype offsetField = 42;  // where in central the offset is stored
    bool offsetIs64 = false;     // an 8-byte field (in the ZIP64 extra field)
    bool hasZip64Extra = false;  // its central header has a ZIP64 extra field
    bool hasUnicodeName = false; // ...an Info-ZIP Unicode path (0x7075), which libzip shows
};

struct ZipLayout {
    quint64 fileSize = 0;
    quint64 prefix = 0;         // bytes in front of the archive that its offsets do not count
    quint64 firstMember = 0;    // what lies before is the stub, kept as it is
    quint64 directoryStart = 0; // the central directory
    quint64 directoryEnd = 0;
    quint64 endStart = 0;   // the ZIP64 end record, or the end record
    quint64 tailStart = 0;  // just past the end record's comment
    bool zip64 = false;     // ZIP64 end records are present
    QByteArray zip64Record; // ...the ZIP64 end record as stored (its extensible data kept)
    QByteArray endRecord;   // the end record's 22 fixed bytes
    QByteArray comment;     // the archive comment
    std::vector<ZipEntryRecord> entries; // in directory order
};

enum class LayoutStatus {
    Ok,
    NotAZip,     // no end record
    Damaged,     // truncated, split over disks, or records that do not parse
    Overlapping, // two members, or a member and the directory, share bytes
    Disagreeing, // a local record missing, or naming another name or size
    TooLarge,    // a directory we will not hold in memory
};

LayoutStatus readZipLayout(const ByteSource& in, ZipLayout& out);

// Only the end records: how many bytes in front of the archive its offsets
// do not count (0 for an archive whose offsets are right). False when there
// is no end record or its directory cannot be found.
bool findArchivePrefix(const ByteSource& in, quint64& prefix);

// Little-endian fields.
inline quint16 le16(const char* p)
{
    return quint16(quint8(p[0]) | quint16(quint8(p[1])) << 8);
}
inline quint32 le32(const char* p)
{
    return quint32(le16(p)) | quint32(le16(p + 2)) << 16;
}
inline quint64 le64(const char* p)
{
    return quint64(le32(p)) | quint64(le32(p + 4)) << 32;
}

} // namespace vexlo::diz
