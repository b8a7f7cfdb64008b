#include "URLMutableAttributedString.h"
#include "URLTextView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>

namespace {
// A view of fixed size, its text marked by detectURLs, opening nothing but
// recording what it would open.
struct Fixture
{
    URLTextView view;
    QList<QUrl> opened;

    Fixture(const QString &text, QSize size = {320, 200})
    {
        view.setUrlOpener([this](const QUrl &url) { opened.append(url); });
        view.setLineWrapMode(QTextEdit::WidgetWidth);
        view.setPlainText(text);
        detectURLs(view.document(), Qt::blue);
        view.resize(size);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }

    URLTextView::LinkRun linkContaining(const QString &word)
    {
        const int at = view.toPlainText().indexOf(word);
        return view.runAt(at);
    }

    // Centre of the i-th line piece of a link, in viewport coordinates.
    QPoint pointOn(const URLTextView::LinkRun &link, int piece = 0)
    {
        const QList<QRectF> rects = view.rectsForRange(link.start, link.length);
        const QPointF offset(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value());
        return (rects.value(piece).center() - offset).toPoint();
    }

    QColor colourOf(const URLTextView::LinkRun &link)
    {
        QTextCursor cursor(view.document());
        cursor.setPosition(link.start + 1);
        return cursor.charFormat().foreground().color();
    }

    void send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint at)
    {
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    }
    void press(QPoint at, Qt::MouseButton b = Qt::LeftButton) { send(QEvent::MouseButtonPress, b, b, at); }
    void drag(QPoint at, Qt::MouseButtons held = Qt::LeftButton) { send(QEvent::MouseMove, Qt::NoButton, held, at); }
    void release(QPoint at, Qt::MouseButton b = Qt::LeftButton) { send(QEvent::MouseButtonRelease, b, Qt::NoButton, at); }
};

const QString kText = QStringLiteral("Visit www.vorlo.example for news.\nWrite to hello@vorlo.example\nNo link here.");
}

class TestUrlTextView : public QObject
{
    Q_OBJECT

private slots:
    void clickOnALinkOpensItOnce()
    {
        Fixture f(kText);
        const auto link = f.linkContaining(QStringLiteral("www."));
        QCOMPARE(link.href, QStringLiteral("http://www.vorlo.example"));
        QSignalSpy tracking(&f.view, &URLTextView::linkTrackingChanged);

        f.press(f.pointOn(link));
        QVERIFY(f.view.isTrackingLink());
        QCOMPARE(f.colourOf(link), URLTextView::pressedLinkColor());
        f.release(f.pointOn(link));

        QCOMPARE(f.opened, QList<QUrl>{QUrl(QStringLiteral("http://www.vorlo.example"))});
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
        QVERIFY(!f.view.isTrackingLink());
        QCOMPARE(tracking.size(), 2);
        QVERIFY(!f.view.textCursor().hasSelection());

        // The second click of a double click opens nothing more and selects
        // nothing.
        f.send(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, f.pointOn(link));
        f.release(f.pointOn(link));
        QCOMPARE(f.opened.size(), 1);
        QVERIFY(!f.view.textCursor().hasSelection());
    }

    void draggingOffAndBackOn()
    {
        Fixture f(kText);
        const auto link = f.linkContaining(QStringLiteral("hello@"));
        const QPoint on = f.pointOn(link);
        const QPoint off = f.pointOn(f.linkContaining(QStringLiteral("www."))) + QPoint(0, 60);

        f.press(on);
        f.drag(off);
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
        f.release(off);
        QVERIFY(f.opened.isEmpty());
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());

        f.press(on);
        f.drag(off);
        f.drag(on + QPoint(3, 0));
        QCOMPARE(f.colourOf(link), URLTextView::pressedLinkColor());
        f.release(on + QPoint(3, 0));
        QCOMPARE(f.opened, QList<QUrl>{QUrl(QStringLiteral("mailto:hello@vorlo.example"))});
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
    }

    void releasingTheOtherButtonEndsThePress()
    {
        Fixture f(kText);
        const auto link = f.linkContaining(QStringLiteral("www."));
        f.press(f.pointOn(link));
        f.drag(f.pointOn(link), Qt::LeftButton | Qt::RightButton);
        f.send(QEvent::MouseButtonRelease, Qt::RightButton, Qt::LeftButton, f.pointOn(link));
        QVERIFY(!f.view.isTrackingLink());
        QCOMPARE(f.opened.size(), 1);
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
    }

    // The window hidden during a press, or the release taken by another
    // window: the press ends without opening anything, so the link does not
    // stay orange and the credits do not stay frozen.
    void aPressWhoseReleaseIsLostEnds()
    {
        Fixture f(kText);
        const auto link = f.linkContaining(QStringLiteral("www."));
        QSignalSpy tracking(&f.view, &URLTextView::linkTrackingChanged);

        f.press(f.pointOn(link));
        f.view.hide();
        QVERIFY(!f.view.isTrackingLink());
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
        QCOMPARE(tracking.size(), 2);
        QCOMPARE(tracking.last().first().toBool(), false);

        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        f.press(f.pointOn(link));
        f.drag(f.pointOn(link), Qt::NoButton);
        QVERIFY(!f.view.isTrackingLink());
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
        f.release(f.pointOn(link));
        QVERIFY(f.opened.isEmpty());
    }

    void aWrappedLinkAnswersOnBothLines()
    {
        Fixture f(QStringLiteral("https://vorlo.example/a/rather/long/path/that/cannot/fit/on/one/line"),
                  {180, 200});
        const auto link = f.linkContaining(QStringLiteral("https://"));
        QVERIFY(f.view.rectsForRange(link.start, link.length).size() >= 2);
        f.press(f.pointOn(link, 1));
        QVERIFY(f.view.isTrackingLink());
        f.drag(f.pointOn(link, 0));
        QCOMPARE(f.colourOf(link), URLTextView::pressedLinkColor());
        f.release(f.pointOn(link, 0));
        QCOMPARE(f.opened.size(), 1);
    }

    void pressesBesideALinkAreTextPresses()
    {
        Fixture f(QStringLiteral("Some words\nWrite to hello@vorlo.example"));
        const auto link = f.linkContaining(QStringLiteral("hello@"));
        const QRectF rect = f.view.rectsForRange(link.start, link.length).constFirst();
        // Past the end of the line that ends in the link, then below the
        // text: the nearest character is the link's, the press is not.
        for (const QPoint at : {QPoint(int(rect.right()) + 20, int(rect.center().y())),
                                QPoint(int(rect.center().x()), 190)}) {
            f.press(at);
            QVERIFY(!f.view.isTrackingLink());
            f.release(at);
            QVERIFY(f.opened.isEmpty());
            QCOMPARE(f.colourOf(link), QColor(Qt::blue));
        }
        // It was an ordinary press: the insertion point followed it.
        QCOMPARE(f.view.textCursor().position(), f.view.document()->characterCount() - 1);
    }

    void handAreasCoverOnlyVisibleLinks()
    {
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("line %1 www.site%1.example\n").arg(i);
        Fixture f(text);
        QVERIFY(f.view.verticalScrollBar()->maximum() > 1000);

        // Scroll so that the view's top edge cuts a line in half.
        const auto link50 = f.linkContaining(QStringLiteral("www.site50."));
        const QRectF rect50 = f.view.rectsForRange(link50.start, link50.length).constFirst();
        f.view.verticalScrollBar()->setValue(int(rect50.center().y()));

        const QList<QRect> areas = f.view.cursorAreas();
        QVERIFY(!areas.isEmpty());
        const int lineHeight = qRound(rect50.height());
        QVERIFY(areas.size() <= f.view.viewport()->height() / lineHeight + 2);
        for (const QRect &area : areas)
            QVERIFY(f.view.viewport()->rect().contains(area));
        QCOMPARE(areas.first().top(), 0);  // the half-visible link, clipped
        QVERIFY(areas.first().height() < lineHeight);

        // The pointer follows the areas.
        f.drag(areas.first().center(), Qt::NoButton);
        QCOMPARE(f.view.viewport()->cursor().hotSpot(), QPoint(5, 0));
        f.drag(QPoint(areas.first().right() + 40, areas.first().center().y()), Qt::NoButton);
        QCOMPARE(f.view.viewport()->cursor().shape(), Qt::IBeamCursor);
    }
};

QTEST_MAIN(TestUrlTextView)
#include "tst_urltextview.moc"
