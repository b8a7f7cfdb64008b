#include "RarListing.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QtTest>

using namespace rarcontainer;

class ListingTest : public QObject {
    Q_OBJECT
private slots:
    // Every valid fixture lists its expected names from the headers alone.
    void fixturesListTheirExpectedNames()
    {
        int checked = 0;
        for (const Fixture &f : loadFixtures()) {
            if (!f.json.value("damaged").isNull() || f.json.value("expected_names").isNull()) continue;
            Listing l = listArchive(f.paths(), nullptr, f.password());
            QVERIFY2(l.status == Status::Ok, qPrintable(f.archive + ": " + QString::fromStdString(l.message)));
            QStringList names;
            for (const Entry &e : l.entries)
                if (!e.oldVersion) names << QString::fromStdString(e.name);
            QStringList expected;
            for (const auto n : f.json.value("expected_names").toArray()) expected << n.toString();
            QVERIFY2(names == expected, qPrintable(f.archive + ": " + names.join('|') + " vs " + expected.join('|')));
            ++checked;
        }
        QVERIFY(checked > 60);
    }

    void sizesAndChecksumsComeFromTheHeaders()
    {
        Fixture f = fixtureNamed("Rar.EncryptedParts.part01.rar");
        Listing l = listArchive(f.paths(), nullptr, f.password());
        QCOMPARE(int(l.status), int(Status::Ok));
        QVERIFY(l.info.multiVolume);
        const QJsonArray expected = f.json.value("entries").toArray();
        QCOMPARE(l.entries.size(), size_t(expected.size()));
        for (int i = 0; i < expected.size(); ++i) {
            const QJsonObject e = expected[i].toObject();
            QCOMPARE(l.entries[i].unpackedSize, uint64_t(e.value("size").toInteger()));
            QCOMPARE(l.entries[i].isDirectory, e.value("dir").toBool());
            if (!e.value("dir").toBool()) QCOMPARE(l.entries[i].crc, uint32_t(e.value("crc").toInteger()));
        }
    }

    void hiddenNamesNeedAPassword_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("rar4") << "Rar.encrypted_filesAndHeader.rar";
        QTest::newRow("rar5") << "Rar5.encrypted_filesAndHeader.rar";
    }
    void hiddenNamesNeedAPassword()
    {
        QFETCH(QString, archive);
        Fixture f = fixtureNamed(archive);
        const std::string right = *f.password();

        QCOMPARE(int(listArchive(f.paths(), nullptr).status), int(Status::NeedPassword));

        ScriptedPrompt endOfInput({});
        QCOMPARE(int(listArchive(f.paths(), &endOfInput).status), int(Status::NeedPassword));
        QCOMPARE(endOfInput.asked, 1);

        ScriptedPrompt secondTime({"wrong", right});
        Listing l = listArchive(f.paths(), &secondTime);
        QCOMPARE(int(l.status), int(Status::Ok));
        QCOMPARE(secondTime.asked, 2);
        QCOMPARE(secondTime.rejections, 1);
        QCOMPARE(l.entries.size(), size_t(f.json.value("entries").toArray().size()));

        ScriptedPrompt neverRight({"a", "b", "c", right});
        QCOMPARE(int(listArchive(f.paths(), &neverRight).status), int(Status::WrongPassword));
        QCOMPARE(neverRight.asked, 3);
        QCOMPARE(neverRight.rejections, 3);
    }

    void encryptedDataListsWithoutAsking()
    {
        Fixture f = fixtureNamed("Rar5.encrypted_filesOnly.rar");
        ScriptedPrompt prompt({});
        Listing l = listArchive(f.paths(), &prompt);
        QCOMPARE(int(l.status), int(Status::Ok));
        QCOMPARE(prompt.asked, 0);
        QVERIFY(l.info.anyDataEncrypted);
        QVERIFY(!l.info.headersEncrypted);
    }

    // Crafted archives: an end block without its flags field is still an end.
    void lenientAboutEndBlocksStrictAboutHeaders()
    {
        QCOMPARE(int(listArchive(fixtureNamed("test_read_format_rar5_loop_bug.rar").paths(), nullptr).status), int(Status::Ok));
        Listing bad = listArchive(fixtureNamed("test_read_format_rar5_truncated_huff.rar").paths(), nullptr);
        QCOMPARE(int(bad.status), int(Status::Damaged));
    }

    void missingVolumeIsTruncation()
    {
        Fixture f = fixtureNamed("Rar.EncryptedParts.part01.rar");
        auto paths = f.paths();
        paths.pop_back();
        QCOMPARE(int(listArchive(paths, nullptr, f.password()).status), int(Status::Truncated));
    }
};

static RegisterTest<ListingTest> registration;
#include "ListingTest.moc"
