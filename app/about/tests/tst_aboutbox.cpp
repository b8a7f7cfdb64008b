#include "AboutBox.h"
#include "CreditsScroller.h"
#include "URLTextView.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

namespace {
// Wired as the application controller wires it.
void wire(AboutBox &box)
{
    QObject::connect(&box, &AboutBox::windowDidBecomeKey, &box, &AboutBox::startScrolling);
    QObject::connect(&box, &AboutBox::windowDidResignKey, &box, &AboutBox::stopScrolling);
}
}

class TestAboutBox : public QObject
{
    Q_OBJECT

private slots:
    void creditsMoveByElapsedTimeOnly()
    {
        // 20 points a second after the 8-second pause, whatever the timer's
        // pace; a stalled event loop is no leap; inactive time does not count.
        for (double hz : {240.0, 60.0, 7.0}) {
            double now = 1000;
            CreditsScroller scroller([&now] { return now; });
            scroller.restart(1000);
            const double t0 = now;
            auto runUntil = [&](double until) {
                double shown = -1;
                while (now + 1 / hz <= until + 1e-9) {
                    now += 1 / hz;
                    shown = scroller.step().value_or(shown);
                }
                return shown;
            };
            QVERIFY(runUntil(t0 + 7.9) == -1 && qAbs(runUntil(t0 + 12) - 80) < 0.5);
            const double before = scroller.position();
            now += 30;
            QVERIFY(*scroller.step() - before <= CreditsScroller::kSpeed * CreditsScroller::kMaxStep + 1e-9);
            const double frozen = scroller.position();
            now += 120;
            scroller.resume();
            QVERIFY2(qAbs(runUntil(now + 1) - (frozen + 20)) < 0.5, qPrintable(QString::number(hz)));
        }
    }

    void scrollsOnlyWhileActive()
    {
        double now = 1000;
        AboutBox box(nullptr, [&now] { return now; });
        wire(box);
        box.showBox();
        QTRY_VERIFY(box.isScrolling());
        // One timer, at the display's pace rather than as fast as it can.
        const QList<QTimer *> timers = box.findChildren<QTimer *>();
        QVERIFY(timers.size() == 1 && timers[0]->interval() >= 10);
        QScrollBar *bar = box.aboutView()->verticalScrollBar();
        for (const double end = now + 10.9; now < end; now += 1.0 / 60)
            box.scrollCredits();
        QVERIFY(qAbs(bar->value() - 58) <= 2);

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!box.isScrolling());
        box.showBox();  // About again: back to the top, scrolling
        QTRY_VERIFY(box.isScrolling() && bar->value() == 0);

        box.aboutWin()->close();
        QTRY_VERIFY(!box.isScrolling());
    }

    void destroyedWhileActiveSignalsNothing()
    {
        // Its window going must not call back into a half-destroyed box.
        auto *box = new AboutBox;
        wire(*box);
        int resigned = 0;
        connect(box, &AboutBox::windowDidResignKey, this, [&resigned] { ++resigned; });
        box->showBox();
        QTRY_VERIFY(box->isScrolling());
        delete box;
        QCOMPARE(resigned, 0);
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
