#include "ProgressReporter.h"

#include "Console.h"

#include <cstdio>

namespace {
constexpr auto kMinInterval = std::chrono::milliseconds(50);
}

ProgressReporter::ProgressReporter(const ConsumptionMeter& meter) : meter_(meter) {}

std::string ProgressReporter::markFor(int percent)
{
    char text[16];
    std::snprintf(text, sizeof text, "\b\b\b\b%3d%%", percent);
    return text;
}

std::string ProgressReporter::currentMark()
{
    const int percent = meter_.percent();
    if (percent > shown_)
        shown_ = percent;
    lastWrite_ = std::chrono::steady_clock::now();
    return markFor(shown_);
}

void ProgressReporter::update()
{
    const int percent = meter_.percent();
    if (percent <= shown_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastWrite_ < kMinInterval)
        return;
    shown_ = percent;
    lastWrite_ = now;
    Console::out(markFor(percent));
}
