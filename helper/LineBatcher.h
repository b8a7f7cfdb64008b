#pragma once

#include <chrono>
#include <string>

// Lines of a listing written in batches: one write() per line costs more
// than the listing itself on large archives read through a pipe. A batch
// goes out when it is big, when its first line is 20 ms old, and before
// anything slow: the reader of the pipe still sees lines as they come.
class LineBatcher {
public:
    ~LineBatcher() { flush(); }

    void add(const std::string& line);
    // Call before work that may take a while (the next header).
    void beforeWait();
    // Call after it, with how long it took.
    void afterWait(std::chrono::steady_clock::duration taken);
    void flush();

private:
    std::string pending_;
    std::chrono::steady_clock::time_point oldest_ {};
    bool slowSource_ = false;
};
