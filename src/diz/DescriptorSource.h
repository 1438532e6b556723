// SPDX-License-Identifier: MIT
#pragma once

#include <zip.h>

namespace vexlo::diz {

// A read-only libzip source over a file that is already open: libzip reads
// exactly the file we hold (never a name that may meanwhile point at another
// one), with pread and no seeks of the descriptor. The descriptor stays the
// caller's and must outlive the source.
//
// start: the bytes before it are left out, so that libzip sees an archive
// whose offsets do not count a stub put in front of it (a self-extractor
// whose offsets were never adjusted) as a well-formed one.
zip_source_t* createDescriptorSource(int fd, zip_uint64_t start, zip_error_t* error);

// zip_open over that source (flags as for zip_open; ZIP_RDONLY is implied).
// Returns nullptr and sets errorCode (a ZIP_ER_ code) on failure.
zip_t* openArchiveAt(int fd, zip_uint64_t start, int flags, int* errorCode);

} // namespace vexlo::diz
