#include "EntryDetails.h"
#include "SelectionProgress.h"

#include <QTest>

class TestSelectionProgress : public QObject
{
    Q_OBJECT

private slots:
    void countsTheSelectedDataAlone();
    void withoutDetailsEachEntryCounts();
};

namespace {
// Details for `entries`, from technical lines "FLAGS SIZE PACKED MTIME NAME".
void fill(EntryDetails &details, const QStringList &entries, const QList<QByteArray> &lines)
{
    details.reset(&entries);
    for (const QByteArray &line : lines)
        details.addLine(line);
    QVERIFY(details.usable());
}
} // namespace

void TestSelectionProgress::countsTheSelectedDataAlone()
{
    // 1000 packed bytes in all: "big" takes 600 of them.
    const QStringList entries = {QStringLiteral("other.bin"), QStringLiteral("docs"), QStringLiteral("docs/a.txt"),
                                 QStringLiteral("docs-x/b.txt"), QStringLiteral("big"), QStringLiteral("docs/c.txt")};
    EntryDetails details;
    fill(details, entries,
         {"-- 300 300 - other.bin", "d- 0 - - docs", "-- 100 50 - docs/a.txt", "-- 100 50 - docs-x/b.txt",
          "-- 1200 600 - big", "-- 100 0 - docs/c.txt"});

    // "docs" takes its own entry and what is inside, never "docs-x".
    SelectionProgress progress(entries, &details, {QStringLiteral("docs"), QStringLiteral("big")});
    QCOMPARE(progress.count(), 4);
    QVERIFY(progress.sized());
    QCOMPARE(progress.percent(), 0);
    // The unselected entry moves the archive-wide bar, not this one.
    progress.archiveMoved(30);
    QCOMPARE(progress.percent(), 0);
    progress.entryStarted(QStringLiteral("docs/a.txt"), 30);
    QCOMPARE(progress.percent(), 0);
    // Half of "big" read: 100 + 600 of 1400 selected bytes.
    progress.entryStarted(QStringLiteral("big"), 40);
    QCOMPARE(progress.percent(), 100 * 100 / 1400);
    progress.archiveMoved(70);
    QCOMPARE(progress.percent(), 700 * 100 / 1400);
    // A name the selection does not hold (or the helper's odd line) changes nothing.
    progress.entryStarted(QStringLiteral("docs-x/b.txt"), 70);
    QCOMPARE(progress.percent(), 50);
    // Past the end of its share it stops at the entry's whole size.
    progress.archiveMoved(100);
    QCOMPARE(progress.percent(), 1300 * 100 / 1400);
    progress.entryStarted(QStringLiteral("docs/c.txt"), 100);
    QCOMPARE(progress.percent(), 1300 * 100 / 1400);
    // The helper never goes back: neither does the bar.
    progress.entryStarted(QStringLiteral("docs/a.txt"), 100);
    QCOMPARE(progress.percent(), 1300 * 100 / 1400);
}

void TestSelectionProgress::withoutDetailsEachEntryCounts()
{
    // The same name twice: the helper names the second one after the first.
    const QStringList entries = {QStringLiteral("a"), QStringLiteral("dir/x"), QStringLiteral("dir/x"),
                                 QStringLiteral("dir/y"), QStringLiteral("b")};
    SelectionProgress progress(entries, nullptr, {QStringLiteral("dir")});
    QVERIFY(!progress.sized());
    QCOMPARE(progress.count(), 3);
    progress.entryStarted(QStringLiteral("dir/x"), 10);
    QCOMPARE(progress.percent(), 0);
    progress.archiveMoved(90);
    QCOMPARE(progress.percent(), 0);
    progress.entryStarted(QStringLiteral("dir/x"), 90);
    QCOMPARE(progress.percent(), 33);
    progress.entryStarted(QStringLiteral("dir/y"), 95);
    QCOMPARE(progress.percent(), 66);

    // Details that did not come are no details.
    EntryDetails spoilt;
    spoilt.reset(&entries);
    spoilt.addLine("-- 5 5 - not-a");
    SelectionProgress counted(entries, &spoilt, {QStringLiteral("a"), QStringLiteral("b")});
    QVERIFY(!counted.sized());
    counted.entryStarted(QStringLiteral("b"), 100);
    QCOMPARE(counted.percent(), 50);
}

QTEST_APPLESS_MAIN(TestSelectionProgress)
#include "tst_selectionprogress.moc"
