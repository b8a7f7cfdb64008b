#include "RemainingTime.h"

#include "StringTable.h"

#include <algorithm>
#include <cmath>

QString RemainingTime::feed(qint64 elapsedMs, int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == 0 && m_percent == 0)
        m_startMs = elapsedMs;
    m_percent = std::max(m_percent, percent);
    const qint64 movingMs = elapsedMs - m_startMs;
    if (m_percent == 0 || movingMs < kSettleMs) {
        m_lastFeedMs = elapsedMs;
        return {};
    }

    // What the rate since the bar started gives now.
    const double measured = double(movingMs) * (100 - m_percent) / m_percent;
    if (!m_estimateMs) {
        m_estimateMs = qint64(measured);
    } else {
        const qint64 sinceLast = std::max<qint64>(elapsedMs - m_lastFeedMs, 0);
        const double counted = double(*m_estimateMs - sinceLast);
        const double weight = 1.0 - std::exp(-double(sinceLast) / double(kSmoothingMs));
        m_estimateMs = qint64(std::max(0.0, counted + weight * (measured - counted)));
    }
    m_lastFeedMs = elapsedMs;
    return describe(*m_estimateMs);
}

QString RemainingTime::describe(qint64 ms)
{
    const qint64 seconds = (std::max<qint64>(ms, 0) + 999) / 1000;
    // Seconds in steps of five: a count that changes every second looks
    // more precise than an estimate is.
    if (seconds <= 55) {
        const qint64 shown = std::max<qint64>(5, (seconds + 4) / 5 * 5);
        return StringTable::format(QStringLiteral("MyDocumentProgressSeconds"), {QString::number(shown)});
    }
    const qint64 minutes = std::max<qint64>(1, std::llround(double(seconds) / 60));
    if (minutes == 1)
        return StringTable::text(QStringLiteral("MyDocumentProgressMinute"));
    if (minutes < 60)
        return StringTable::format(QStringLiteral("MyDocumentProgressMinutes"), {QString::number(minutes)});
    const qint64 hours = std::llround(double(seconds) / 3600);
    if (hours == 1)
        return StringTable::text(QStringLiteral("MyDocumentProgressHour"));
    return StringTable::format(QStringLiteral("MyDocumentProgressHours"), {QString::number(hours)});
}
