// Preloaded into the program by test_full_fs: flushing a folder fails with
// the error number in VEXLO32_DIR_FSYNC_ERRNO, as it does on some network
// and FUSE file systems. Every other fsync goes through.

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>

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
