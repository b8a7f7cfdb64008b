#include "RemainingTime.h"

#include <QTest>

class TestRemainingTime : public QObject
{
    Q_OBJECT

private slots:
    void toldOnlyOnceTheBarHasMoved();
    void followsTheRateGently();
    void wordsForTheTimeLeft();
};

void TestRemainingTime::toldOnlyOnceTheBarHasMoved()
{
    // A password prompt kept the bar at 0 % for 20 s: that wait is not part
    // of the rate, and the first seconds of progress are not enough.
    RemainingTime remaining;
    for (qint64 ms = 0; ms <= 20000; ms += 1000)
        QVERIFY(remaining.feed(ms, 0).isEmpty());
    QVERIFY(remaining.feed(21000, 10).isEmpty());
    QVERIFY(remaining.feed(22900, 19).isEmpty());
    // 3 s for 30 %: 7 s more for the remaining 70 %.
    QCOMPARE(remaining.feed(23000, 30), QStringLiteral("About 10 seconds left"));
    QCOMPARE(*remaining.estimateMs(), 7000);

    // A bar that never leaves 0 % tells nothing, however long it takes.
    RemainingTime stuck;
    QVERIFY(stuck.feed(600000, 0).isEmpty());
    QVERIFY(!stuck.estimateMs());
}

void TestRemainingTime::followsTheRateGently()
{
    // 1 % a second: 100 s in all.
    RemainingTime remaining;
    for (int second = 0; second <= 40; ++second)
        remaining.feed(second * 1000, second);
    QCOMPARE(remaining.feed(40000, 40), QStringLiteral("About a minute left"));
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
    QVERIFY(*remaining.estimateMs() < afterBurst);

    // Stalled for long, the estimate grows towards what the rate says.
    for (qint64 ms = 42000; ms <= 80000; ms += 1000)
        remaining.feed(ms, 50);
    QVERIFY2(*remaining.estimateMs() > 70000, QByteArray::number(*remaining.estimateMs()));

    // Done: nothing left.
    QCOMPARE(remaining.feed(200000, 100), QStringLiteral("About 5 seconds left"));
}

void TestRemainingTime::wordsForTheTimeLeft()
{
    const QList<std::pair<qint64, QString>> cases = {
        {0, QStringLiteral("About 5 seconds left")},
        {11000, QStringLiteral("About 15 seconds left")},
        {55000, QStringLiteral("About 55 seconds left")},
        {58000, QStringLiteral("About a minute left")},
        {89000, QStringLiteral("About a minute left")},
        {95000, QStringLiteral("About 2 minutes left")},
        {59 * 60000, QStringLiteral("About 59 minutes left")},
        {60 * 60000, QStringLiteral("About an hour left")},
        {150 * 60000, QStringLiteral("About 3 hours left")},
    };
    for (const auto &[ms, text] : cases)
        QCOMPARE(RemainingTime::describe(ms), text);
}

QTEST_GUILESS_MAIN(TestRemainingTime)
#include "tst_remainingtime.moc"
