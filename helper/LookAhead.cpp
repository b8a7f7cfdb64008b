#include "LookAhead.h"

#include <algorithm>

namespace {
// At most this much is handed out at once.
constexpr std::size_t kPiece = 256 * 1024;
}

long LookAhead::lend(const void** data)
{
    if (failed_)
        return -1;
    // What was handed out last time is no longer needed.
    if (start_ > 0 && start_ >= held_.size() / 2) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    while (!ended_ && held_.size() - start_ < window_ + kPiece) {
        const void* more = nullptr;
        const long got = produce_(&more);
        if (got < 0) {
            failed_ = true;
            return -1;
        }
        if (got == 0) {
            ended_ = true;
            break;
        }
        const auto* bytes = static_cast<const unsigned char*>(more);
        held_.insert(held_.end(), bytes, bytes + got);
    }
    const std::size_t available = held_.size() - start_;
    const std::size_t count = ended_ ? std::min(available, kPiece) : std::min(available - window_, kPiece);
    if (count == 0)
        return 0;
    *data = held_.data() + start_;
    start_ += count;
    return static_cast<long>(count);
}
