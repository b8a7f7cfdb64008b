#include "DecompressedSource.h"

#include <algorithm>
#include <cstring>

long DecompressedSource::read(void* buffer, std::size_t capacity)
{
    if (pendingSize_ == 0) {
        const void* data = nullptr;
        const long got = lend(&data);
        if (got <= 0)
            return got;
        pending_ = static_cast<const unsigned char*>(data);
        pendingSize_ = static_cast<std::size_t>(got);
    }
    const std::size_t count = std::min(capacity, pendingSize_);
    std::memcpy(buffer, pending_, count);
    pending_ += count;
    pendingSize_ -= count;
    return static_cast<long>(count);
}

std::int64_t DecompressedSource::skip(std::int64_t)
{
    return 0;  // libarchive reads and drops instead
}

bool DecompressedSource::readToEnd()
{
    const void* data = nullptr;
    long got;
    while ((got = lend(&data)) > 0) {
    }
    return got == 0;
}
