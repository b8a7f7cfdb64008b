#pragma once

#include <atomic>
#include <cstdint>

// How much of the archive's bytes have been consumed, readable from any
// thread: the progress marks come from it, and the stall watchdog looks for
// movement in it. `consumed` only grows (bytes read or skipped, counted
// once), so a percentage taken from it never goes down.
class ConsumptionMeter {
public:
    void setTotal(std::int64_t total) { total_.store(total, std::memory_order_relaxed); }
    void add(std::int64_t bytes) { consumed_.fetch_add(bytes, std::memory_order_relaxed); }
    // Work that consumes no input but is still progress (writing out data
    // that a small compressed block expands to).
    void touch() { activity_.fetch_add(1, std::memory_order_relaxed); }

    std::int64_t total() const { return total_.load(std::memory_order_relaxed); }
    std::int64_t consumed() const { return consumed_.load(std::memory_order_relaxed); }
    std::uint64_t activity() const
    {
        return activity_.load(std::memory_order_relaxed)
            + static_cast<std::uint64_t>(consumed());
    }

    // Whole percent, 0 to 100, of the bytes consumed so far.
    int percent() const
    {
        const std::int64_t all = total();
        if (all <= 0)
            return 0;
        const std::int64_t done = consumed();
        if (done >= all)
            return 100;
        return static_cast<int>(done * 100 / all);
    }

private:
    std::atomic<std::int64_t> total_{0};
    std::atomic<std::int64_t> consumed_{0};
    std::atomic<std::uint64_t> activity_{0};
};
