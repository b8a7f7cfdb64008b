#pragma once

#include <functional>
#include <optional>

// When and where the about box's credits scroll.
//
// Shown, the credits stand at the top for 8 seconds, then move up at 20
// points a second until the offset reaches the limit (the credits' length
// in characters), stand there 3 seconds, jump back to the top, stand 3
// seconds and scroll again.
//
// The owner calls step() at the display's pace while the about window is
// active. Motion follows the clock, not the number of calls, so a slow or
// irregular timer scrolls at the same speed; a long stall (the event loop
// held up) moves the credits by at most kMaxStep seconds' worth, never in
// one big leap.
class CreditsScroller
{
public:
    // Seconds on a clock that never goes back.
    using Clock = std::function<double()>;

    static constexpr double kOpeningPause = 8.0;
    static constexpr double kEndPause = 3.0;
    static constexpr double kTopPause = 3.0;
    static constexpr double kSpeed = 20.0;  // points a second
    static constexpr double kMaxStep = 0.25;

    enum class State { WaitingToScroll, Scrolling, WaitingAtEnd };

    // Without a clock, the process's steady clock.
    explicit CreditsScroller(Clock clock = {});

    // The box is shown: back to the top, with the opening pause.
    void restart(int limit);

    // Firings start again after a time without any (the window was
    // inactive, a link was being pressed): that time does not count as
    // motion. Pause deadlines are kept.
    void resume();

    // One firing. Returns the offset to scroll the credits to, or nothing
    // when they stay where they are.
    std::optional<double> step();

    State state() const;
    double position() const { return m_position; }
    int limit() const { return m_limit; }
    double deadline() const { return m_startTime; }

private:
    Clock m_clock;
    int m_limit = 0;
    double m_position = 0;
    bool m_restartAtTop = false;
    double m_startTime = 0;
    double m_lastTick = 0;
};
