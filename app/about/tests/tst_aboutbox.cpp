#include "AboutBox.h"
#include "CreditsScroller.h"
#include "StringTable.h"
#include "URLTextView.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

namespace {
struct FakeClock
{
    double now = 1000.0;
    CreditsScroller::Clock clock() { return [this] { return now; }; }
};

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
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English));
        StringTable::reload();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    }

    void creditsMoveByElapsedTimeOnly()
    {
        // 20 points a second after the 8-second pause, whatever the timer's
        // pace; a stalled event loop is no leap; inactive time does not count.
        for (double hz : {240.0, 60.0, 7.0}) {
            FakeClock clock;
            CreditsScroller scroller(clock.clock());
            scroller.restart(1000);
            const double t0 = clock.now;
            auto runUntil = [&](double until) {
                double shown = -1;
                while (clock.now + 1 / hz <= until + 1e-9) {
                    clock.now += 1 / hz;
                    shown = scroller.step().value_or(shown);
                }
                return shown;
            };
            QVERIFY(runUntil(t0 + 7.9) == -1 && qAbs(runUntil(t0 + 12) - 80) < 0.5);
            const double before = scroller.position();
            clock.now += 30;
            QVERIFY(*scroller.step() - before <= CreditsScroller::kSpeed * CreditsScroller::kMaxStep + 1e-9);
            const double frozen = scroller.position();
            clock.now += 120;
            scroller.resume();
            QVERIFY2(qAbs(runUntil(clock.now + 1) - (frozen + 20)) < 0.5, qPrintable(QString::number(hz)));
        }
    }

    void scrollsOnlyWhileActiveAndNotPressed()
    {
        FakeClock clock;
        AboutBox box(nullptr, clock.clock());
        wire(box);
        QList<QUrl> opened;
        box.aboutView()->setUrlOpener([&](const QUrl &url) { opened.append(url); });
        box.showBox();
        QTRY_VERIFY(box.isScrolling());
        QCOMPARE(box.aboutVersion()->text(), QStringLiteral("Version 1.2.3"));
        // One timer, at the display's pace rather than as fast as it can.
        const QList<QTimer *> timers = box.findChildren<QTimer *>();
        QVERIFY(timers.size() == 1 && timers[0]->interval() >= 10);
        QScrollBar *bar = box.aboutView()->verticalScrollBar();
        for (const double end = clock.now + 10.9; clock.now < end; clock.now += 1.0 / 60)
            box.scrollCredits();
        QVERIFY(qAbs(bar->value() - 58) <= 2);

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!box.isScrolling());
        box.showBox();  // About again: back to the top, scrolling
        QTRY_VERIFY(box.isScrolling() && bar->value() == 0);

        // A press on a link holds the credits; the release lets them go.
        URLTextView *view = box.aboutView();
        const URLTextView::LinkRun link = view->runAt(view->toPlainText().indexOf(QStringLiteral("www.vorlo")));
        const QPoint on = view->rectsForRange(link.start, link.length).constFirst().center().toPoint();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QVERIFY(box.isScrolling() == (type == QEvent::MouseButtonPress));
            QMouseEvent event(type, on, view->viewport()->mapToGlobal(on), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &event);
        }
        QVERIFY(box.isScrolling());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("http://www.vorlo.example"))});
        box.aboutWin()->close();
        QTRY_VERIFY(!box.isScrolling());
    }

    void destroyedWhileActiveSignalsNothing()
    {
        // Its window going must not call the delegate back into a box that
        // is half destroyed.
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
