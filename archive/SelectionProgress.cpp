#include "SelectionProgress.h"

#include <QSet>

#include <algorithm>

bool SelectionProgress::covers(const QSet<QString> &chosen, const QString &entry)
{
    if (chosen.contains(entry))
        return true;
    for (qsizetype slash = entry.indexOf(QLatin1Char('/')); slash > 0;
         slash = entry.indexOf(QLatin1Char('/'), slash + 1)) {
        if (chosen.contains(entry.left(slash)))
            return true;
    }
    return false;
}

SelectionProgress::SelectionProgress(const QStringList &entries, const EntryDetails *details,
                                     const QStringList &chosen)
{
    const QSet<QString> picked(chosen.cbegin(), chosen.cend());
    m_sized = details && details->usable();
    // What the helper's percentage runs over: the packed data of the whole
    // archive, or its sizes where the format does not say.
    qint64 archiveBytes = 0;
    QList<qint64> spanBytes;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const EntryDetails::Record *record = m_sized ? details->at(index) : nullptr;
        const qint64 bytes = !record || record->directory ? 0
                             : record->packed != EntryDetails::Record::kUnknownPacked ? qint64(record->packed)
                                                                                      : qint64(record->size);
        archiveBytes += bytes;
        if (!covers(picked, entries.at(index)))
            continue;
        if (!m_first.contains(entries.at(index)))
            m_first.insert(entries.at(index), m_names.size());
        m_names << entries.at(index);
        m_before << m_total;
        const qint64 weight = !m_sized ? 1 : record->directory ? 0 : qint64(record->size);
        m_weight << weight;
        m_total += weight;
        spanBytes << bytes;
    }
    for (const qint64 bytes : std::as_const(spanBytes))
        m_span << (archiveBytes > 0 ? double(bytes) * 100.0 / double(archiveBytes) : 0.0);
}

void SelectionProgress::entryStarted(const QString &name, int archivePercent)
{
    m_archivePercent = archivePercent;
    // The first entry of that name from the current one on: names repeat
    // only in odd archives, and the helper never goes back.
    qsizetype found = -1;
    const auto first = m_first.constFind(name);
    if (first != m_first.constEnd()) {
        for (qsizetype index = std::max(*first, m_current + 1); index < m_names.size(); ++index) {
            if (m_names.at(index) == name) {
                found = index;
                break;
            }
        }
    }
    if (found < 0)
        return;
    m_current = found;
    m_startPercent = archivePercent;
    update();
}

void SelectionProgress::archiveMoved(int archivePercent)
{
    m_archivePercent = archivePercent;
    update();
}

void SelectionProgress::update()
{
    if (m_current < 0 || m_total <= 0)
        return;
    double within = 0.0;
    if (m_sized && m_span.at(m_current) > 0.0)
        within = std::clamp((m_archivePercent - m_startPercent) / m_span.at(m_current), 0.0, 1.0);
    const double done = double(m_before.at(m_current)) + double(m_weight.at(m_current)) * within;
    m_percent = std::max(m_percent, int(std::min(100.0, done * 100.0 / double(m_total))));
}
