// SPDX-License-Identifier: MIT
#pragma once

#include <zip.h>

#include <cstdint>

namespace vexlo::diz {

// A read-only libzip source over a file that is already open: libzip reads
// exactly the file we hold (never a name that may meanwhile point at another
// one), with pread and no seeks of the descriptor, its tail and the member
// it reads each in one read where they are small (one fstat, or none when
// the caller gives the size). The descriptor stays the caller's and must
// outlive the source.
//
// start: the bytes before it are left out, so that libzip sees an archive
// whose offsets do not count a stub put in front of it (a self-extractor
// whose offsets were never adjusted) as a well-formed one.
//
// knownSize: the size a fstat of fd made just before gave for a regular file
// (the whole file, start included); -1 to ask fstat.
zip_source_t* createDescriptorSource(int fd, zip_uint64_t start, zip_error_t* error,
                                     std::int64_t knownSize = -1);

// zip_open over that source (flags as for zip_open; ZIP_RDONLY is implied).
// Returns nullptr and sets errorCode (a ZIP_ER_ code) on failure.
zip_t* openArchiveAt(int fd, zip_uint64_t start, int flags, int* errorCode,
                     std::int64_t knownSize = -1);

} // namespace vexlo::diz
