// Link text: addresses found in styled text, the view that opens them, and
// the strict RTF reader the credits go through.
#include "RtfReader.h"
#include "URLMutableAttributedString.h"
#include "URLTextView.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

namespace {
QTextCharFormat formatAt(QTextDocument &doc, int position)
{
    QTextCursor cursor(&doc);
    cursor.setPosition(position + 1);  // the format left of the cursor
    return cursor.charFormat();
}

// Every link as its text and href, in document order.
QList<QPair<QString, QString>> links(QTextDocument &doc)
{
    QList<QPair<QString, QString>> found;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                found.append({it.fragment().text(), it.fragment().charFormat().anchorHref()});
        }
    }
    return found;
}

// A view with its links marked, opening nothing but recording what it would
// open.
struct LinkView
{
    URLTextView view;
    QList<QUrl> opened;

    LinkView(const QString &text)
    {
        view.setUrlOpener([this](const QUrl &url) { opened.append(url); });
        view.setPlainText(text);
        detectURLs(view.document(), Qt::blue);
        view.resize(320, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    using Link = URLTextView::LinkRun;
    Link link(const QString &word) { return view.runAt(view.toPlainText().indexOf(word)); }
    QPoint on(const Link &link) { return view.rectsForRange(link.start, link.length)[0].center().toPoint(); }
    QColor colourOf(const Link &link) { return formatAt(*view.document(), link.start).foreground().color(); }
    void send(QEvent::Type type, QPoint at, Qt::MouseButtons held = Qt::LeftButton)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : held, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    }
};

const QString kText = QStringLiteral("Visit www.vorlo.example for news.\nWrite to hello@vorlo.example\nNo link here.");
}

class TestLinkText : public QObject
{
    Q_OBJECT

private slots:
    void linksCoverWholeWordsAndOnlyAddresses()
    {
        // Punctuation stays in the word; prefixes are case-sensitive and start
        // the word; characters beyond the BMP take two units; a no-break space,
        // a line separator and a paragraph end split words; bad addresses get
        // nothing.
        QTextDocument doc;
        QTextCursor cursor(&doc);
        cursor.insertText(QString::fromUtf8("Write to me@vorlo.example, or see www.vorlo.example. Both me@a.example,"
                                            "you@b.example (www.c.example) WWW.d.example see:http://e.example "
                                            "\xF0\x9F\x98\x80\xF0\x9D\x84\x9E www.a.example"));
        cursor.insertText(QStringLiteral("\u00A0http://[::1 bad%zz@x\u2028x@y"));
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("\u3000ftp.c.example"));
        detectURLs(&doc, Qt::blue);
        const QList<QPair<QString, QString>> expected{
            {"me@vorlo.example,", "mailto:me@vorlo.example,"},
            {"www.vorlo.example.", "http://www.vorlo.example."},
            {"me@a.example,you@b.example", "mailto:me@a.example,you@b.example"},
            {"see:http://e.example", "see:http://e.example"},
            {"www.a.example", "http://www.a.example"},
            {"x@y", "mailto:x@y"},
            {"ftp.c.example", "ftp://ftp.c.example"}};
        QCOMPARE(links(doc), expected);
        const int at = doc.toPlainText().indexOf("www.a");
        QCOMPARE(formatAt(doc, at).underlineStyle(), QTextCharFormat::SingleUnderline);
        QCOMPARE(formatAt(doc, at).foreground().color(), QColor(Qt::blue));
        QVERIFY(!formatAt(doc, at - 3).hasProperty(QTextFormat::ForegroundBrush));

    }

    void aClickOpensALinkOnce()
    {
        LinkView f(kText);
        const auto link = f.link(QStringLiteral("www."));
        f.send(QEvent::MouseButtonPress, f.on(link));
        QCOMPARE(f.colourOf(link), URLTextView::pressedLinkColor());
        f.send(QEvent::MouseButtonRelease, f.on(link));
        QCOMPARE(f.opened, QList<QUrl>{QUrl(QStringLiteral("http://www.vorlo.example"))});

        // The second click of a double click opens nothing more and selects
        // nothing.
        f.send(QEvent::MouseButtonDblClick, f.on(link));
        f.send(QEvent::MouseButtonRelease, f.on(link));
        QVERIFY(f.opened.size() == 1 && !f.view.textCursor().hasSelection());

        // Released off the link, the press opens nothing; dragged back on, it
        // does.
        const auto mail = f.link(QStringLiteral("hello@"));
        const QPoint off = f.on(link) + QPoint(0, 60);
        for (const QPoint end : {off, f.on(mail) + QPoint(3, 0)}) {
            f.send(QEvent::MouseButtonPress, f.on(mail));
            f.send(QEvent::MouseMove, off);
            QCOMPARE(f.colourOf(mail), URLTextView::restingLinkColor());
            f.send(QEvent::MouseMove, end);
            f.send(QEvent::MouseButtonRelease, end);
        }
        QCOMPARE(f.opened.size(), 2);
        QCOMPARE(f.opened[1], QUrl(QStringLiteral("mailto:hello@vorlo.example")));

        // Past the end of the link's line or below the text, where the
        // nearest character is the link's, a press is a text press.
        const QRectF rect = f.view.rectsForRange(mail.start, mail.length)[0];
        for (const QPoint at : {QPoint(int(rect.right()) + 20, int(rect.center().y())), QPoint(int(rect.x()), 190)}) {
            f.send(QEvent::MouseButtonPress, at);
            f.send(QEvent::MouseButtonRelease, at);
        }
        QCOMPARE(f.opened.size(), 2);
    }

    // The window hidden during a press, or the release taken by another
    // window: the press ends without opening anything, so the link does not
    // stay pressed and the credits do not stay frozen.
    void aPressWhoseReleaseIsLostEnds()
    {
        LinkView f(kText);
        const auto link = f.link(QStringLiteral("www."));
        QSignalSpy tracking(&f.view, &URLTextView::linkTrackingChanged);
        f.send(QEvent::MouseButtonPress, f.on(link));
        f.view.hide();
        QVERIFY(!f.view.isTrackingLink());
        QCOMPARE(f.colourOf(link), URLTextView::restingLinkColor());
        QCOMPARE(tracking.size(), 2);
        QCOMPARE(tracking.last().first().toBool(), false);

        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        f.send(QEvent::MouseButtonPress, f.on(link));
        f.send(QEvent::MouseMove, f.on(link), Qt::NoButton);
        QVERIFY(!f.view.isTrackingLink());
        f.send(QEvent::MouseButtonRelease, f.on(link));
        QVERIFY(f.opened.isEmpty());
    }

    void rtfIsReadStrictly()
    {
        // Code page 1252, Unicode with its fallback skipped, and what writers
        // add: picture data with braces, unknown words, a line break, a NUL.
        QByteArray rtf = "{\\rtf1\\ansi caf\\'e9 \\'80 \\uc2\\u-10179\\'3f\\'3f\\u-8704?? {\\pict\\bin3 }}}}"
                         "\\unknownword12 end}\r\n";
        const auto doc = RtfReader::read(rtf.append('\0'));
        QVERIFY(doc);
        QCOMPARE(doc->toPlainText(), QString::fromUtf8("caf\u00e9 \u20ac \xF0\x9F\x98\x80 end"));

        // Anything malformed yields nothing, so the view keeps what it had.
        for (const QByteArray &bad :
             {QByteArray("Hello"), QByteArray("{\\rtf1 Hello {\\b world"), QByteArray("{\\rtf1 Hello\\'4"),
              QByteArray("{\\rtf1 Hello\\'zz}"), QByteArray("{\\rtf1 Hello} more"), QByteArray("{\\rtf1 caf\xc3\xa9}"),
              QByteArray("{\\rtf1 a\0b}", 11), QByteArray("{\\rtf1 {\\pict\\bin999 ab}}"),
              QByteArray("{\\rtf1\\fs99999999999 a}"), QByteArray("{\\rtf1\\u70000 a}"),
              QByteArray("{\\rtf1 ") + QByteArray(1000, '{') + QByteArray(1001, '}')})
            QVERIFY2(!RtfReader::read(bad), bad.left(40).constData());

        // Our credits read whole, and never pass for whole when cut short.
        for (const char *name : {"credits.rtf", "credits-fr.rtf"}) {
            QFile file(QStringLiteral(VORLO_RESOURCES_DIR "/") + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray credits = file.readAll();
            QVERIFY2(RtfReader::read(credits), name);
            for (qsizetype n = 0; n < credits.size() - 1; n += 7)
                QVERIFY(!RtfReader::read(credits.left(n)));
        }
    }
};

QTEST_MAIN(TestLinkText)
#include "tst_linktext.moc"
