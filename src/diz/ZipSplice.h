// SPDX-License-Identifier: MIT
#pragma once

#include "diz/ZipLayout.h"

#include <QByteArray>

#include <ctime>
#include <vector>

namespace vexlo::diz {

// An update that changes the members it stores and nothing else. The new
// archive is the old one's bytes with the replaced members' records taken
// out, the new members written after the last member, and the directory and
// end records written anew from the old ones:
//
// - every byte before the first member (a stub, counted by the offsets or
//   not), every other member's local record, data and data descriptor, and
//   the bytes between members are copied as they are;
// - every other central header is copied as it is, but for its offset when
//   a replaced member before it moved it (4 bytes, or 8 in its ZIP64 extra
//   field); offsets only ever get smaller, so no field changes its width;
// - a replaced member keeps its place in the directory, its stored name,
//   its comment and attributes; its data is new (deflated, or stored when
//   deflate does not make it smaller), never encrypted;
// - the end records keep the comment and, where ZIP64 was used, the ZIP64
//   record's extensible data; anything after the comment is kept too.

// A member ready to be written.
struct NewMember {
    QByteArray name;  // stored name bytes
    QByteArray data;  // as stored: deflated or not
    quint64 size = 0; // uncompressed
    quint32 crc = 0;
    quint16 method = 0; // 0 stored, 8 deflated
    quint16 flags = 0;  // bit 11 for a UTF-8 name
    quint16 dosTime = 0;
    quint16 dosDate = 0;
    int replaces = -1; // index of the entry it replaces; -1 adds it
};

// Compresses and checksums data for storing under name (bytes); modified
// gives its DOS time in local time.
NewMember encodeMember(const QByteArray& name, const QByteArray& data, time_t modified);

// One piece of the new archive: a range of the old file, or new bytes.
struct SplicePiece {
    quint64 from = 0;   // copy from the old file...
    quint64 length = 0; // ...this many bytes; 0 with bytes set
    QByteArray bytes;
};

// The new archive: its pieces in order, and where its records will be, so
// that what was written can be checked to read as what was meant (and not,
// say, through end record bytes that happened to lie after the comment).
struct SplicePlan {
    std::vector<SplicePiece> pieces; // empty when it cannot be written
    quint64 size = 0;
    quint64 directoryStart = 0;
    quint64 directoryEnd = 0;
    quint64 tailStart = 0; // just past the end record's comment
    size_t entries = 0;
};

// Fails (no pieces) for a member named twice or one too large for a
// classic local header.
SplicePlan planSplice(const ZipLayout& layout, const std::vector<NewMember>& members);

} // namespace vexlo::diz
