#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vorlo::rarwriter {

// Where the bytes of one archived file come from. The writer pulls them in
// pieces, so a source never needs to hold a whole file in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills up to `size` bytes and returns how many; 0 means the source is
    // exhausted.
    virtual std::size_t read(char *buffer, std::size_t size) = 0;
};

// Bytes already in memory (small generated contents, names used as text).
class StringSource final : public ByteSource {
public:
    explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(char *buffer, std::size_t size) override;

private:
    std::string bytes_;
    std::size_t offset_ = 0;
};

// A file on disk, read sequentially.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const std::filesystem::path &path);
    ~FileSource() override;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;
    std::size_t read(char *buffer, std::size_t size) override;

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

// `size` bytes of a reproducible pseudo-random stream: the same seed gives
// the same bytes, and a reader can regenerate them to check an extraction.
class PatternSource final : public ByteSource {
public:
    PatternSource(std::uint64_t size, std::uint64_t seed) : remaining_(size), state_(seed) {}
    std::size_t read(char *buffer, std::size_t size) override;

private:
    std::uint64_t remaining_;
    std::uint64_t state_;
    std::uint64_t pending_ = 0;
    unsigned pendingBytes_ = 0;
};

} // namespace vorlo::rarwriter
