// Preloaded into a test run (the helper, and the test driver's own probe):
// files without a name (O_TMPFILE) are refused as by a filesystem that does
// not support them, so that the helper's fallback to hidden names is tested
// on any filesystem.

#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

bool unnamed(int flags)
{
    return (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t modeOf(int flags, va_list arguments)
{
    return (flags & O_CREAT) || unnamed(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    static auto real = next<int (*)(int, const char*, int, ...)>("openat");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (unnamed(flags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real(folder, path, flags, mode);
}

extern "C" int openat64(int folder, const char* path, int flags, ...)
{
    static auto real = next<int (*)(int, const char*, int, ...)>("openat64");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (unnamed(flags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real(folder, path, flags, mode);
}

extern "C" int open(const char* path, int flags, ...)
{
    static auto real = next<int (*)(const char*, int, ...)>("open");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (unnamed(flags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real(path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...)
{
    static auto real = next<int (*)(const char*, int, ...)>("open64");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (unnamed(flags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real(path, flags, mode);
}
