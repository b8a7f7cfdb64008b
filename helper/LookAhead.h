#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// Hands out a stream's bytes only once a window of the bytes after them has
// been produced too. A compressed stream checks its trailer only at its very
// end; a tar archive ends a few records after its last file's data, so with
// the window read ahead, a trailer that fails is known before the last
// file's final bytes are handed over, and that file never takes its name.
class LookAhead {
public:
    // The next bytes of the stream: their count (data set), 0 at the end,
    // -1 on error. The bytes stay valid until the next call.
    using Produce = std::function<long(const void** data)>;

    LookAhead(std::size_t window, Produce produce) : window_(window), produce_(std::move(produce)) {}

    // lend() as ByteSource has it: -1 as soon as the stream failed, even
    // while bytes from before the failure are still held.
    long lend(const void** data);

private:
    std::size_t window_;
    Produce produce_;
    std::vector<unsigned char> held_;
    std::size_t start_ = 0;  // first byte of held_ not handed out yet
    bool ended_ = false;
    bool failed_ = false;
};
