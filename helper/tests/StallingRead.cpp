// Preloaded into the helper by the stall test: every read() of a file after
// the first one hangs, as on a dead network mount or inside a decoder that
// spins. The helper's watchdog must end the run anyway.

#include <dlfcn.h>
#include <unistd.h>

extern "C" ssize_t read(int fd, void* buffer, size_t size)
{
    using ReadFunction = ssize_t (*)(int, void*, size_t);
    static auto real = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
    static int reads = 0;
    if (fd > STDERR_FILENO && ++reads > 1)
        pause();
    return real(fd, buffer, size);
}
