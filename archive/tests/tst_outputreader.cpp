#include "OutputReader.h"

#include <QTest>

using Answer = OutputReader::PromptAnswer;

namespace {
QByteArray mark(const char *three)
{
    return QByteArray("\b\b\b\b") + three + '%';
}

// Feeds `text` cut at every position in turn and reports what the run saw.
struct SplitResult
{
    int prompts = 0;
    bool allOk = false;
    int barValue = 0;
};

SplitResult extractionCutAt(const QByteArray &text, qsizetype cut)
{
    OutputReader reader;
    reader.startExtraction();
    SplitResult result;
    for (const QByteArray &piece : {text.left(cut), text.mid(cut)})
        result.prompts += reader.readPiece(piece).passwordPrompt ? 1 : 0;
    result.allOk = reader.allOk();
    result.barValue = reader.barValue();
    return result;
}
} // namespace

class TestOutputReader : public QObject
{
    Q_OBJECT

private slots:
    void listingBecomesEntries();
    void listingDropsThePromptAndSeesDamage();
    void markersIgnoreCaseAndNeedTheirExactText();
    void markersSplitBetweenPiecesCountOnce();
    void progressMarksMoveTheBar();
    void rememberedPasswordIsSentOnce();
};

void TestOutputReader::listingBecomesEntries()
{
    OutputReader reader;
    reader.startListing();
    reader.readPiece("a.txt\ndir/b");
    reader.readPiece(QByteArray("\xc3", 1)); // "é" cut in two by the pipe
    reader.readPiece(QByteArray("\xa9.txt\n"));
    QCOMPARE(reader.finishListing(),
             (QStringList{QStringLiteral("a.txt"), QStringLiteral("dir/b\u00e9.txt"), QString()}));
    QCOMPARE(reader.run(), OutputReader::Run::None);

    // Blank lines and carriage returns are kept as they came.
    QCOMPARE(OutputReader::splitListing(QStringLiteral("x\n\ny\r\n")),
             (QStringList{QStringLiteral("x"), QString(), QStringLiteral("y\r"), QString()}));

    // The listing is decoded line by line: every line reads as it does in
    // the whole text decoded at once, broken UTF-8 next to a line feed and
    // byte order marks (only the text's first is dropped) included.
    const QList<QByteArray> listings = {
        QByteArray("\xef\xbb\xbf" "first\n\xef\xbb\xbf" "second\n\xef\xbb\xbf\xef\xbb\xbf" "third"),
        QByteArray("cut\xe2\x82\nnext\xf0\x9f\n\x82\xac\n\xff\xc0\x80/\n"),
        QByteArray("//twice//slashed/\n/\n\n\xed\xa0\x80/x\r\n\xc3"),
    };
    for (const QByteArray &listing : listings) {
        OutputReader whole;
        whole.startListing();
        whole.readPiece(listing);
        QCOMPARE(whole.finishListing(), OutputReader::splitListing(QString::fromUtf8(listing)));
    }
}

void TestOutputReader::listingDropsThePromptAndSeesDamage()
{
    OutputReader reader;
    reader.startListing();
    // The helper asks only when names are hidden, so whatever came before
    // the prompt is dialogue, and so is the rest of the prompt's line.
    QVERIFY(!reader.readPiece("one\n").passwordPrompt);
    QVERIFY(reader.readPiece("lost\nENTER PASSWORD for x.rar: ").passwordPrompt);
    reader.readPiece("\ntwo\n");
    QCOMPARE(reader.finishListing(), (QStringList{QStringLiteral("two"), QString()}));

    // A wrong answer and a right one, the dialogue cut anywhere by the pipe:
    // only the entries after the accepted answer are listed.
    const QByteArray dialogue = "Enter password (will not be echoed) for x.rar: \n"
                                "The specified password is incorrect.\n"
                                "Enter password (will not be echoed) for x.rar: \n"
                                "a/b.txt\nc.txt\n";
    for (qsizetype cut = 1; cut < dialogue.size(); ++cut) {
        reader.startListing();
        int prompts = reader.readPiece(dialogue.first(cut)).passwordPrompt ? 1 : 0;
        prompts += reader.readPiece(dialogue.sliced(cut)).passwordPrompt ? 1 : 0;
        QVERIFY2(prompts >= 1, qPrintable(QString::number(cut)));
        QCOMPARE(reader.finishListing(),
                 (QStringList{QStringLiteral("a/b.txt"), QStringLiteral("c.txt"), QString()}));
    }

    // Refused for good: the helper's failure lines are no entries.
    reader.startListing();
    QVERIFY(reader.readPiece("Enter password (will not be echoed) for x.rar: ").passwordPrompt);
    reader.readPiece("\nThe specified password is incorrect.\n");
    reader.readPiece("Wrong password for x.rar\n");
    QCOMPARE(reader.finishListing(), QStringList());

    // Damage anywhere, even split or beside entries, means no entry list.
    reader.startListing();
    reader.readPiece("good\nUnexpected end of ar");
    QVERIFY(!reader.damaged());
    reader.readPiece("chive\n");
    QVERIFY(reader.damaged());
    QCOMPARE(reader.finishListing(), QStringList());

    // A new listing forgets the old damage.
    reader.startListing();
    QVERIFY(!reader.damaged());
}

void TestOutputReader::markersIgnoreCaseAndNeedTheirExactText()
{
    OutputReader reader;
    reader.startExtraction();
    QVERIFY(reader.readPiece("enter PASSWORD:").passwordPrompt);
    QVERIFY(!reader.readPiece("Password:").passwordPrompt);
    reader.readPiece("All OK\n**All OK****\n");
    QVERIFY(!reader.allOk());
    reader.readPiece("***all ok****\n");
    QVERIFY(reader.allOk());

    // A new extraction starts without the old success.
    reader.startExtraction();
    QVERIFY(!reader.allOk());
    QCOMPARE(OutputReader::indexOfIgnoringCase("xxEXTRACTING", "extracting"), 2);
    QCOMPARE(OutputReader::indexOfIgnoringCase("Extractin", "extracting"), -1);
}

void TestOutputReader::markersSplitBetweenPiecesCountOnce()
{
    const QByteArray text = QByteArray("Extracting from a.rar\nEnter password (will not be echoed): ")
                            + "Extracting  f.bin  " + mark(" 45") + "  OK \n***All OK****\n";
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        const SplitResult result = extractionCutAt(text, cut);
        QVERIFY2(result.prompts == 1, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        QVERIFY2(result.allOk, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        QVERIFY2(result.barValue == 45, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }

    // A marker wholly inside the carried bytes is not seen a second time,
    // even when the next pieces are tiny.
    OutputReader reader;
    reader.startExtraction();
    int prompts = 0;
    for (const char *piece : {"Enter password", "x", "y", ": "})
        prompts += reader.readPiece(piece).passwordPrompt ? 1 : 0;
    QCOMPARE(prompts, 1);
}

void TestOutputReader::progressMarksMoveTheBar()
{
    OutputReader reader;
    reader.startExtraction();
    QCOMPARE(reader.barValue(), 0);
    QVERIFY(!reader.barDeterminate());

    reader.readPiece(mark("  0"));
    reader.readPiece(mark("  1"));
    QCOMPARE(reader.barValue(), 1);
    QVERIFY(!reader.barDeterminate());

    QVERIFY(reader.readPiece(mark(" 45")).barChanged);
    QVERIFY(reader.barDeterminate());
    QCOMPARE(reader.barValue(), 45);

    QVERIFY(!reader.readPiece(mark(" 30")).barChanged); // never backwards
    QCOMPARE(reader.barValue(), 45);

    reader.readPiece("Extracting  next.bin ");
    QCOMPARE(reader.barValue(), 0);
    QVERIFY(reader.barDeterminate());
    reader.readPiece(mark(" 50"));
    QCOMPARE(reader.barValue(), 50);

    // "Extracting" and a mark in one piece: the mark wins. Only the first
    // mark of a piece counts; a mark without digits reads as 0.
    reader.readPiece(QByteArray("Extracting  z ") + mark(" 20") + mark(" 90"));
    QCOMPARE(reader.barValue(), 20);
    reader.readPiece(mark("\b  "));
    QCOMPARE(reader.barValue(), 20);

    // A mark whose digits come with the next piece is read then.
    reader.readPiece("\b\b\b\b ");
    QCOMPARE(reader.barValue(), 20);
    reader.readPiece("77%");
    QCOMPARE(reader.barValue(), 77);
    reader.readPiece(mark("100") + mark("999"));
    QCOMPARE(reader.barValue(), 100);

    // A listing run moves no bar.
    reader.startListing();
    reader.readPiece(mark(" 60"));
    QCOMPARE(reader.barValue(), 0);
}

void TestOutputReader::rememberedPasswordIsSentOnce()
{
    OutputReader reader;
    reader.startListing();
    QVERIFY(reader.readPiece("Enter password: ").passwordPrompt);
    // The listing run always asks, even with a password in the field.
    QCOMPARE(reader.answerPrompt(QStringLiteral("secret")), Answer::ShowPasswordWindow);
    reader.finishListing();

    // The extraction sends what the field holds; the document then empties
    // the field, so the second prompt asks again.
    reader.startExtraction();
    QVERIFY(reader.readPiece("Enter password: ").passwordPrompt);
    QCOMPARE(reader.answerPrompt(QStringLiteral("secret")), Answer::SendRememberedPassword);
    QVERIFY(reader.readPiece("Enter password: ").passwordPrompt);
    QCOMPARE(reader.answerPrompt(QString()), Answer::ShowPasswordWindow);
}

QTEST_GUILESS_MAIN(TestOutputReader)
#include "tst_outputreader.moc"
