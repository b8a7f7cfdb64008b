// The helper's output, as recorded transcripts cut by the pipe anywhere.
#include "OutputReader.h"

#include <QTest>

namespace {
const QByteArray prompt = "Enter password (will not be echoed) for x.rar: ";
const QByteArray refusal = "\nThe specified password is incorrect.\n" + prompt;

QByteArray mark(const char *three)
{
    return QByteArray("\b\b\b\b") + three + '%';
}
} // namespace

class TestOutputReader : public QObject
{
    Q_OBJECT

private slots:
    void listingBecomesEntries();
    void listingDropsTheDialogue();
    void onlyWholeLinesAreMarkers();
    void markersSplitBetweenPieces();
    void progressMarksMoveTheBar();
    void entryLinesNameTheEntry();
    void listingIsBounded();
};

void TestOutputReader::listingBecomesEntries()
{
    // Decoded line by line, whatever the pipe cut (a character in two
    // included), every line reads as in the whole text decoded at once:
    // broken UTF-8 next to a line feed, byte order marks (only the text's
    // first is dropped), blank lines, carriage returns, stray slashes.
    const QList<QByteArray> listings = {
        QByteArray("a.txt\ndir/b\xc3\xa9.txt\n"),
        QByteArray("\xef\xbb\xbf" "first\n\xef\xbb\xbf" "second\n\xef\xbb\xbf\xef\xbb\xbf" "third"),
        QByteArray("cut\xe2\x82\nnext\xf0\x9f\n\x82\xac\n\xff\xc0\x80/\n"),
        QByteArray("//twice//slashed/\n/\n\n\xed\xa0\x80/x\r\n\xc3"),
    };
    OutputReader reader;
    for (const QByteArray &listing : listings) {
        for (qsizetype cut = 0; cut <= listing.size(); ++cut) {
            reader.startListing();
            reader.readPiece(listing.first(cut));
            reader.readPiece(listing.sliced(cut));
            QCOMPARE(reader.finishListing(), OutputReader::splitListing(QString::fromUtf8(listing)));
        }
    }
}

void TestOutputReader::listingDropsTheDialogue()
{
    // The helper asks only when names are hidden, so whatever came before
    // the prompt is dialogue, and so is the rest of the prompt's line. A
    // wrong answer and a right one, the refusal cut anywhere by the pipe:
    // the prompt is seen once its line is whole, and only the entries after
    // the accepted answer are listed.
    OutputReader reader;
    for (qsizetype cut = 1; cut < refusal.size(); ++cut) {
        reader.startListing();
        QVERIFY(!reader.readPiece("lost\n").atPromptLine);
        QVERIFY(reader.readPiece(prompt).atPromptLine);
        reader.promptConfirmed();
        QVERIFY(!reader.readPiece(refusal.first(cut)).atPromptLine);
        QCOMPARE(reader.passwordRefused(), cut >= refusal.indexOf(".\n") + 2);
        QVERIFY(reader.readPiece(refusal.sliced(cut)).atPromptLine);
        reader.promptConfirmed();
        QVERIFY(!reader.passwordRefused());
        reader.readPiece("\na/b.txt\n");
        reader.readPiece("c.txt\n");
        QCOMPARE(reader.finishListing(), (QStringList{"a/b.txt", "c.txt", QString()}));
    }
}

void TestOutputReader::onlyWholeLinesAreMarkers()
{
    // A name that reads like the prompt is one only at the very end.
    OutputReader reader;
    reader.startListing();
    QVERIFY(!reader.readPiece(prompt.chopped(1)).atPromptLine);
    QVERIFY(reader.readPiece(" ").atPromptLine);
    QVERIFY(!reader.readPiece("\n***All OK****\n").atPromptLine);
    QCOMPARE(reader.finishListing().size(), 3);

    // Names that hold the markers, in extraction lines.
    reader.startExtraction();
    reader.readPiece("Extracting from ***All OK****.rar\nExtracting  ***All OK****  OK \n***all ok****\n"
                     "**All OK****\n ***All OK****\n***All OK**** \nUnexpected end of archive.txt\n");
    QVERIFY(!reader.allOkLine() && !reader.damagedLine());
    reader.readPiece("Unexpected end of archive\n");
    QVERIFY(reader.damagedLine());
    QVERIFY(!reader.readPiece("Extracting  Enter password (will not be echoed) for x.rar: ").atPromptLine);
    reader.readPiece("\n***All OK****");
    QVERIFY(!reader.allOkLine()); // not until its line ends
    reader.readPiece("\n");
    QVERIFY(reader.allOkLine());

    // A new run forgets the old one's lines.
    reader.startExtraction();
    QVERIFY(!reader.allOkLine() && !reader.damagedLine());
}

void TestOutputReader::markersSplitBetweenPieces()
{
    const QByteArray text = "Extracting from a.rar\n" + prompt + "\nExtracting  f.bin  " + mark(" 45")
                            + "  OK \n***All OK****\n";
    const qsizetype promptEnd = text.indexOf(prompt) + prompt.size();
    // Cut once anywhere, then one byte at a time.
    for (qsizetype cut = 0; cut <= text.size() + 1; ++cut) {
        OutputReader reader;
        reader.startExtraction();
        QList<QByteArrayView> pieces;
        if (cut <= text.size())
            pieces = {QByteArrayView(text).first(cut), QByteArrayView(text).sliced(cut)};
        else
            for (qsizetype at = 0; at < text.size(); ++at)
                pieces << QByteArrayView(text).sliced(at, 1);
        int prompts = 0;
        for (QByteArrayView piece : pieces)
            prompts += reader.readPiece(piece).atPromptLine ? 1 : 0;
        const QByteArray where = "cut at " + QByteArray::number(cut);
        QVERIFY2(prompts == (cut == promptEnd || cut > text.size() ? 1 : 0), where);
        QVERIFY2(reader.allOkLine(), where);
        QVERIFY2(reader.barValue() == 45, where);
    }
}

void TestOutputReader::progressMarksMoveTheBar()
{
    OutputReader reader;
    reader.startExtraction();
    reader.readPiece(mark("  0") + mark("  1"));
    QVERIFY(!reader.barDeterminate());
    QVERIFY(reader.readPiece(mark(" 45")).barChanged);
    QVERIFY(reader.barDeterminate());
    QVERIFY(!reader.readPiece(mark(" 30")).barChanged); // never backwards
    QCOMPARE(reader.barValue(), 45);

    // The next entry starts at 0, unless a mark follows in the same piece.
    reader.readPiece("  OK \nExtracting  next.bin ");
    QCOMPARE(reader.barValue(), 0);
    reader.readPiece("\nExtracting  z " + mark(" 20"));
    QCOMPARE(reader.barValue(), 20);
    reader.readPiece(mark("999"));
    QCOMPARE(reader.barValue(), 100);
    // "Extracting" anywhere but at a line's start is part of a name.
    reader.readPiece(" OK \nmy Extracting notes.txt ");
    QCOMPARE(reader.barValue(), 100);
}

void TestOutputReader::entryLinesNameTheEntry()
{
    // What the helper prints for two entries, cut anywhere by the pipe: the
    // name is known once its first mark arrives, whole, and only from an
    // entry's line (the word at a line's start, then two spaces).
    const QByteArray text = "Extracting from a.rar\n"
                            "Extracting  dir/caf\xc3\xa9 <b>x</b>.txt" + mark("  0") + mark(" 40") + "  OK\n"
                            "my Extracting  notes.txt\n"
                            "Extracting   spaced" + mark(" 90") + "  OK\n"
                            "Extracting from here\n";
    const QString first = QStringLiteral("dir/caf\u00e9 <b>x</b>.txt");
    const qsizetype firstKnown = text.indexOf('\b');
    const qsizetype secondKnown = text.indexOf('\b', text.indexOf(" spaced"));
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        OutputReader reader;
        reader.startExtraction();
        QCOMPARE(reader.readPiece(text.left(cut)).entryChanged, cut > firstKnown);
        QCOMPARE(reader.currentEntry(), cut > secondKnown ? " spaced"
                                        : cut > firstKnown ? first : QString());
        reader.readPiece(text.mid(cut));
        QCOMPARE(reader.currentEntry(), " spaced");
    }

    // A name longer than any the helper prints is cut at the bound.
    OutputReader reader;
    reader.startExtraction();
    const QByteArray huge(OutputReader::kMaxEntryNameBytes, 'n');
    reader.readPiece("Extracting  " + huge);
    reader.readPiece(huge + mark(" 10"));
    QCOMPARE(reader.currentEntry(), QString::fromLatin1(huge));
    QCOMPARE(reader.barValue(), 10);
}

void TestOutputReader::listingIsBounded()
{
    // Too many names, short ones: said once, nothing kept.
    OutputReader reader;
    reader.startListing();
    const QByteArray lines = QByteArray("a\n").repeated(100000);
    int reported = 0;
    for (qsizetype listed = 0; listed <= OutputReader::kMaxListingEntries + 100000; listed += 100000)
        reported += reader.readPiece(lines).listingTooLarge ? 1 : 0;
    QCOMPARE(reported, 1);
    QCOMPARE(reader.finishListing(), QStringList());

    // Too much text, in names of a megabyte.
    reader.startListing();
    const QByteArray name = QByteArray(1 << 20, 'n') + '\n';
    qsizetype fed = 0;
    while (!reader.listingTooLarge() && fed <= OutputReader::kMaxListingBytes + name.size()) {
        reader.readPiece(name);
        fed += name.size();
    }
    QVERIFY(reader.listingTooLarge());
    QVERIFY(fed > OutputReader::kMaxListingBytes);
    QCOMPARE(reader.finishListing(), QStringList());

    // Just within the bounds.
    reader.startListing();
    reader.readPiece(QByteArray("b\n").repeated(OutputReader::kMaxListingEntries));
    QVERIFY(!reader.listingTooLarge());
    QCOMPARE(reader.finishListing().size(), OutputReader::kMaxListingEntries + 1);
}

QTEST_GUILESS_MAIN(TestOutputReader)
#include "tst_outputreader.moc"
