#include "CreditsScroller.h"

#include <QTest>

namespace {
struct FakeClock
{
    double now = 1000.0;
    CreditsScroller::Clock clock() { return [this] { return now; }; }
};

// Fires at `hz` from the clock's present time until `until`, returning the
// last offset the view was asked to show (or -1).
double runUntil(CreditsScroller &scroller, FakeClock &clock, double until, double hz = 60)
{
    double shown = -1;
    while (clock.now + 1 / hz <= until + 1e-9) {
        clock.now += 1 / hz;
        if (auto offset = scroller.step())
            shown = *offset;
    }
    return shown;
}
}

class TestCreditsScroller : public QObject
{
    Q_OBJECT

private slots:
    void oneFullCycle()
    {
        FakeClock clock;
        CreditsScroller scroller(clock.clock());
        scroller.restart(100);  // at 1000
        const double t0 = clock.now;

        // The opening pause: nothing moves for 8 seconds.
        QCOMPARE(runUntil(scroller, clock, t0 + 7.99), -1.0);
        QCOMPARE(scroller.state(), CreditsScroller::State::WaitingToScroll);

        // Then 20 points a second, counted from the deadline itself.
        QVERIFY(qAbs(runUntil(scroller, clock, t0 + 10) - 40) < 0.01);
        QCOMPARE(scroller.state(), CreditsScroller::State::Scrolling);

        // The limit (100 characters) is reached after 5 seconds of motion,
        // and never passed.
        const double atEnd = runUntil(scroller, clock, t0 + 13.1);
        QCOMPARE(atEnd, 100.0);
        QCOMPARE(scroller.state(), CreditsScroller::State::WaitingAtEnd);

        // The end pause: the view stays put for 3 seconds, then jumps to
        // the top, waits 3 seconds more and scrolls from 0 again.
        QCOMPARE(runUntil(scroller, clock, t0 + 16.0), -1.0);
        QCOMPARE(runUntil(scroller, clock, t0 + 16.2), 0.0);
        QCOMPARE(scroller.state(), CreditsScroller::State::WaitingToScroll);
        const double topPauseEnd = scroller.deadline();
        QVERIFY(qAbs(topPauseEnd - (t0 + 19.1)) < 0.1);
        QCOMPARE(runUntil(scroller, clock, topPauseEnd - 0.01), -1.0);
        QVERIFY(qAbs(runUntil(scroller, clock, topPauseEnd + 1) - 20) < 0.5);
    }

    void speedDoesNotDependOnTheFiringRate()
    {
        for (double hz : {240.0, 60.0, 7.0}) {
            FakeClock clock;
            CreditsScroller scroller(clock.clock());
            scroller.restart(1000);
            const double shown = runUntil(scroller, clock, clock.now + 12, hz);
            QVERIFY2(qAbs(shown - 80) < 0.5, qPrintable(QStringLiteral("%1 Hz: %2").arg(hz).arg(shown)));
        }
    }

    void aStallIsNoLeap()
    {
        FakeClock clock;
        CreditsScroller scroller(clock.clock());
        scroller.restart(1000);
        runUntil(scroller, clock, clock.now + 9);  // scrolled 20 points
        const double before = scroller.position();
        clock.now += 30;  // the event loop was held up
        const double after = *scroller.step();
        QVERIFY(after - before <= CreditsScroller::kSpeed * CreditsScroller::kMaxStep + 1e-9);
        QVERIFY(after > before);
    }

    void emptyCreditsOnlyPause()
    {
        FakeClock clock;
        CreditsScroller scroller(clock.clock());
        scroller.restart(0);
        QList<double> shown;
        for (int i = 0; i < 60 * 30; ++i) {
            clock.now += 1.0 / 60;
            if (auto offset = scroller.step())
                shown.append(*offset);
        }
        // 8 s, then end pause / top pause cycles of 6 s: jumps at about 11,
        // 17, 23 and 29 seconds, each to the top.
        QCOMPARE(shown.size(), 4);
        for (double offset : shown)
            QCOMPARE(offset, 0.0);
    }

    void inactiveTimeDoesNotCount()
    {
        FakeClock clock;
        CreditsScroller scroller(clock.clock());
        scroller.restart(1000);
        runUntil(scroller, clock, clock.now + 10);
        const double frozen = scroller.position();

        clock.now += 120;  // another window was active: no firings
        scroller.resume();
        QCOMPARE(scroller.state(), CreditsScroller::State::Scrolling);  // no new pause
        const double next = runUntil(scroller, clock, clock.now + 1);
        QVERIFY(qAbs(next - (frozen + 20)) < 0.5);
    }

    void restartDuringTheEndPause()
    {
        // The pending jump is forgotten: the box starts over at the top.
        FakeClock clock;
        CreditsScroller scroller(clock.clock());
        scroller.restart(10);
        runUntil(scroller, clock, clock.now + 9);
        QCOMPARE(scroller.state(), CreditsScroller::State::WaitingAtEnd);
        scroller.restart(10);
        QCOMPARE(scroller.state(), CreditsScroller::State::WaitingToScroll);
        QCOMPARE(scroller.deadline(), clock.now + 8);
        QCOMPARE(runUntil(scroller, clock, clock.now + 7.9), -1.0);
    }
};

QTEST_APPLESS_MAIN(TestCreditsScroller)
#include "tst_creditsscroller.moc"
