#include "CurlOutput.h"
#include "DownloadLink.h"
#include "LeadingNumber.h"
#include "UpdateList.h"

#include <QTest>
#include <climits>

namespace {
QByteArray plist(const QByteArray &dictionaryBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>"
           + dictionaryBody + "</dict></plist>\n";
}

const QByteArray version = "<key>lastVersion</key><string>2.0</string>";
const QByteArray goodLink = "<key>link</key><string>https://example.org/files/Vorlo-2.0.tar.gz</string>";
}

class TestUpdatePieces : public QObject
{
    Q_OBJECT

private slots:
    void readsTheListAndSkipsMistypedValues()
    {
        const QByteArray xml = plist("<key>lastVersion</key><string>2.0 beta</string>"
                                     "<key>dateSortie</key><integer>20260612</integer>"
                                     "<key>tailleTotale</key><string>  12.5 MB</string>"
                                     "<key>notes</key><array><string>Faster &amp; safer</string><integer>2</integer>"
                                     "<dict/><string></string><string>Ünïcode ✓</string></array>"
                                     "<key>notesFr</key><array><string>Français</string></array>" + goodLink);
        const auto list = UpdateList::fromXml(xml, "notes");
        QVERIFY(list);
        QCOMPARE(list->lastVersion, QString("2.0 beta"));
        QCOMPARE(list->dateSortie, QString());
        QCOMPARE(list->totalSize(), 12.5);
        QCOMPARE(list->link, QString("https://example.org/files/Vorlo-2.0.tar.gz"));
        QCOMPARE(list->notes, QStringList({"Faster & safer", "", "Ünïcode ✓"}));
        QCOMPARE(UpdateList::fromXml(xml, "notesFr")->notes, QStringList{"Français"});
        QCOMPARE(UpdateList::fromXml(xml, "notesDe")->notes, QStringList{});
    }

    void refusesListsThatCannotLeadToAnUpdate_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("html error page") << QByteArray("<html><body>404 Not Found</body></html>");
        QTest::newRow("truncated") << plist(version + goodLink).chopped(30);
        QTest::newRow("binary noise") << QByteArray("bplist00\xd1\x01\x02\x00\xff\xfe", 14);
        QTest::newRow("array root") << QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                                  "<string>2.0</string></array></plist>");
        QTest::newRow("no version") << plist(goodLink);
        QTest::newRow("version not a string") << plist("<key>lastVersion</key><real>2.0</real>" + goodLink);
        QTest::newRow("no link") << plist(version);
        QTest::newRow("link is an option") << plist(version + "<key>link</key><string>-o/home/u/.bashrc</string>");
        QTest::newRow("link not a string") << plist(version + "<key>link</key><array/>");
    }

    void refusesListsThatCannotLeadToAnUpdate()
    {
        QFETCH(QByteArray, xml);
        QVERIFY(!UpdateList::fromXml(xml, "notes"));
    }

    void acceptsOnlyPlainWebAddresses()
    {
        // Anything else could reach curl as an option, a glob, a second
        // address or a local file.
        for (const char *link : {"https://example.org/Vorlo-2.0.tar.gz", "http://127.0.0.1:8765/get?file=v2&x=%20",
                                 "HTTPS://example.org/v2", "http://[::1]:8080/v2.tar.gz"})
            QVERIFY2(DownloadLink::isAcceptable(link), link);
        for (const char *link : {"", "files/v2.tar.gz", "example.org/v2.tar.gz", "ftp://example.org/v2.tar.gz",
                                 "file:///etc/passwd", "http:///v2.tar.gz", "-K/tmp/evil", " http://example.org/v2",
                                 "http://example.org/v 2", "http://example.org/v2\n-o/tmp/x",
                                 "http://example.org/{a,b}.tar.gz", "http://example.org/part[1-9999].bin",
                                 "http://example.org/v2\u00e9"})
            QVERIFY2(!DownloadLink::isAcceptable(QString::fromUtf8(link)), link);
    }

    void proposesABareFileName()
    {
        const QList<QPair<QString, QString>> cases{
            {"https://example.org/get/v2.zip?mirror=3#x", "v2.zip"},
            {"https://example.org/Vorlo%202.0.zip", "Vorlo 2.0.zip"},
            {"https://example.org/x%2F..%2F..%2F.bashrc", ".bashrc"},
            {"https://example.org/a/%2E%2E", ""},
            {"https://example.org/files/", ""},
            {"https://example.org", ""}};
        for (const auto &[link, name] : cases)
            QCOMPARE(DownloadLink::proposedFileName(link), name);
    }

    void readsCurlsProgressAndErrorLines()
    {
        const QByteArray bar = "\r#################################                                         "
                               "                               30.0%";
        QCOMPARE(CurlOutput::percentage(bar), std::optional<double>(30.0));
        QCOMPARE(CurlOutput::percentage("\r###  12.0%\r#####  27.5%"), std::optional<double>(12.0));
        for (const QByteArray &piece : {QByteArray("\r##########"), QByteArray("curl: (6) Could not resolve host: x"),
                                        QByteArray("5.0%"), QByteArray("\r# abcd%"), QByteArray("\xff\xfe  45.3%")})
            QVERIFY2(!CurlOutput::percentage(piece), piece.constData());

        // The error line, even when it follows a progress bar on one line.
        QCOMPARE(CurlOutput::errorMessage("\r###      10.0%\rcurl: (18) transfer closed with 90 bytes remaining\n"),
                 QString("curl: (18) transfer closed with 90 bytes remaining"));
        QCOMPARE(CurlOutput::errorMessage("curl: (6) first\ncurl: (7) second\n"), QString("curl: (7) second"));
        QCOMPARE(CurlOutput::errorMessage("Warning: Failed to open the file\n\r####      6.3%curl: (23) Failure "
                                          "writing output to destination\n\n"),
                 QString("curl: (23) Failure writing output to destination"));
        QCOMPARE(CurlOutput::errorMessage("\r##########   100.0%"), QString());
    }

    void readsLeadingNumbers()
    {
        QCOMPARE(LeadingNumber::readDouble(u" \t 3.5MB"), 3.5);
        QCOMPARE(LeadingNumber::readDouble(u"4,7"), 4.0);
        QCOMPARE(LeadingNumber::readDouble(u"abc"), 0.0);
        QCOMPARE(LeadingNumber::readDouble(u"1e999"), 0.0);
        QCOMPARE(LeadingNumber::readInt(u"99999999999"), INT_MAX);
        QCOMPARE(LeadingNumber::readInt(u"-2.5"), -2);
    }
};

QTEST_GUILESS_MAIN(TestUpdatePieces)
#include "tst_updatepieces.moc"
