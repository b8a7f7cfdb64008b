#include "CreditsScroller.h"

#include <algorithm>
#include <chrono>

CreditsScroller::CreditsScroller(Clock clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            using namespace std::chrono;
            return duration<double>(steady_clock::now().time_since_epoch()).count();
        };
    }
    m_startTime = m_lastTick = m_clock();
}

void CreditsScroller::restart(int limit)
{
    const double now = m_clock();
    m_limit = std::max(0, limit);
    m_position = 0;
    m_restartAtTop = false;
    m_startTime = now + kOpeningPause;
    m_lastTick = now;
}

void CreditsScroller::resume()
{
    m_lastTick = m_clock();
}

std::optional<double> CreditsScroller::step()
{
    const double now = m_clock();
    if (now < m_startTime) {
        m_lastTick = now;
        return std::nullopt;
    }
    if (m_restartAtTop) {
        m_restartAtTop = false;
        m_position = 0;
        m_startTime = now + kTopPause;
        m_lastTick = now;
        return 0.0;
    }
    if (m_position >= m_limit) {
        // The end pause: the credits stay where they are.
        m_startTime = now + kEndPause;
        m_position = 0;
        m_restartAtTop = true;
        m_lastTick = now;
        return std::nullopt;
    }
    // Motion starts at the deadline itself, not at the first firing after.
    const double from = std::max(m_lastTick, m_startTime);
    m_position += kSpeed * std::clamp(now - from, 0.0, kMaxStep);
    m_lastTick = now;
    return std::min(m_position, double(m_limit));
}

CreditsScroller::State CreditsScroller::state() const
{
    if (m_restartAtTop)
        return State::WaitingAtEnd;
    return m_clock() < m_startTime ? State::WaitingToScroll : State::Scrolling;
}
