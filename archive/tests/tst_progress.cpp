// What the progress window tells: the share of the selected data done, and
// the time left.
#include "EntryDetails.h"
#include "RemainingTime.h"
#include "SelectionProgress.h"

#include <QTest>

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void countsTheSelectedDataAlone();
    void withoutDetailsEachEntryCounts();
    void timeLeftOnlyOnceTheBarHasMoved();
    void timeLeftFollowsTheRateGently();
};

void TestProgress::countsTheSelectedDataAlone()
{
    // 1000 packed bytes in all: "big" takes 600 of them.
    const QStringList entries = {"other.bin", "docs", "docs/a.txt", "docs-x/b.txt", "big", "docs/c.txt"};
    EntryDetails details;
    details.reset(&entries);
    for (const char *line : {"-- 300 300 - other.bin", "d- 0 - - docs", "-- 100 50 - docs/a.txt",
                             "-- 100 50 - docs-x/b.txt", "-- 1200 600 - big", "-- 100 0 - docs/c.txt"})
        details.addLine(line);
    QVERIFY(details.usable());

    // "docs" takes its own entry and what is inside, never "docs-x".
    SelectionProgress progress(entries, &details, {"docs", "big"});
    QCOMPARE(progress.count(), 4);
    QVERIFY(progress.sized());
    // The unselected entry moves the archive-wide bar, not this one.
    progress.archiveMoved(30);
    progress.entryStarted("docs/a.txt", 30);
    QCOMPARE(progress.percent(), 0);
    // Half of "big" read: 100 + 600 of 1400 selected bytes.
    progress.entryStarted("big", 40);
    QCOMPARE(progress.percent(), 100 * 100 / 1400);
    progress.archiveMoved(70);
    QCOMPARE(progress.percent(), 700 * 100 / 1400);
    // A name the selection does not hold (or the helper's odd line) changes nothing.
    progress.entryStarted("docs-x/b.txt", 70);
    QCOMPARE(progress.percent(), 50);
    // Past the end of its share it stops at the entry's whole size, and
    // never goes back.
    progress.archiveMoved(100);
    QCOMPARE(progress.percent(), 1300 * 100 / 1400);
    progress.entryStarted("docs/c.txt", 100);
    progress.entryStarted("docs/a.txt", 100);
    QCOMPARE(progress.percent(), 1300 * 100 / 1400);
}

void TestProgress::withoutDetailsEachEntryCounts()
{
    // The same name twice: the helper names the second one after the first.
    const QStringList entries = {"a", "dir/x", "dir/x", "dir/y", "b"};
    SelectionProgress progress(entries, nullptr, {"dir"});
    QVERIFY(!progress.sized());
    QCOMPARE(progress.count(), 3);
    progress.entryStarted("dir/x", 10);
    progress.archiveMoved(90);
    QCOMPARE(progress.percent(), 0);
    progress.entryStarted("dir/x", 90);
    QCOMPARE(progress.percent(), 33);
    progress.entryStarted("dir/y", 95);
    QCOMPARE(progress.percent(), 66);

    // Details that did not come are no details.
    EntryDetails spoilt;
    spoilt.reset(&entries);
    spoilt.addLine("-- 5 5 - not-a");
    SelectionProgress counted(entries, &spoilt, {"a", "b"});
    QVERIFY(!counted.sized());
    counted.entryStarted("b", 100);
    QCOMPARE(counted.percent(), 50);
}

void TestProgress::timeLeftOnlyOnceTheBarHasMoved()
{
    // A password prompt kept the bar at 0 % for 20 s: that wait is not part
    // of the rate, and the first seconds of progress are not enough.
    RemainingTime remaining;
    for (qint64 ms = 0; ms <= 20000; ms += 1000)
        QVERIFY(remaining.feed(ms, 0).isEmpty());
    QVERIFY(remaining.feed(21000, 10).isEmpty());
    QVERIFY(remaining.feed(22900, 19).isEmpty());
    // 3 s for 30 %: 7 s more for the remaining 70 %.
    QCOMPARE(remaining.feed(23000, 30), "About 10 seconds left");
    QCOMPARE(*remaining.estimateMs(), 7000);

    // A bar that never leaves 0 % tells nothing, however long it takes.
    RemainingTime stuck;
    QVERIFY(stuck.feed(600000, 0).isEmpty());

    // Words at the edges of their ranges.
    const QList<std::pair<qint64, QString>> words = {
        {55000, "About 55 seconds left"}, {58000, "About a minute left"},     {95000, "About 2 minutes left"},
        {60 * 60000, "About an hour left"}, {150 * 60000, "About 3 hours left"}};
    for (const auto &[ms, text] : words)
        QCOMPARE(RemainingTime::describe(ms), text);
}

void TestProgress::timeLeftFollowsTheRateGently()
{
    // 1 % a second: 100 s in all.
    RemainingTime remaining;
    for (int second = 0; second <= 40; ++second)
        remaining.feed(second * 1000, second);
    QVERIFY(qAbs(*remaining.estimateMs() - 60000) < 1000);

    // The next entry goes ten times as fast for a second: the estimate
    // comes down, but by far less than the burst alone would say.
    remaining.feed(40500, 45);
    remaining.feed(41000, 50);
    const qint64 afterBurst = *remaining.estimateMs();
    QVERIFY2(afterBurst < 59000 && afterBurst > 45000, QByteArray::number(afterBurst));

    // A new entry's line sets the bar back to 0: the estimate goes on as if
    // the bar had stayed where it was.
    RemainingTime held = remaining;
    QCOMPARE(remaining.feed(41500, 0), held.feed(41500, 50));
    QCOMPARE(remaining.estimateMs(), held.estimateMs());

    // Stalled for long, the estimate grows towards what the rate says.
    for (qint64 ms = 42000; ms <= 80000; ms += 1000)
        remaining.feed(ms, 50);
    QVERIFY2(*remaining.estimateMs() > 70000, QByteArray::number(*remaining.estimateMs()));
    QCOMPARE(remaining.feed(200000, 100), "About 5 seconds left");
}

QTEST_GUILESS_MAIN(TestProgress)
#include "tst_progress.moc"
