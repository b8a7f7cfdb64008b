#pragma once

#include "ArchiveEntry.h"
#include "HeaderEncoder.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace vorlo::rarwriter {

// Where the bytes of one archived file come from, pulled in pieces so that no
// file is ever held in memory whole: fills up to `size` bytes and returns how
// many, 0 once exhausted.
using ByteSource = std::function<std::size_t(char *buffer, std::size_t size)>;

struct WriterOptions {
    RarFormat format = RarFormat::Rar5;
    // Largest size of one volume in bytes; 0 writes a single archive file.
    std::uint64_t volumeSize = 0;
    // Digits of the volume number: 1 gives name.part1.rar, 2 name.part01.rar.
    unsigned volumeDigits = 1;
};

// Writes a RAR archive of stored (uncompressed) entries, in the order they
// are added, streaming each file's contents straight to disk. With a volume
// size the archive is split into volumes, a file's data running on from one
// volume into the next; a header that does not fit, with at least a byte of
// its data, opens the next volume instead.
class RarWriter {
public:
    RarWriter(std::filesystem::path archivePath, WriterOptions options = {});
    ~RarWriter();
    RarWriter(const RarWriter &) = delete;
    RarWriter &operator=(const RarWriter &) = delete;

    void addDirectory(ArchiveEntry entry) { entry.directory = true; entry.size = 0; addEntry(entry, nullptr); }
    // Stores exactly entry.size bytes read from `data`.
    void addFile(ArchiveEntry entry, const ByteSource &data) { entry.directory = false; addEntry(entry, &data); }
    void addFile(ArchiveEntry entry, std::string_view contents);
    // Ends the archive (nothing can be added after it); without it the last
    // volume has no end header.
    void finish();

    const std::vector<std::filesystem::path> &volumePaths() const { return volumePaths_; }

private:
    void addEntry(const ArchiveEntry &entry, const ByteSource *contents);
    void openVolume();
    void closeVolume(bool moreVolumes);
    void append(const char *data, std::size_t size);
    void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
    // Overwrites bytes already appended to the current volume.
    void patch(std::uint64_t offset, std::string_view bytes);
    void check(bool ok, const char *what) const;
    std::uint64_t roomLeft() const;

    std::filesystem::path archivePath_;
    WriterOptions options_;
    std::unique_ptr<HeaderEncoder> encoder_;
    std::vector<std::filesystem::path> volumePaths_;
    std::FILE *volume_ = nullptr;
    std::uint64_t written_ = 0; // bytes in the current volume
    std::uint64_t volumeStartSize_ = 0;
    std::size_t endReserve_ = 0;
    std::vector<char> buffer_;
};

} // namespace vorlo::rarwriter
