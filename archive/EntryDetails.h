#pragma once

#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <optional>

// What the helper's technical listing ("vt") says of each entry, kept beside
// the bare listing's entry list: the n-th record belongs to the n-th entry.
// A record is 24 bytes, so a million entries cost 24 MB and no second copy
// of their names.
class EntryDetails
{
public:
    struct Record
    {
        static constexpr quint64 kUnknownPacked = ~quint64(0);
        quint64 size = 0;
        quint64 packed = kUnknownPacked;
        qint32 mtime = 0; // seconds since 1970 (UTC); 0 when unknown
        bool directory = false;
        bool encrypted = false;
    };

    // One technical line split into its fields; nullopt for any other line
    // (the helper's messages share the output).
    struct Line
    {
        Record record;
        QByteArrayView name; // UTF-8, as the bare listing prints it
    };
    static std::optional<Line> parse(QByteArrayView line);

    // Starts over for the entries of a listing; `entries` must outlive the
    // reading.
    void reset(const QStringList *entries);
    // Takes one line of the helper's output. A line whose name is not that
    // of the next entry spoils the whole set: records are found by position.
    void addLine(QByteArrayView line);
    // Every entry has its record, in order.
    bool complete() const;
    // Complete, and so to be shown.
    bool usable() const { return m_usable; }
    void clear();

    // The record of entry `index`, or null while it is unknown.
    const Record *at(qsizetype index) const
    {
        return m_usable && index >= 0 && index < m_records.size() ? &m_records.at(index) : nullptr;
    }

private:
    const QStringList *m_entries = nullptr;
    QList<Record> m_records;
    bool m_broken = false;
    bool m_usable = false; // set once complete
};
