#include "EntryDetails.h"

#include "OutputReader.h"

#include <limits>

namespace {
// A decimal number up to the next space; nullopt for "-" or anything else.
std::optional<quint64> readNumber(QByteArrayView &rest, bool &ok)
{
    const qsizetype space = rest.indexOf(' ');
    if (space <= 0) {
        ok = false;
        return std::nullopt;
    }
    const QByteArrayView field = rest.first(space);
    rest = rest.sliced(space + 1);
    if (field == "-")
        return std::nullopt;
    quint64 value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9' || value > (std::numeric_limits<quint64>::max() - 9) / 10) {
            ok = false;
            return std::nullopt;
        }
        value = value * 10 + quint64(c - '0');
    }
    return value;
}
} // namespace

std::optional<EntryDetails::Line> EntryDetails::parse(QByteArrayView line)
{
    if (line.size() < 4 || line[2] != ' ' || (line[0] != 'd' && line[0] != '-') || (line[1] != '*' && line[1] != '-'))
        return std::nullopt;
    Line parsed;
    parsed.record.directory = line[0] == 'd';
    parsed.record.encrypted = line[1] == '*';
    QByteArrayView rest = line.sliced(3);
    bool ok = true;
    const std::optional<quint64> size = readNumber(rest, ok);
    const std::optional<quint64> packed = readNumber(rest, ok);
    const std::optional<quint64> mtime = readNumber(rest, ok);
    if (!ok || !size)
        return std::nullopt;
    parsed.record.size = *size;
    if (packed)
        parsed.record.packed = *packed;
    // Beyond 2038 the date is left out rather than wrapped.
    if (mtime && *mtime <= quint64(std::numeric_limits<qint32>::max()))
        parsed.record.mtime = qint32(*mtime);
    parsed.name = rest;
    return parsed;
}

void EntryDetails::reset(const QStringList *entries)
{
    clear();
    m_entries = entries;
    if (m_entries)
        m_records.reserve(m_entries->size());
}

void EntryDetails::clear()
{
    m_entries = nullptr;
    m_records = {};
    m_broken = false;
    m_usable = false;
}

void EntryDetails::addLine(QByteArrayView line)
{
    if (m_broken || !m_entries)
        return;
    const std::optional<Line> parsed = parse(line);
    if (!parsed)
        return;
    const qsizetype index = m_records.size();
    if (index >= m_entries->size()
        || OutputReader::splitListing(parsed->name).constFirst() != m_entries->at(index)) {
        m_broken = true;
        m_records = {};
        return;
    }
    m_records.append(parsed->record);
    m_usable = complete();
}

bool EntryDetails::complete() const
{
    if (m_broken || !m_entries)
        return false;
    // The bare listing ends with a line feed, which leaves an empty last entry.
    qsizetype wanted = m_entries->size();
    if (wanted > 0 && m_entries->constLast().isEmpty())
        --wanted;
    return m_records.size() == wanted;
}
