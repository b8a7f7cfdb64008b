#include "CurlOutput.h"
#include "DownloadLink.h"
#include "LeadingNumber.h"
#include "UpdateList.h"

#include <QTest>
#include <climits>

namespace {
QByteArray plist(const QByteArray &dictionaryBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>"
           + dictionaryBody + "</dict></plist>\n";
}

const QByteArray goodLink = "<key>link</key><string>https://example.org/files/Vorlo-2.0.tar.gz</string>";
}

class TestUpdatePieces : public QObject
{
    Q_OBJECT
private slots:
    void readsEveryKeyOfTheList();
    void readsTheNotesOfTheGivenLanguage();
    void toleratesMissingAndMistypedValues();
    void refusesListsThatCannotLeadToAnUpdate_data();
    void refusesListsThatCannotLeadToAnUpdate();

    void readsLeadingNumbers_data();
    void readsLeadingNumbers();

    void findsThePercentageOfAPiece_data();
    void findsThePercentageOfAPiece();
    void findsCurlsErrorLine();

    void acceptsOnlyPlainWebAddresses_data();
    void acceptsOnlyPlainWebAddresses();
    void proposesABareFileName_data();
    void proposesABareFileName();
};

void TestUpdatePieces::readsEveryKeyOfTheList()
{
    const auto list = UpdateList::fromXml(plist("<key>lastVersion</key><string>2.0 beta</string>"
                                                "<key>dateSortie</key><string>12 juin 2026</string>"
                                                "<key>sysMin</key><string>Debian 12</string>"
                                                "<key>tailleTotale</key><string>  12.5 MB</string>"
                                                "<key>unknown</key><integer>4</integer>"
                                                "<key>notes</key><array><string>Faster &amp; safer</string>"
                                                "<string></string><string>Ünïcode ✓</string></array>"
                                                + goodLink),
                                          "notes");
    QVERIFY(list);
    QCOMPARE(list->lastVersion, QString("2.0 beta"));
    QCOMPARE(list->dateSortie, QString("12 juin 2026"));
    QCOMPARE(list->sysMin, QString("Debian 12"));
    QCOMPARE(list->tailleTotale, QString("  12.5 MB"));
    QCOMPARE(list->totalSize(), 12.5);
    QCOMPARE(list->link, QString("https://example.org/files/Vorlo-2.0.tar.gz"));
    QCOMPARE(list->notes, QStringList({"Faster & safer", "", "Ünïcode ✓"}));
}

void TestUpdatePieces::readsTheNotesOfTheGivenLanguage()
{
    const QByteArray xml = plist("<key>lastVersion</key><string>2</string>" + goodLink
                                 + "<key>notes</key><array><string>English</string></array>"
                                   "<key>notesFr</key><array><string>Français</string></array>");
    QCOMPARE(UpdateList::fromXml(xml, "notes")->notes, QStringList{"English"});
    QCOMPARE(UpdateList::fromXml(xml, "notesFr")->notes, QStringList{"Français"});
    QCOMPARE(UpdateList::fromXml(xml, "notesDe")->notes, QStringList{});
    QCOMPARE(UpdateList::fromXml(xml, "")->notes, QStringList{});
}

void TestUpdatePieces::toleratesMissingAndMistypedValues()
{
    const auto list = UpdateList::fromXml(plist("<key>lastVersion</key><string></string>"
                                                "<key>dateSortie</key><integer>20260612</integer>"
                                                "<key>tailleTotale</key><string>about ten</string>"
                                                "<key>notes</key><array><string>one</string><integer>2</integer>"
                                                "<dict/><string>three</string></array>"
                                                + goodLink),
                                          "notes");
    QVERIFY(list);
    QCOMPARE(list->lastVersion, QString());
    QCOMPARE(list->dateSortie, QString());
    QCOMPARE(list->sysMin, QString());
    QCOMPARE(list->totalSize(), 0.0);
    QCOMPARE(list->notes, QStringList({"one", "three"}));

    const auto notesNotAnArray = UpdateList::fromXml(
        plist("<key>lastVersion</key><string>2</string><key>notes</key><string>x</string>" + goodLink), "notes");
    QVERIFY(notesNotAnArray);
    QCOMPARE(notesNotAnArray->notes, QStringList{});
}

void TestUpdatePieces::refusesListsThatCannotLeadToAnUpdate_data()
{
    QTest::addColumn<QByteArray>("xml");
    const QByteArray version = "<key>lastVersion</key><string>2.0</string>";
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

void TestUpdatePieces::refusesListsThatCannotLeadToAnUpdate()
{
    QFETCH(QByteArray, xml);
    QVERIFY(!UpdateList::fromXml(xml, "notes"));
}

void TestUpdatePieces::readsLeadingNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("real");
    QTest::addColumn<int>("integer");
    QTest::newRow("plain") << "12.5" << 12.5 << 12;
    QTest::newRow("leading blanks") << " \t 7" << 7.0 << 7;
    QTest::newRow("unit after") << "3.5MB" << 3.5 << 3;
    QTest::newRow("no number") << "abc" << 0.0 << 0;
    QTest::newRow("sign") << "-2.5" << -2.5 << -2;
    QTest::newRow("fraction only") << ".5" << 0.5 << 0;
    QTest::newRow("exponent") << "1e3 bytes" << 1000.0 << 1;
    QTest::newRow("bare exponent letter") << "3e" << 3.0 << 3;
    QTest::newRow("comma is not a decimal point") << "4,7" << 4.0 << 4;
    QTest::newRow("overflow") << "99999999999" << 99999999999.0 << INT_MAX;
    QTest::newRow("too large for a double") << "1e999" << 0.0 << 1;
}

void TestUpdatePieces::readsLeadingNumbers()
{
    QFETCH(QString, text);
    QFETCH(double, real);
    QFETCH(int, integer);
    QCOMPARE(LeadingNumber::readDouble(text), real);
    QCOMPARE(LeadingNumber::readInt(text), integer);
}

void TestUpdatePieces::findsThePercentageOfAPiece_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<double>("expected");  // -1: no percentage
    QTest::newRow("one blank then 45.3") << QByteArray("\r######   45.3%") << 45.3;
    QTest::newRow("two blanks then 5.0") << QByteArray("\r##          5.0%") << 5.0;
    QTest::newRow("100.0 reads as 00.0") << QByteArray("\r#########  100.0%") << -1.0;
    QTest::newRow("under one percent") << QByteArray("\r            0.4%") << -1.0;
    QTest::newRow("only the first counts") << QByteArray("\r###  12.0%\r#####  27.5%") << 12.0;
    QTest::newRow("no percent sign") << QByteArray("\r##########") << -1.0;
    QTest::newRow("error message") << QByteArray("curl: (6) Could not resolve host: nowhere") << -1.0;
    QTest::newRow("too little before it") << QByteArray("5.0%") << -1.0;
    QTest::newRow("not a number") << QByteArray("\r# abcd%") << -1.0;
    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe  45.3%") << -1.0;
    QTest::newRow("real curl line")
        << QByteArray("\r#################################                                         "
                      "                               30.0%")
        << 30.0;
}

void TestUpdatePieces::findsThePercentageOfAPiece()
{
    QFETCH(QByteArray, piece);
    QFETCH(double, expected);
    const std::optional<double> percent = CurlOutput::percentage(piece);
    if (expected < 0) {
        QVERIFY2(!percent, qPrintable(QString::number(percent.value_or(-1))));
    } else {
        QVERIFY(percent);
        QCOMPARE(*percent, expected);
    }
}

void TestUpdatePieces::findsCurlsErrorLine()
{
    QCOMPARE(CurlOutput::errorMessage("\r###      10.0%\rcurl: (18) transfer closed with 90 bytes remaining\n"),
             QString("curl: (18) transfer closed with 90 bytes remaining"));
    QCOMPARE(CurlOutput::errorMessage("curl: (6) first\ncurl: (7) second\n"), QString("curl: (7) second"));
    QCOMPARE(CurlOutput::errorMessage("Warning: Failed to open the file\n\r####      6.3%curl: (23) Failure writing "
                                      "output to destination\n\n"),
             QString("curl: (23) Failure writing output to destination"));
    QCOMPARE(CurlOutput::errorMessage("\r##########   100.0%"), QString());
}

void TestUpdatePieces::acceptsOnlyPlainWebAddresses_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("https") << "https://example.org/Vorlo-2.0.tar.gz" << true;
    QTest::newRow("http with port and query") << "http://127.0.0.1:8765/get?file=v2&x=%20" << true;
    QTest::newRow("upper-case scheme") << "HTTPS://example.org/v2" << true;
    QTest::newRow("ipv6 host") << "http://[::1]:8080/v2.tar.gz" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("relative") << "files/v2.tar.gz" << false;
    QTest::newRow("no scheme") << "example.org/v2.tar.gz" << false;
    QTest::newRow("ftp") << "ftp://example.org/v2.tar.gz" << false;
    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("no host") << "http:///v2.tar.gz" << false;
    QTest::newRow("option") << "-K/tmp/evil" << false;
    QTest::newRow("leading blank") << " http://example.org/v2" << false;
    QTest::newRow("inner blank") << "http://example.org/v 2" << false;
    QTest::newRow("line feed") << "http://example.org/v2\n-o/tmp/x" << false;
    QTest::newRow("glob braces") << "http://example.org/{a,b}.tar.gz" << false;
    QTest::newRow("glob range") << "http://example.org/part[1-9999].bin" << false;
    QTest::newRow("non-ASCII") << "http://example.org/v2é" << false;
}

void TestUpdatePieces::acceptsOnlyPlainWebAddresses()
{
    QFETCH(QString, link);
    QFETCH(bool, acceptable);
    QCOMPARE(DownloadLink::isAcceptable(link), acceptable);
}

void TestUpdatePieces::proposesABareFileName_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "https://example.org/files/Vorlo-2.0.tar.gz" << "Vorlo-2.0.tar.gz";
    QTest::newRow("query and fragment") << "https://example.org/get/v2.zip?mirror=3#x" << "v2.zip";
    QTest::newRow("encoded blank") << "https://example.org/Vorlo%202.0.zip" << "Vorlo 2.0.zip";
    QTest::newRow("encoded slash") << "https://example.org/x%2F..%2F..%2F.bashrc" << ".bashrc";
    QTest::newRow("encoded dot-dot") << "https://example.org/a/%2E%2E" << "";
    QTest::newRow("folder") << "https://example.org/files/" << "";
    QTest::newRow("host only") << "https://example.org" << "";
}

void TestUpdatePieces::proposesABareFileName()
{
    QFETCH(QString, link);
    QFETCH(QString, name);
    QCOMPARE(DownloadLink::proposedFileName(link), name);
}

QTEST_GUILESS_MAIN(TestUpdatePieces)
#include "tst_updatepieces.moc"
