#include "SafeFormat.h"
#include "StringTable.h"

#include <QSet>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void safeFormatFillsOnlyItsConversions()
    {
        // Versions and messages from the network go through here: an
        // argument is never read as a format, a missing one leaves a gap.
        const struct { const char *format; QStringList arguments; const char *expected; } cases[] = {
            {"Version %@ is out, %d of %ld", {"2.1", "3", "7"}, "Version 2.1 is out, 3 of 7"},
            {"%2$@ before %1$@", {"a", "b"}, "b before a"},
            {"100%% done", {}, "100% done"},
            {"%@ and %@ and %d", {"x"}, "x and  and "},
            {"%9$@!", {"x"}, "!"},
            {"50%x % %5d", {"a"}, "50%x % %5d"},
            {"v%@", {"%@%d%%"}, "v%@%d%%"}};
        for (const auto &c : cases)
            QCOMPARE(safeFormat(QString::fromLatin1(c.format), c.arguments), QString::fromLatin1(c.expected));
    }

    void bothLanguagesHaveTheSameKeys()
    {
        const auto english = StringTable::loadTable("en");
        const auto french = StringTable::loadTable("fr");
        QCOMPARE(QSet<QString>(english.keyBegin(), english.keyEnd()),
                 QSet<QString>(french.keyBegin(), french.keyEnd()));
        for (auto it = english.begin(); it != english.end(); ++it)
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key()));
        QCOMPARE(StringTable::text("NoSuchKey42"), QString("NoSuchKey42"));
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
