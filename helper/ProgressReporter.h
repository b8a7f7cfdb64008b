#pragma once

#include "ConsumptionMeter.h"

#include <chrono>
#include <string>

// The progress marks of an extraction: four backspaces, the overall
// percentage right-aligned in three characters, "%". The percentage is the
// share of the archive's bytes (all volumes) consumed so far, so it never
// goes down. A mark is written when the percentage changes, at most about
// twenty times a second.
class ProgressReporter {
public:
    explicit ProgressReporter(const ConsumptionMeter& meter);

    // The mark for the current percentage, remembered as shown: for callers
    // that write it together with other text.
    std::string currentMark();

    // Writes a mark if the percentage moved and the last one is old enough.
    void update();

    static std::string markFor(int percent);

private:
    const ConsumptionMeter& meter_;
    int shown_ = -1;
    std::chrono::steady_clock::time_point lastWrite_ {};
};
