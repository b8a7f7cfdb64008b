#pragma once

#include "CommandLine.h"

// The listing commands: "vb" prints each entry's path on a line of its own
// and nothing else; "l" adds size and date and a summary.
class Lister {
public:
    explicit Lister(const CommandLine& line) : line_(line) {}
    int run();

private:
    const CommandLine& line_;
};
