// Preloaded into a test run (the helper, and the test driver's own probe):
// files without a name (O_TMPFILE) are refused as by a filesystem that does
// not support them, so that the helper's fallback to hidden names is tested
// on any filesystem.

#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

// open(path, ...) is openat(AT_FDCWD, path, ...). The mode argument is there
// only with O_CREAT or O_TMPFILE.
int openNamedOnly(const char* openat, int folder, const char* path, int flags, va_list arguments)
{
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = (flags & O_CREAT) || unnamed ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
    if (unnamed) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, openat))(folder, path, flags, mode);
}

} // namespace

#define VORLO_NAMED_ONLY(openat, folder)                                                 \
    {                                                                                    \
        va_list arguments;                                                               \
        va_start(arguments, flags);                                                      \
        const int fd = openNamedOnly(openat, folder, path, flags, arguments);            \
        va_end(arguments);                                                               \
        return fd;                                                                       \
    }

extern "C" int openat(int folder, const char* path, int flags, ...) VORLO_NAMED_ONLY("openat", folder)
extern "C" int openat64(int folder, const char* path, int flags, ...) VORLO_NAMED_ONLY("openat64", folder)
extern "C" int open(const char* path, int flags, ...) VORLO_NAMED_ONLY("openat", AT_FDCWD)
extern "C" int open64(const char* path, int flags, ...) VORLO_NAMED_ONLY("openat64", AT_FDCWD)
