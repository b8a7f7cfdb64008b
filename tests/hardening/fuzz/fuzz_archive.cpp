// The helper's archive reading: signature search, volume set, the RAR layer
// for RAR archives and libarchive for the rest, every entry's header and data
// read as an extraction would, nothing written. The input goes through a file, as the helper reads only files.
#include "ArchiveReader.h"
#include "ContainerSource.h"
#include "LibarchiveEntries.h"
#include "PasswordPrompt.h"
#include "RarEntries.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {
std::string inputPath()
{
    static const std::string path = [] {
        char folder[] = "/tmp/vorlo-fuzz-XXXXXX";
        const char *made = ::mkdtemp(folder);
        return std::string(made ? made : "/tmp") + "/input.rar";
    }();
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = inputPath();
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    PasswordPrompt prompt("input.rar", std::string("password"));
    ArchiveReader reader(path, prompt);
    if (!reader.prepare())
        return 0;
    std::unique_ptr<EntrySource> source;
    if (reader.isRar()) {
        if (reader.stackContainer() != rarcontainer::Status::Ok)
            return 0;
        source = std::make_unique<RarEntries>(*reader.container());
    } else {
        if (!reader.start())
            return 0;
        source = std::make_unique<LibarchiveEntries>(reader);
    }
    for (int entries = 0; entries < 1000; ++entries) {
        archive_entry *entry = nullptr;
        const int status = source->next(&entry);
        if (status == ARCHIVE_EOF || status <= ARCHIVE_FAILED || !entry)
            break;
        (void)source->encrypted(entry);
        const void *block = nullptr;
        std::size_t length = 0;
        std::int64_t offset = 0;
        for (int blocks = 0; blocks < 4096; ++blocks)
            if (source->readBlock(&block, &length, &offset) != ARCHIVE_OK)
                break;
    }
    (void)reader.incomplete();
    return 0;
}
