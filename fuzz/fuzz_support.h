// SPDX-License-Identifier: MIT
#pragma once

// What the fuzz targets share: one private scratch folder per process, on a
// memory file system when there is one (the targets write and sync files on
// every input), removed when the process ends.

#include "platform/FileSystem.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace vexlo::fuzz {

inline QString& scratchPath()
{
    static QString path;
    return path;
}

inline void removeScratch()
{
    if (!scratchPath().isEmpty())
        QDir(scratchPath()).removeRecursively();
}

inline QString scratchFolder()
{
    QString& path = scratchPath();
    if (!path.isEmpty())
        return path;
    QByteArray base = qgetenv("VEXLO32_FUZZ_TMP");
    if (base.isEmpty())
        base = ::access("/dev/shm", W_OK) == 0 ? QByteArray("/dev/shm") : qgetenv("TMPDIR");
    if (base.isEmpty())
        base = "/tmp";
    QByteArray pattern = base + "/vexlo32-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    path = platform::decodeName(pattern);
    std::atexit(removeScratch);
    return path;
}

inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A broken promise of the code under test: report it the way libFuzzer
// records a crash, with the input kept.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

inline std::vector<QString> namesIn(const QString& folder)
{
    std::vector<platform::DirEntry> entries;
    platform::listDirectory(folder, entries);
    std::vector<QString> names;
    for (const platform::DirEntry& e : entries)
        names.push_back(e.name);
    return names;
}

} // namespace vexlo::fuzz
