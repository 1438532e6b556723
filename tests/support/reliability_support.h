// SPDX-License-Identifier: MIT
#pragma once

// Fixtures of the fault and hostile-input tests: archives assembled byte by
// byte (so that every field can be forged), snapshots of a folder tree, and
// running a child with fewer rights or in a private mount namespace.

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>
#include <vector>

namespace vexlo::test {

struct RawMember {
    QByteArray name;
    QByteArray data;          // stored as it is (method 0)
    quint16 flags = 0;        // general purpose flags (bit 0: encrypted)
    bool zip64 = false;       // sizes and offset in a ZIP64 extra field
    qint64 declaredSize = -1; // the uncompressed size the headers claim; -1: the real one
};

// A ZIP archive of stored members, written field by field. zip64End adds
// the ZIP64 end records (and puts 0xFFFF in the classic counts).
QByteArray rawZip(const std::vector<RawMember>& members, bool zip64End = false);

// Offsets inside an archive: of the end record, of the central directory
// (as the end record says) and of the n-th central header.
qsizetype endRecordOffset(const QByteArray& zip);
qsizetype centralOffset(const QByteArray& zip);
void putLe32(QByteArray& bytes, qsizetype at, quint32 value);
void putLe16(QByteArray& bytes, qsizetype at, quint16 value);

// Path (relative to the root) -> size and modification time of every entry
// under root, links not followed, names as bytes.
QMap<QByteArray, QByteArray> snapshotTree(const QString& root);

// Runs fn in a forked child and returns its exit status (or -1 when it was
// killed by a signal). With asUser set the child first drops to the user
// nobody (65534) when running as root.
int inChild(const std::function<int()>& fn);
constexpr int kChildCannot = 77; // the child could not set itself up
bool dropToNobody();
// A private mount namespace (root, or a user namespace otherwise) with a
// tmpfs of the given size in KiB at folder; options like "ro" are passed.
bool mountPrivateTmpfs(const QByteArray& folder, int sizeKiB, bool readOnly = false);
bool remountReadOnly(const QByteArray& folder);

// Runs the built program with arguments given as bytes (QProcess would
// re-encode them and lose bytes that are not UTF-8). Returns the exit code,
// -1 when it did not end normally; stdout is collected into out.
int runProgramRaw(const QList<QByteArray>& args, QByteArray* out = nullptr);

} // namespace vexlo::test
