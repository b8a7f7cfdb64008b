// Rebuilding the rows of one folder level, and the end of a listing run,
// on entry lists far larger than real archives usually hold.
#include "EntryRows.h"
#include "EntryTableModel.h"
#include "OutputReader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QTableView>

#include <cstdio>
#include <unistd.h>

namespace {
double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

// 100 top folders of 100 subfolders of 100 files, each folder listed after
// its contents, as archivers usually write them.
QByteArray millionEntryListing()
{
    QByteArray text;
    text.reserve(50 * 1000 * 1000);
    for (int a = 0; a < 100; ++a) {
        for (int b = 0; b < 100; ++b) {
            for (int c = 0; c < 100; ++c)
                text += "project" + QByteArray::number(a) + "/module" + QByteArray::number(b) + "/source_file_"
                        + QByteArray::number(c) + ".cpp\n";
            text += "project" + QByteArray::number(a) + "/module" + QByteArray::number(b) + "\n";
        }
        text += "project" + QByteArray::number(a) + "\n";
    }
    return text;
}

// One folder holding `files` files, among a few other entries.
QByteArray bigFolderListing(int files)
{
    QByteArray text = "readme.txt\nbig\n";
    for (int i = 0; i < files; ++i)
        text += "big/photo_" + QByteArray::number(i) + ".jpg\n";
    text += "other/a.txt\nother\n";
    return text;
}

QStringList listingEntries(const QByteArray &text)
{
    OutputReader reader;
    reader.startListing();
    for (qsizetype at = 0; at < text.size(); at += 65536)
        reader.readPiece(text.mid(at, 65536));
    return reader.finishListing();
}

// The row rule as first written: a linear search of the row list for every
// entry, kept only to show how far the rebuild has come.
QStringList quadraticRows(const QStringList &entries, int level, const QString &prefix)
{
    QStringList rows;
    for (const QString &entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const int depth = int(parts.size()) - 1;
        if (depth < level || (level > 0 && !entry.startsWith(prefix + QLatin1Char('/'))))
            continue;
        QString candidate = parts[level];
        if (depth > level) {
            rows.removeOne(candidate);
            candidate += QLatin1Char('*');
        }
        if (!rows.contains(candidate) && !rows.contains(candidate + QLatin1Char('*')))
            rows.append(candidate);
    }
    if (level > 0)
        rows.append(QStringLiteral(".."));
    return rows;
}

template <typename Work>
double bestOf(int runs, Work work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

void report(const char *what, double ms, double goalMs)
{
    std::printf("%-58s %9.1f ms   goal %6.0f ms   %5.2f of goal  %s\n", what, ms, goalMs, ms / goalMs,
                ms <= goalMs ? "ok" : "SLOW");
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);

    // One million entries at the top level.
    const double before = residentMiB();
    QStringList million = listingEntries(millionEntryListing());
    const double afterList = residentMiB();
    QList<EntryRow> rows;
    const double topMs = bestOf(5, [&] { rows = EntryRows::build(million, 0, QString()); });
    std::printf("1,000,000-entry list: %lld entries, %lld rows at the top\n", qlonglong(million.size()),
                qlonglong(rows.size()));
    report("rebuild of the top level of 1,000,000 entries", topMs, 100);
    const double deepMs = bestOf(5, [&] { rows = EntryRows::build(million, 2, QStringLiteral("project50/module50")); });
    report("rebuild of a level-2 folder among 1,000,000 entries", deepMs, 100);
    std::printf("memory of the 1,000,000-entry list: %.0f MiB resident (%.0f bytes per entry)\n\n",
                afterList - before, (afterList - before) * 1024 * 1024 / double(million.size()));
    million.clear();

    // A folder of 100,000 files.
    const QStringList big = listingEntries(bigFolderListing(100000));
    const double bigMs = bestOf(5, [&] { rows = EntryRows::build(big, 1, QStringLiteral("big")); });
    std::printf("folder of 100,000 files: %lld rows\n", qlonglong(rows.size()));
    report("rebuild of a folder holding 100,000 files", bigMs, 100);

    // The rule as first written, on a tenth of that folder.
    const QStringList tenth = listingEntries(bigFolderListing(10000));
    const double naiveMs = bestOf(1, [&] { quadraticRows(tenth, 1, QStringLiteral("big")); });
    const double linearMs = bestOf(5, [&] { EntryRows::build(tenth, 1, QStringLiteral("big")); });
    std::printf("folder of 10,000 files: linear rebuild %.2f ms, row-list search %.1f ms (%.0fx)\n\n", linearMs,
                naiveMs, naiveMs / linearMs);

    // The end of a 100,000-entry listing run: the last piece handled, the
    // text split into entries, the top level built and the table painted.
    const QByteArray listing = bigFolderListing(100000);
    EntryTableModel model;
    QTableView table;
    table.setModel(&model);
    table.resize(520, 420);
    table.show();
    app.processEvents();
    const double endMs = bestOf(3, [&] {
        OutputReader reader;
        reader.startListing();
        for (qsizetype at = 0; at < listing.size(); at += 65536)
            reader.readPiece(listing.mid(at, 65536));
        const QStringList entries = reader.finishListing();
        model.setRows(EntryRows::build(entries, 0, QString()));
        table.repaint();
    });
    report("end of a 100,000-entry listing to rows shown (whole run)", endMs, 1000);
    return 0;
}
