#pragma once

#include "ByteSource.h"

#include <cstddef>
#include <cstdint>

// A stream the helper decompresses itself for libarchive. It lends its
// output (lend()); read() copies from the same output for anyone that does
// not borrow, nothing can be skipped without decompressing it, and
// readToEnd() takes the stream through its trailer so that its checksums
// are checked.
class DecompressedSource : public ByteSource {
public:
    long read(void* buffer, std::size_t capacity) final;
    std::int64_t skip(std::int64_t count) final;
    bool lends() const final { return true; }
    bool readToEnd() final;

private:
    const unsigned char* pending_ = nullptr;  // lent but not yet copied by read()
    std::size_t pendingSize_ = 0;
};
