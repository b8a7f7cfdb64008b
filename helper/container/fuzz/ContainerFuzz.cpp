// libFuzzer target: the block walker, the listing and the entry stream on
// arbitrary bytes. By default no password is offered, so no input makes a
// key derivation run (each costs milliseconds); with RARCONTAINER_FUZZ_PASSWORD
// set, the stream decrypts with it (slow, but reaches the data pump).

#include "RarListing.h"
#include "RarStream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int fd = memfd_create("fuzz.rar", 0);
    if (fd < 0) return 0;
    if (size > 0 && write(fd, data, size) != ssize_t(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    rarcontainer::listArchive({path}, nullptr);

    static const char *password = std::getenv("RARCONTAINER_FUZZ_PASSWORD");
    rarcontainer::RarStream stream({path}, nullptr,
                                   password ? std::optional<std::string>(password) : std::nullopt);
    if (stream.open() == rarcontainer::Status::Ok) {
        const void *buffer = nullptr;
        // Every third entry is left unread: the stream passes over it itself.
        for (unsigned index = 0; stream.nextEntry(); ++index)
            if (index % 3 != 2)
                while (stream.readData(&buffer) > 0) {
                }
    }
    close(fd);
    return 0;
}
