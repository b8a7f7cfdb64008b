#include "LineBatcher.h"

#include "Console.h"

namespace {
constexpr std::size_t kBatchBytes = 16 * 1024;
constexpr auto kMaxAge = std::chrono::milliseconds(20);
// Headers that take longer than this to come (a solid archive decompresses
// what it skips) are not worth batching for.
constexpr auto kSlowHeader = std::chrono::milliseconds(1);
} // namespace

void LineBatcher::add(const std::string& line)
{
    if (pending_.empty())
        oldest_ = std::chrono::steady_clock::now();
    pending_ += line;
    pending_ += '\n';
    if (pending_.size() >= kBatchBytes || slowSource_)
        flush();
}

void LineBatcher::beforeWait()
{
    if (!pending_.empty() && std::chrono::steady_clock::now() - oldest_ >= kMaxAge)
        flush();
}

void LineBatcher::afterWait(std::chrono::steady_clock::duration taken)
{
    slowSource_ = taken > kSlowHeader;
    if (slowSource_)
        flush();
}

void LineBatcher::flush()
{
    if (!pending_.empty())
        Console::out(pending_);
    pending_.clear();
}
