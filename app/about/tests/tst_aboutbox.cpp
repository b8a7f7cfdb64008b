#include "AboutBox.h"
#include "ResourceLocator.h"
#include "StringTable.h"
#include "URLTextView.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

namespace {
struct FakeClock
{
    double now = 50.0;
    CreditsScroller::Clock clock() { return [this] { return now; }; }
};

// Wired as the application controller wires it.
void wire(AboutBox &box)
{
    QObject::connect(&box, &AboutBox::windowDidBecomeKey, &box, &AboutBox::startScrolling);
    QObject::connect(&box, &AboutBox::windowDidResignKey, &box, &AboutBox::stopScrolling);
}

QSet<QString> hrefs(QTextDocument *doc)
{
    QSet<QString> found;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isAnchor())
                found.insert(it.fragment().charFormat().anchorHref());
    return found;
}

void advance(AboutBox &box, FakeClock &clock, double seconds)
{
    for (double end = clock.now + seconds; clock.now < end;) {
        clock.now += 1.0 / 60;
        box.scrollCredits();
    }
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

    void creditsLoadWithLiveLinks_data()
    {
        QTest::addColumn<QLocale::Language>("language");
        QTest::newRow("English") << QLocale::English;
        QTest::newRow("French") << QLocale::French;
    }

    void creditsLoadWithLiveLinks()
    {
        // Each language names its own credits file.
        QFETCH(QLocale::Language, language);
        QLocale::setDefault(QLocale(language));
        StringTable::reload();
        auto restore = qScopeGuard([] {
            QLocale::setDefault(QLocale(QLocale::English));
            StringTable::reload();
        });
        AboutBox box;
        QTextDocument *doc = box.aboutView()->document();
        const QString text = doc->toPlainText();
        for (const char *name : {"unrar", "Qt", "libarchive", "libplist", "OpenSSL", "curl"})
            QVERIFY2(text.contains(QLatin1String(name)), name);
        QVERIFY(!text.contains(QLatin1Char('\\')) && !text.contains(QLatin1Char('{')));
        const QSet<QString> links = hrefs(doc);
        for (const char *expected : {"mailto:hello@vorlo.example", "http://www.vorlo.example",
                                     "ftp://ftp.vorlo.example", "https://www.qt.io", "https://curl.se"})
            QVERIFY2(links.contains(QLatin1String(expected)), expected);
        QCOMPARE(doc->begin().blockFormat().alignment(), Qt::AlignHCenter);
    }

    void badCreditsLeaveTheViewAlone()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("strings/en")));
        QFile table(dir.filePath(QStringLiteral("strings/en/about.json")));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write(R"({"MyDocument22": "credits.rtf", "MyDocument21": "v%@"})");
        table.close();
        ResourceLocator::setSearchPathsForTesting({dir.path()});
        StringTable::reload();
        auto restore = qScopeGuard([] {
            ResourceLocator::setSearchPathsForTesting({});
            StringTable::reload();
        });

        FakeClock clock;
        AboutBox box(nullptr, clock.clock());
        QVERIFY(box.aboutView()->document()->isEmpty());  // missing file

        box.aboutView()->setPlainText(QStringLiteral("as designed"));
        QFile credits(dir.filePath(QStringLiteral("credits.rtf")));
        QVERIFY(credits.open(QIODevice::WriteOnly));
        credits.write("{\\rtf1 {\\b unbalanced");
        credits.close();
        QVERIFY(!box.loadCredits());
        QCOMPARE(box.aboutView()->toPlainText(), QStringLiteral("as designed"));

        // The box still opens and runs.
        wire(box);
        box.showBox();
        QTRY_VERIFY(box.isScrolling());
        QCOMPARE(box.aboutVersion()->text(), QStringLiteral("v1.2.3"));
    }

    void showScrollShowAgain()
    {
        FakeClock clock;
        AboutBox box(nullptr, clock.clock());
        wire(box);
        box.showBox();
        QVERIFY(QTest::qWaitForWindowExposed(box.aboutWin()));
        QTRY_VERIFY(box.isScrolling());
        QCOMPARE(box.aboutVersion()->text(), QStringLiteral("Version 1.2.3"));
        QCOMPARE(box.scroller().limit(), box.aboutView()->document()->characterCount() - 1);

        QScrollBar *bar = box.aboutView()->verticalScrollBar();
        QVERIFY(bar->maximum() > 60);
        advance(box, clock, 7.9);
        QCOMPARE(bar->value(), 0);
        advance(box, clock, 3);
        QVERIFY(qAbs(bar->value() - 58) <= 2);

        // About again: top, new opening pause, the same single timer.
        box.showBox();
        QCOMPARE(bar->value(), 0);
        QCOMPARE(box.scroller().state(), CreditsScroller::State::WaitingToScroll);
        QVERIFY(box.isScrolling());
        QCOMPARE(box.findChildren<QTimer *>().size(), 1);
        advance(box, clock, 7.9);
        QCOMPARE(bar->value(), 0);
    }

    void activeWindowAndLinkPressesGateTheTimer()
    {
        FakeClock clock;
        AboutBox box(nullptr, clock.clock());
        wire(box);
        QList<QUrl> opened;
        box.aboutView()->setUrlOpener([&](const QUrl &url) { opened.append(url); });
        box.showBox();
        QVERIFY(QTest::qWaitForWindowExposed(box.aboutWin()));
        QTRY_VERIFY(box.isScrolling());

        // Another window becomes active: the credits stop where they are.
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!box.isScrolling());
        box.aboutWin()->activateWindow();
        QTRY_VERIFY(box.isScrolling());

        // A press on a link holds the credits; the release lets them go.
        URLTextView *view = box.aboutView();
        const int at = view->toPlainText().indexOf(QStringLiteral("www.vorlo"));
        const URLTextView::LinkRun link = view->runAt(at);
        const QPoint on = view->rectsForRange(link.start, link.length).constFirst().center().toPoint();
        QMouseEvent press(QEvent::MouseButtonPress, on, view->viewport()->mapToGlobal(on),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &press);
        QVERIFY(!box.isScrolling());
        QMouseEvent release(QEvent::MouseButtonRelease, on, view->viewport()->mapToGlobal(on),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &release);
        QVERIFY(box.isScrolling());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("http://www.vorlo.example"))});

        // Closing the box stops the timer too.
        box.aboutWin()->close();
        QTRY_VERIFY(!box.isScrolling());
    }

    void destroyedWhileActiveSignalsNothing()
    {
        // Its window going must not call the delegate back into a box
        // that is half destroyed.
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
