// SPDX-License-Identifier: MIT
// Preloaded into the program by test_full_fs to make the file system
// misbehave the way some do, or to be another program at work at the worst
// moment:
// - VEXLO32_DIR_FSYNC_ERRNO=N: flushing a folder fails with errno N, as on
//   some network and FUSE file systems; every other fsync goes through;
// - VEXLO32_APPEND_BEFORE_EXCHANGE=PATH: just before the program exchanges
//   a new file for PATH, bytes are appended to PATH in place.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const Fsync real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    const char* error = std::getenv("VEXLO32_DIR_FSYNC_ERRNO");
    struct stat st;
    if (error && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = std::atoi(error);
        return -1;
    }
    return real(fd);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned int flags)
{
    using Renameat2 = int (*)(int, const char*, int, const char*, unsigned int);
    static const Renameat2 real = reinterpret_cast<Renameat2>(::dlsym(RTLD_NEXT, "renameat2"));
    static bool appended = false;
    const char* path = std::getenv("VEXLO32_APPEND_BEFORE_EXCHANGE");
    if (path && !appended && (flags & RENAME_EXCHANGE)) {
        appended = true;
        const int fd = ::open(path, O_WRONLY | O_APPEND);
        if (fd >= 0) {
            if (::write(fd, "appended", 8) != 8)
                std::perror("fault_shim");
            ::close(fd);
        }
    }
    return real(fromDir, from, toDir, to, flags);
}
