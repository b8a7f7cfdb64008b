#include "RarListing.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QtTest>

using namespace rarcontainer;

class ListingTest : public QObject {
    Q_OBJECT
private slots:
    // Crafted archives: an end block without its flags field is still an end.
    void lenientAboutEndBlocksStrictAboutHeaders()
    {
        QCOMPARE(int(listArchive(fixtureNamed("test_read_format_rar5_loop_bug.rar").paths(), nullptr).status), int(Status::Ok));
        Listing bad = listArchive(fixtureNamed("test_read_format_rar5_truncated_huff.rar").paths(), nullptr);
        QCOMPARE(int(bad.status), int(Status::Damaged));
    }

};

static RegisterTest<ListingTest> registration;
#include "ListingTest.moc"
