#include "URLMutableAttributedString.h"

#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

namespace {
QTextCharFormat formatAt(QTextDocument &doc, int position)
{
    QTextCursor cursor(&doc);
    cursor.setPosition(position + 1);  // the format left of the cursor
    return cursor.charFormat();
}

// [start, end) of every link, with its href, in document order.
QList<std::tuple<int, int, QString>> links(QTextDocument &doc)
{
    QList<std::tuple<int, int, QString>> found;
    const int length = doc.characterCount() - 1;
    for (int i = 0; i < length;) {
        const QTextCharFormat f = formatAt(doc, i);
        if (!f.isAnchor()) {
            ++i;
            continue;
        }
        int j = i;
        while (j < length && formatAt(doc, j).anchorHref() == f.anchorHref())
            ++j;
        found.append({i, j, f.anchorHref()});
        i = j;
    }
    return found;
}
}

class TestUrlDetection : public QObject
{
    Q_OBJECT

private slots:
    void classification_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("address");
        QTest::newRow("scheme") << "https://vorlo.example/a?b=c" << "https://vorlo.example/a?b=c";
        QTest::newRow(":// inside a word") << "see:http://x.example" << "see:http://x.example";
        QTest::newRow(":// wins over www.") << "www.a.example/?u=ftp://b" << "www.a.example/?u=ftp://b";
        QTest::newRow("www.") << "www.vorlo.example" << "http://www.vorlo.example";
        QTest::newRow("www. before @") << "www.a@b.example" << "http://www.a@b.example";
        QTest::newRow("ftp.") << "ftp.vorlo.example" << "ftp://ftp.vorlo.example";
        QTest::newRow("mail") << "hello@vorlo.example" << "mailto:hello@vorlo.example";
        QTest::newRow("lone @") << "@" << "mailto:@";
        QTest::newRow("two @") << "a@b@c" << "mailto:a@b@c";
        QTest::newRow("WWW. is case-sensitive") << "WWW.vorlo.example" << "";
        QTest::newRow("Ftp. is case-sensitive") << "Ftp.vorlo.example" << "";
        QTest::newRow("bracket before www.") << "(www.vorlo.example)" << "";
        QTest::newRow("bracket, www. and @") << "(www.a@b)" << "mailto:(www.a@b)";
        QTest::newRow("www. not at the start") << "xwww.vorlo.example" << "";
        QTest::newRow("single slash") << "http:/x" << "";
    }

    void classification()
    {
        QFETCH(QString, word);
        QFETCH(QString, address);
        QCOMPARE(addressForWord(word), address);
    }

    void linksCoverWholeWordsWithPunctuation()
    {
        QTextDocument doc;
        doc.setPlainText(QStringLiteral(
            "Write to me@vorlo.example, or see www.vorlo.example. "
            "Both me@a.example,you@b.example end here."));
        detectURLs(&doc, Qt::blue);

        const auto found = links(doc);
        QCOMPARE(found.size(), 3);
        QCOMPARE(found[0], std::make_tuple(9, 26, QStringLiteral("mailto:me@vorlo.example,")));
        QCOMPARE(found[1], std::make_tuple(34, 52, QStringLiteral("http://www.vorlo.example.")));
        // Two addresses joined by a comma are one word and one link.
        QCOMPARE(found[2], std::make_tuple(58, 84, QStringLiteral("mailto:me@a.example,you@b.example")));

        const QTextCharFormat link = formatAt(doc, 40);
        QCOMPARE(link.underlineStyle(), QTextCharFormat::SingleUnderline);
        QCOMPARE(link.foreground().color(), QColor(Qt::blue));
        QCOMPARE(doc.toPlainText().left(9), QStringLiteral("Write to "));
    }

    void textOutsideLinksKeepsItsFormat()
    {
        QTextDocument doc;
        doc.setHtml(QStringLiteral(
            "<p><b>Bold www.bold.example</b> <i style='color:#00aa00'>green</i> "
            "<a href='http://old.example'>older</a> plain</p>"));
        const int length = doc.characterCount() - 1;
        QList<QTextCharFormat> before;
        for (int i = 0; i < length; ++i)
            before.append(formatAt(doc, i));

        detectURLs(&doc, Qt::red);

        const auto found = links(doc);
        QCOMPARE(found.size(), 2);
        QCOMPARE(std::get<2>(found[0]), QStringLiteral("http://www.bold.example"));
        QCOMPARE(std::get<2>(found[1]), QStringLiteral("http://old.example"));  // kept
        for (int i = 0; i < length; ++i) {
            const QTextCharFormat after = formatAt(doc, i);
            if (i >= 5 && i < 21) {  // the new link: merged, not replaced
                QCOMPARE(after.fontWeight(), int(QFont::Bold));
                QCOMPARE(after.foreground().color(), QColor(Qt::red));
                QVERIFY(after.fontUnderline());
            } else {
                QVERIFY2(after == before[i], qPrintable(QStringLiteral("format changed at %1").arg(i)));
            }
        }
    }

    void rangesCountUtf16UnitsAndAllSeparators()
    {
        // Characters beyond the BMP take two units; a no-break space, a line
        // separator and a paragraph end all split words.
        QTextDocument doc;
        QTextCursor cursor(&doc);
        cursor.insertText(QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9D\x84\x9E www.a.example"));
        cursor.insertText(QStringLiteral("\u00A0www.b.example\u2028x@y"));
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("\u3000ftp.c.example"));
        detectURLs(&doc, Qt::blue);

        const auto found = links(doc);
        QCOMPARE(found.size(), 4);
        QCOMPARE(std::get<0>(found[0]), 5);
        QCOMPARE(std::get<1>(found[0]), 18);
        QCOMPARE(std::get<0>(found[1]), 19);
        QCOMPARE(std::get<1>(found[1]), 32);
        QCOMPARE(std::get<2>(found[2]), QStringLiteral("mailto:x@y"));
        QCOMPARE(std::get<0>(found[3]), 38);
        QCOMPARE(std::get<2>(found[3]), QStringLiteral("ftp://ftp.c.example"));
    }

    void malformedAddressesGetNothing()
    {
        QTextDocument doc;
        doc.setPlainText(QStringLiteral("http://[::1 bad%zz@x http://ok.example"));
        detectURLs(&doc, Qt::blue);
        const auto found = links(doc);
        QCOMPARE(found.size(), 1);
        QCOMPARE(std::get<2>(found[0]), QStringLiteral("http://ok.example"));
        QVERIFY(!formatAt(doc, 14).fontUnderline());
        QVERIFY(!formatAt(doc, 14).hasProperty(QTextFormat::ForegroundBrush));
    }

    void secondRunOnlyRecolours()
    {
        QTextDocument doc;
        doc.setPlainText(QStringLiteral("a www.vorlo.example b x@y"));
        detectURLs(&doc, Qt::blue);
        const auto first = links(doc);
        detectURLs(&doc, Qt::darkGreen);
        QCOMPARE(links(doc), first);
        QCOMPARE(formatAt(doc, 3).foreground().color(), QColor(Qt::darkGreen));
        QVERIFY(!formatAt(doc, 0).hasProperty(QTextFormat::ForegroundBrush));
    }
};

QTEST_MAIN(TestUrlDetection)
#include "tst_urldetection.moc"
