#pragma once

#include "EntryDetails.h"

#include <QHash>
#include <QSet>
#include <QList>
#include <QString>
#include <QStringList>

// The progress of an extraction limited to some entries, over their data
// alone: the helper's own percentage runs over the whole archive, so a
// small selection would barely move the bar.
//
// The helper extracts in archive order, so the entry it names has all the
// selected entries before it done. Within that entry the archive-wide
// percentage tells how far it is, against the share of the archive the
// entry takes (its packed size where known, else its size). Without the
// details, each selected entry counts as one.
class SelectionProgress
{
public:
    SelectionProgress() = default;
    // `entries`: the listing; `chosen`: the paths picked (a folder takes
    // everything under it).
    SelectionProgress(const QStringList &entries, const EntryDetails *details, const QStringList &chosen);

    // The helper began the entry it prints as `name`, the archive being at
    // `archivePercent`.
    void entryStarted(const QString &name, int archivePercent);
    // The archive-wide percentage moved.
    void archiveMoved(int archivePercent);

    // 0 to 100; never goes down.
    int percent() const { return m_percent; }
    // Whether the entries' sizes are known (else each counts as one).
    bool sized() const { return m_sized; }
    // The entries the selection takes, in archive order.
    qsizetype count() const { return m_names.size(); }

    // Whether `entry` is one of `chosen` or lies inside one of them.
    static bool covers(const QSet<QString> &chosen, const QString &entry);

private:
    void update();

    QStringList m_names;
    QList<qint64> m_before; // weight of the selected entries before each one
    QList<qint64> m_weight;
    QList<double> m_span;   // share of the archive each takes, in percent
    QHash<QString, qsizetype> m_first; // an entry's first position
    qint64 m_total = 0;
    bool m_sized = false;
    qsizetype m_current = -1;
    int m_startPercent = 0;
    int m_archivePercent = 0;
    int m_percent = 0;
};
