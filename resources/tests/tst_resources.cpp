#include "ResourceLocator.h"
#include "SafeFormat.h"
#include "StringTable.h"

#include <QLocale>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT
private slots:
    void safeFormatFillsConversions_data();
    void safeFormatFillsConversions();
    void lookupFollowsSearchPathOrder();
    void lookupRejectsAbsoluteAndMissingNames();
    void missingKeyShowsTheKey();
    void bothLanguagesHaveTheSameKeys();
};

void TestResources::safeFormatFillsConversions_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("object") << "Version %@ is out" << QStringList{"2.1"} << "Version 2.1 is out";
    QTest::newRow("integers") << "%d of %ld" << QStringList{"3", "7"} << "3 of 7";
    QTest::newRow("positional") << "%2$@ before %1$@" << QStringList{"a", "b"} << "b before a";
    QTest::newRow("percent") << "100%% done" << QStringList{} << "100% done";
    QTest::newRow("missing argument") << "%@ and %@ and %d" << QStringList{"x"} << "x and  and ";
    QTest::newRow("positional out of range") << "%9$@!" << QStringList{"x"} << "!";
    QTest::newRow("unknown conversion kept") << "50%x %" << QStringList{"a"} << "50%x %";
    QTest::newRow("argument not rescanned") << "v%@" << QStringList{"%@%d%%"} << "v%@%d%%";
    QTest::newRow("width flags kept literally") << "%5d" << QStringList{"1"} << "%5d";
}

void TestResources::safeFormatFillsConversions()
{
    QFETCH(QString, format);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(safeFormat(format, arguments), expected);
}

void TestResources::lookupFollowsSearchPathOrder()
{
    QTemporaryDir first, second;
    QVERIFY(first.isValid() && second.isValid());
    QVERIFY(QDir(second.path()).mkpath("images"));
    QFile both1(first.filePath("unrar")), both2(second.filePath("unrar")), only(second.filePath("images/x.svg"));
    QVERIFY(both1.open(QIODevice::WriteOnly) && both2.open(QIODevice::WriteOnly) && only.open(QIODevice::WriteOnly));

    ResourceLocator::setSearchPathsForTesting({first.path(), second.path()});
    QCOMPARE(ResourceLocator::find("unrar"), QFileInfo(first.filePath("unrar")).absoluteFilePath());
    QCOMPARE(ResourceLocator::find("images/x.svg"), QFileInfo(second.filePath("images/x.svg")).absoluteFilePath());
    // A folder of that name is not a resource.
    QCOMPARE(ResourceLocator::find("images"), QString());
    ResourceLocator::setSearchPathsForTesting({});
}

void TestResources::lookupRejectsAbsoluteAndMissingNames()
{
    QCOMPARE(ResourceLocator::find("/etc/passwd"), QString());
    QCOMPARE(ResourceLocator::find(""), QString());
    QCOMPARE(ResourceLocator::find("no-such-resource-anywhere"), QString());
}

void TestResources::missingKeyShowsTheKey()
{
    QCOMPARE(StringTable::text("NoSuchKey42"), QString("NoSuchKey42"));
}

void TestResources::bothLanguagesHaveTheSameKeys()
{
    const auto english = StringTable::loadTable("en");
    const auto french = StringTable::loadTable("fr");
    const QSet<QString> en(english.keyBegin(), english.keyEnd());
    const QSet<QString> fr(french.keyBegin(), french.keyEnd());
    QCOMPARE(en - fr, QSet<QString>());
    QCOMPARE(fr - en, QSet<QString>());
    for (auto it = english.begin(); it != english.end(); ++it)
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key()));
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
