#include "RtfReader.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {
QTextCharFormat formatAt(QTextDocument &doc, int position)
{
    QTextCursor cursor(&doc);
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}
}

class TestRtfReader : public QObject
{
    Q_OBJECT

private slots:
    void readsTextAndStyles()
    {
        const QByteArray rtf =
            "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl\\f0\\fswiss Helvetica;}\n"
            "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}\n"
            "{\\*\\expandedcolortbl;;}{\\info{\\title Hidden}}\n"
            "\\pard\\qc\\f0\\fs36 \\b Title\\b0\\par\n"
            "\\pard\\ql\\fs24 plain {\\i italic} {\\ul under}\\ulnone  {\\cf1 red} \\cf2 green\\cf0\\line "
            "caf\\'e9 \\'80 \\u8364? \\uc2\\u-10179\\'3f\\'3f\\u-8704?? end\\tab x\\par\\par last}";
        QString error;
        const auto doc = RtfReader::read(rtf, &error);
        QVERIFY2(doc, qPrintable(error));

        QCOMPARE(doc->blockCount(), 4);  // \\par\\par: an empty paragraph
        QCOMPARE(doc->begin().text(), QStringLiteral("Title"));
        QCOMPARE(doc->begin().blockFormat().alignment(), Qt::AlignHCenter);
        const QTextBlock second = doc->begin().next();
        QCOMPARE(second.blockFormat().alignment(), Qt::AlignLeft);
        QCOMPARE(second.text(),
                 QString::fromUtf8("plain italic under red green\u2028caf\u00e9 \u20ac \u20ac \xF0\x9F\x98\x80 end\tx"));
        QVERIFY(second.next().text().isEmpty());
        QCOMPARE(second.next().next().text(), QStringLiteral("last"));

        QVERIFY(formatAt(*doc, 0).fontWeight() == QFont::Bold);
        QCOMPARE(formatAt(*doc, 0).fontPointSize(), 18.0);
        const int p = second.position();
        QVERIFY(formatAt(*doc, p).fontWeight() == QFont::Normal);
        QCOMPARE(formatAt(*doc, p).fontPointSize(), 12.0);
        QVERIFY(formatAt(*doc, p + 6).fontItalic());
        QVERIFY(!formatAt(*doc, p + 12).fontItalic());
        QVERIFY(formatAt(*doc, p + 13).fontUnderline());
        QVERIFY(!formatAt(*doc, p + 19).fontUnderline());
        QCOMPARE(formatAt(*doc, p + 19).foreground().color(), QColor(255, 0, 0));
        QCOMPARE(formatAt(*doc, p + 23).foreground().color(), QColor(0, 128, 0));
        QVERIFY(!formatAt(*doc, p + 29).hasProperty(QTextFormat::ForegroundBrush));
    }

    void malformedInputYieldsNothing_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not rtf") << QByteArray("Hello, world");
        QTest::newRow("truncated") << QByteArray("{\\rtf1 Hello {\\b world");
        QTest::newRow("truncated in a word") << QByteArray("{\\rtf1 Hello\\");
        QTest::newRow("truncated escape") << QByteArray("{\\rtf1 Hello\\'4");
        QTest::newRow("bad escape") << QByteArray("{\\rtf1 Hello\\'zz}");
        QTest::newRow("extra closing brace") << QByteArray("{\\rtf1 Hello}} more");
        QTest::newRow("text after the end") << QByteArray("{\\rtf1 Hello} more");
        QTest::newRow("raw 8-bit") << QByteArray("{\\rtf1 caf\xc3\xa9}");
        QTest::newRow("NUL inside") << QByteArray("{\\rtf1 a\0b}", 11);
        QTest::newRow("bin past the end") << QByteArray("{\\rtf1 {\\pict\\bin999 ab}}");
        QTest::newRow("huge parameter") << QByteArray("{\\rtf1\\fs99999999999 a}");
        QTest::newRow("huge \\u") << QByteArray("{\\rtf1\\u70000 a}");
        QTest::newRow("too deep") << QByteArray("{\\rtf1 ") + QByteArray(1000, '{') + QByteArray(1001, '}');
    }

    void malformedInputYieldsNothing()
    {
        QFETCH(QByteArray, rtf);
        QVERIFY(!RtfReader::read(rtf));
    }

    void toleratesWhatWritersAdd()
    {
        // A trailing NUL and line break, \bin data (braces included) skipped
        // inside a picture, unknown control words with their delimiter.
        QByteArray rtf("{\\rtf1\\ansi\\deff0\\viewkind4 A{\\pict\\bin3 }}}}B\\unknownword12 C}\r\n");
        rtf.append('\0');
        const auto doc = RtfReader::read(rtf);
        QVERIFY(doc);
        QCOMPARE(doc->toPlainText(), QStringLiteral("ABC"));
    }

    void survivesDamagedCredits()
    {
        QFile file(QStringLiteral(VORLO_CREDITS_FILE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray credits = file.readAll();
        // Every truncation, and random byte damage: never a crash, and a
        // truncated file is never taken for a whole one.
        for (qsizetype n = 0; n < credits.size() - 1; n += 7)
            QVERIFY(!RtfReader::read(credits.left(n)));
        QRandomGenerator random(6);
        for (int round = 0; round < 300; ++round) {
            QByteArray damaged = credits;
            for (int k = 0; k < 4; ++k)
                damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
            RtfReader::read(damaged);
        }
        QByteArray binary(4096, '\0');
        for (char &c : binary)
            c = char(random.bounded(256));
        QVERIFY(!RtfReader::read(binary));
        QVERIFY(!RtfReader::read(QByteArray("{\\rtf1") + binary));
    }
};

QTEST_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
