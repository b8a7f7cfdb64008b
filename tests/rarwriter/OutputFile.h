#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace vorlo::rarwriter {

// One volume being written: a large write buffer over a file descriptor,
// plus the one thing an archive writer needs beyond appending: patching
// bytes already written (a header whose checksum is known only once its
// data has streamed past).
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path &path);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    void append(const void *data, std::size_t size);
    void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
    // Overwrites bytes at an earlier offset; the range must have been appended.
    void patch(std::uint64_t offset, std::string_view bytes);
    // Cuts the file back to `size` bytes.
    void truncate(std::uint64_t size);
    std::uint64_t size() const { return flushed_ + buffer_.size(); }
    // Flushes and closes; a failure here (a full disk) is reported, not lost.
    void close();

    const std::filesystem::path &path() const { return path_; }

private:
    void flush();
    void writeAt(std::uint64_t offset, const char *data, std::size_t size);

    std::filesystem::path path_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::uint64_t flushed_ = 0;
};

} // namespace vorlo::rarwriter
