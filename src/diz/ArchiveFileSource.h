#pragma once

#include <QByteArray>

#include <zip.h>

namespace vexlo::diz {

// A libzip source over one archive file, used instead of libzip's own file
// source so that an update is both safe and quick:
//
// - reading uses pread through a large buffer instead of 4 KiB stdio reads;
// - the new archive is written to "<archive>.XXXXXX" beside the archive (six
//   letters of 0-9 and a-z: the name a killed update's leftover is known by,
//   see StrayUpdateFiles.h) through a 1 MiB buffer;
// - the start of the archive is kept by an in-kernel copy only when the
//   archive passes libzip's strict consistency check; otherwise libzip
//   writes it out in full, rebuilding every member's header;
// - committing first checks that the new file opens as a consistent archive
//   (refused otherwise), gives it the archive's permission bits (and owner,
//   where allowed), flushes it to the disk, only then renames it over the
//   archive, and flushes the folder, so that a crash leaves either the old
//   archive or the whole new one;
// - a failed or cancelled write removes the temporary file and leaves the
//   archive untouched.
//
// nativePath: the archive's path as bytes (encodeName), already resolved and
// with links followed: the rename replaces exactly this path.
// Returns nullptr (error set) when out of memory.
zip_source_t* createArchiveFileSource(const QByteArray& nativePath, zip_error_t* error);

// zip_open over that source: the same flags and error codes as zip_open
// (ZIP_CREATE aside, the archive must exist). Returns nullptr and sets
// errorCode (a ZIP_ER_ code) on failure.
zip_t* openArchiveFile(const QByteArray& nativePath, int flags, int* errorCode);

} // namespace vexlo::diz
