#pragma once
// A window of bytes read ahead of small positioned reads. Walking the block
// headers of an archive reads a few bytes at a time, block after block: one
// system call per header field made a million-entry listing spend seconds
// in the kernel. Reads that fit in the window are served from memory; big
// ones go straight to the file.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace rarcontainer {

class ReadWindow {
public:
    static constexpr std::size_t kSize = 64 * 1024;

    // Reads exactly n bytes at offset of the file numbered `file`, whose size
    // is `fileSize` (the caller has checked that they are all there), with
    // `direct(offset, buffer, count)` when the window must be filled.
    template <typename Direct>
    bool read(std::size_t file, std::uint64_t offset, void *buffer, std::size_t n, std::uint64_t fileSize,
              Direct direct)
    {
        if (n >= kSize / 4) return direct(offset, buffer, n);
        if (file != m_file || offset < m_offset || offset + n > m_offset + m_bytes.size()) {
            const std::size_t length = std::size_t(std::min<std::uint64_t>(kSize, fileSize - offset));
            m_bytes.resize(length);
            m_file = kNone;
            if (!direct(offset, m_bytes.data(), length)) return direct(offset, buffer, n);
            m_file = file;
            m_offset = offset;
        }
        std::memcpy(buffer, m_bytes.data() + (offset - m_offset), n);
        return true;
    }

private:
    static constexpr std::size_t kNone = SIZE_MAX;
    std::size_t m_file = kNone;
    std::uint64_t m_offset = 0;
    std::vector<unsigned char> m_bytes;
};

}  // namespace rarcontainer
