#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The time an extraction has left, told in words from how fast its bar has
// moved so far.
//
// The rate is measured from the moment the bar left 0 %: the time spent
// before that (starting the helper, waiting at a password prompt) says
// nothing about the data. Nothing is told until the bar has moved for a few
// seconds, and the estimate is smoothed over a few seconds so that a quick
// or slow stretch (one large entry, many small ones) moves it gently; between
// two marks of the bar it counts down as a clock does.
class RemainingTime
{
public:
    // How long the bar must have moved before a first estimate is told.
    static constexpr qint64 kSettleMs = 3000;
    // How quickly the estimate follows a change of rate.
    static constexpr qint64 kSmoothingMs = 2000;

    // Takes the time since the extraction started and the bar's percentage
    // (0 while the bar shows no measured progress); returns the text to
    // show, or an empty text when there is no estimate yet. The percentage
    // never goes back: a lower one (a new entry's line) counts as the
    // highest seen.
    QString feed(qint64 elapsedMs, int percent);

    // The smoothed time left, once there is an estimate.
    std::optional<qint64> estimateMs() const { return m_estimateMs; }

    // "About 2 minutes left" and the like, for `ms` left.
    static QString describe(qint64 ms);

private:
    int m_percent = 0;
    qint64 m_startMs = 0;       // when the bar was last seen at 0 %
    qint64 m_lastFeedMs = 0;
    std::optional<qint64> m_estimateMs;
};
