#include "EntryRows.h"
#include "OutputReader.h"
#include "StatusLine.h"

#include <QTest>

using Kind = EntryRow::Kind;

namespace {
EntryRow file(const char *name) { return {QString::fromUtf8(name), Kind::File}; }
EntryRow folder(const char *name) { return {QString::fromUtf8(name), Kind::Folder}; }
EntryRow up() { return {QStringLiteral(".."), Kind::Parent}; }
} // namespace

class TestEntryRows : public QObject
{
    Q_OBJECT

private slots:
    void workedExampleLevelByLevel();
    void folderEntryBeforeOrAfterContents();
    void duplicatesAndSimilarNames();
    void statusCountsItemsNotTheParentRow();
};

void TestEntryRows::workedExampleLevelByLevel()
{
    const QStringList entries = {"docs", "readme.txt", "docs/guide.pdf", "docs/img/logo.png",
                                 "docs/img", "src/main.c", "src", "notes", ""};

    QCOMPARE(EntryRows::build(entries, 0, QString()),
             (QList<EntryRow>{file("readme.txt"), folder("docs"), folder("src"), file("notes")}));
    QCOMPARE(EntryRows::build(entries, 1, QStringLiteral("docs")),
             (QList<EntryRow>{file("guide.pdf"), folder("img"), up()}));
    QCOMPARE(EntryRows::build(entries, 2, QStringLiteral("docs/img")),
             (QList<EntryRow>{file("logo.png"), up()}));
    // A folder listed only by its own entry holds nothing.
    QCOMPARE(EntryRows::build(entries, 1, QStringLiteral("notes")), QList<EntryRow>{up()});
    // Nothing at all yet: no rows, not even from the empty line.
    QCOMPARE(EntryRows::build({}, 0, QString()), QList<EntryRow>{});
    QCOMPARE(EntryRows::build(QStringList{""}, 0, QString()), QList<EntryRow>{});
}

void TestEntryRows::folderEntryBeforeOrAfterContents()
{
    // Own entry first: the file row is dropped and the folder appended when
    // its first inner entry shows up.
    QCOMPARE(EntryRows::build(QStringList{"a", "b.txt", "a/x"}, 0, QString()),
             (QList<EntryRow>{file("b.txt"), folder("a")}));
    // Own entry last: the folder keeps the place of its first inner entry.
    QCOMPARE(EntryRows::build(QStringList{"a/x", "b.txt", "a"}, 0, QString()),
             (QList<EntryRow>{folder("a"), file("b.txt")}));
    // The same at a deeper level, with the swap after a later sibling.
    QCOMPARE(EntryRows::build(QStringList{"p/a", "p/c", "p/b", "p/a/x", "p/c/y"}, 1, QStringLiteral("p")),
             (QList<EntryRow>{file("b"), folder("a"), folder("c"), up()}));
}

void TestEntryRows::duplicatesAndSimilarNames()
{
    QCOMPARE(EntryRows::build(QStringList{"x.txt", "x.txt", "d/a", "d/a", "x.txt"}, 0, QString()),
             (QList<EntryRow>{file("x.txt"), folder("d")}));

    const QStringList entries = {"foobar/inner", "foo/a", "foo", "foobar", "foo.txt", "foo/b/c"};
    QCOMPARE(EntryRows::build(entries, 1, QStringLiteral("foo")),
             (QList<EntryRow>{file("a"), folder("b"), up()}));
    QCOMPARE(EntryRows::build(entries, 1, QStringLiteral("foobar")),
             (QList<EntryRow>{file("inner"), up()}));

    // Names are compared exactly; a name that ends in "*" or reads ".." is
    // still a plain file and does not pass for a folder or the parent row.
    QCOMPARE(EntryRows::build(QStringList{"Read", "read", "star*", "..", "star/x"}, 0, QString()),
             (QList<EntryRow>{file("Read"), file("read"), file("star*"), file(".."), folder("star")}));

    // Untidy slashes from the listing are cleaned before the rows are built.
    QCOMPARE(EntryRows::build(
                 OutputReader::splitListing(QStringLiteral("/top/a\nshelf/\nshelf//b\nc\r\n")), 0, QString()),
             (QList<EntryRow>{folder("top"), folder("shelf"), file("c\r")}));
}

void TestEntryRows::statusCountsItemsNotTheParentRow()
{
    QCOMPARE(EntryRows::itemCount({file("a"), up()}), 1);
    QCOMPARE(StatusLine::text(0), QStringLiteral("0 items"));
}

QTEST_GUILESS_MAIN(TestEntryRows)
#include "tst_entryrows.moc"
