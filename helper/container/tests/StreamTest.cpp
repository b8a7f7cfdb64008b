#include "Bytes.h"
#include "EntryVerifier.h"
#include "LegacyCipher.h"
#include "RarListing.h"
#include "RarStream.h"
#include "Rar5TestWriter.h"
#include "TestSupport.h"

#include <sys/stat.h>

#include <QJsonArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace rarcontainer;

namespace {

struct Extracted {
    QString name;
    uint64_t size = 0;
    uint32_t crc = 0;
    Status failure = Status::Ok;
    Entry entry;  // as the stream knew it after the data
    EntryVerifier::Verdict verdict = EntryVerifier::Verdict::Unchecked;
};

// Reads every entry as the helper does.
QList<Extracted> extractEntries(RarStream &stream, QString *error)
{
    QList<Extracted> out;
    stream.open();
    while (stream.nextEntry()) {
        Extracted x;
        x.name = QString::fromStdString(stream.entry().name);
        x.failure = stream.entry().failure;
        const bool regular = !stream.entry().isDirectory && stream.entry().link == LinkKind::None;
        EntryVerifier verifier(stream.entry());
        uint32_t crc = 0;
        const void *block = nullptr;
        long n;
        while ((n = stream.readData(&block)) > 0) {
            crc = crc32Update(crc, static_cast<const uint8_t *>(block), size_t(n));
            verifier.update(block, size_t(n));
            x.size += uint64_t(n);
        }
        x.crc = crc;
        x.entry = stream.entry();
        if (regular && x.failure == Status::Ok) x.verdict = verifier.finish(x.entry);
        out << x;
        if (n < 0) break;
    }
    if (stream.status() != Status::Ok) *error = QString::fromStdString(stream.message());
    return out;
}

// RAR 4 headers patched by hand: little-endian fields, a CRC-16 seal.
QByteArray fixtureBytes(const QString &archive)
{
    QFile file(QString::fromStdString(fixtureNamed(archive).paths().front()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
int u16(const QByteArray &b, int i) { return int(uchar(b[i]) | uchar(b[i + 1]) << 8); }
uint32_t u32(const QByteArray &b, int i) { return uint32_t(u16(b, i)) | uint32_t(u16(b, i + 2)) << 16; }
void setU16(QByteArray &b, int i, int v)
{
    b[i] = char(v & 0xFF);
    b[i + 1] = char((v >> 8) & 0xFF);
}
void seal(QByteArray &h, int n) { setU16(h, 0, int(crc32Of(reinterpret_cast<const uint8_t *>(h.constData() + 2), size_t(n - 2)) & 0xFFFF)); }
std::vector<std::string> writeCopy(const QTemporaryDir &dir, const QByteArray &bytes)
{
    QFile copy(dir.filePath("copy.rar"));
    if (copy.open(QIODevice::WriteOnly)) copy.write(bytes);
    return {copy.fileName().toStdString()};
}

}  // namespace

class StreamTest : public QObject {
    Q_OBJECT
private slots:
    // Crafted archives: an end block without its flags field is still an end.
    void lenientAboutEndBlocksStrictAboutHeaders()
    {
        QCOMPARE(int(listArchive(fixtureNamed("test_read_format_rar5_loop_bug.rar").paths(), nullptr).status), int(Status::Ok));
        Listing bad = listArchive(fixtureNamed("test_read_format_rar5_truncated_huff.rar").paths(), nullptr);
        QCOMPARE(int(bad.status), int(Status::Damaged));
    }

    // d.txt has another password: it fails on its own, the others extract,
    // and nobody is asked again.
    void entriesWithAnotherPasswordFailAlone()
    {
        for (const char *archive : {"test_read_format_rar4_encrypted.rar", "test_read_format_rar5_encrypted.rar"}) {
            ScriptedPrompt prompt({"password"});
            RarStream stream(fixtureNamed(archive).paths(), &prompt);
            QString error;
            const QList<Extracted> got = extractEntries(stream, &error);
            QCOMPARE(prompt.asked, 1);
            QCOMPARE(got.size(), 4);
            for (int i = 0; i < 3; ++i) QCOMPARE(int(got[i].verdict), int(EntryVerifier::Verdict::Match));
            QVERIFY(got[3].verdict != EntryVerifier::Verdict::Match);
        }
    }

    // The data password is asked when the first encrypted entry is reached
    // and asked again while the check value refuses it; answers that never
    // pass yield no contents.
    void dataPasswordAskedAtFirstEncryptedEntry()
    {
        Fixture f = fixtureNamed("Rar5.encrypted_filesOnly.rar");
        ScriptedPrompt prompt({"wrong", "test"});
        RarStream stream(f.paths(), &prompt);
        QCOMPARE(int(stream.open()), int(Status::Ok));
        QCOMPARE(prompt.asked, 0);
        QString error;
        const QList<Extracted> got = extractEntries(stream, &error);
        QVERIFY2(got.size() == f.json.value("entries").toArray().size(), qPrintable(error));
        for (const Extracted &x : got) QVERIFY(x.entry.isDirectory || x.verdict == EntryVerifier::Verdict::Match);
        QCOMPARE(prompt.asked, 2);
        QCOMPARE(prompt.rejections, 1);

        ScriptedPrompt wrong({"a", "b", "c"});
        RarStream refused(f.paths(), &wrong);
        int failed = 0;
        for (const Extracted &x : extractEntries(refused, &error))
            if (!x.entry.isDirectory && x.entry.encrypted) failed += x.failure == Status::WrongPassword;
        QCOMPARE(wrong.asked, 3);
        QCOMPARE(failed, 3);
    }

    // The RAR 4 key scheme mangles passwords over 28 UTF-16 units: such a
    // password is refused with its own reason instead of yielding garbage.
    void overlongRar4PasswordsAreRefused()
    {
        const std::string longPassword(29, 'p');
        Fixture hidden = fixtureNamed("Rar.encrypted_filesAndHeader.rar");
        RarStream headers(hidden.paths(), nullptr, longPassword);
        QCOMPARE(int(headers.open()), int(Status::PasswordTooLong));

        Fixture data = fixtureNamed("Rar.encrypted_filesOnly.rar");
        RarStream stream(data.paths(), nullptr, longPassword);
        QCOMPARE(int(stream.open()), int(Status::Ok));
        QString error;
        auto got = extractEntries(stream, &error);
        int refused = 0;
        for (const Extracted &x : got) {
            QVERIFY(x.verdict != EntryVerifier::Verdict::Match || !x.entry.encrypted);
            refused += x.failure == Status::PasswordTooLong;
        }
        QCOMPARE(refused, 3);
    }

    // File data under the RAR 1.5 and 2.0 ciphers (written here, with the
    // data padded to whole blocks for 2.0), stored or compressed, comes
    // out whole with the right password; with a wrong one the entry fails its
    // checksum, and the entries after it are unharmed.
    void oldCiphersDecryptFileData_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("version");  // 0: the header's own
        QTest::newRow("1.5 stored") << "Rar.none.rar" << 15;
        QTest::newRow("2.0 stored") << "Rar.none.rar" << 20;
        QTest::newRow("1.5 compressed") << "Rar15.rar" << 0;
        QTest::newRow("2.0 compressed") << "Rar2.rar" << 0;
    }
    void oldCiphersDecryptFileData()
    {
        QFETCH(QString, archive);
        QFETCH(int, version);
        Fixture f = fixtureNamed(archive);
        const QByteArray original = fixtureBytes(archive);
        // The first file with data, after the 7-byte marker and the main header.
        int at = 7 + u16(original, 7 + 5);
        int index = 0;
        for (; u32(original, at + 7) == 0; ++index) at += u16(original, at + 5);
        QCOMPARE(int(uchar(original[at + 2])), 0x74);
        const int size = u16(original, at + 5);
        const uint32_t packed = u32(original, at + 7);
        if (version == 0) version = uchar(original[at + 24]);

        LegacyCipher cipher;
        cipher.start(LegacyCipher::forUnpackVersion(version), "secret");
        std::vector<uint8_t> data(original.begin() + at + size, original.begin() + at + size + packed);
        data.resize((data.size() + cipher.blockSize() - 1) / cipher.blockSize() * cipher.blockSize());
        cipher.encrypt(data.data(), data.size());

        QByteArray header = original.mid(at, size);
        header[3] = char(header[3] | 0x04);  // encrypted
        header[24] = char(version);
        for (int i = 0; i < 4; ++i) header[7 + i] = char(uint32_t(data.size()) >> (8 * i));
        seal(header, size);
        QTemporaryDir dir;
        const auto paths = writeCopy(dir, original.left(at) + header
                                              + QByteArray(reinterpret_cast<const char *>(data.data()), int(data.size()))
                                              + original.mid(at + size + int(packed)));
        for (const char *password : {"secret", "wrong"}) {
            RarStream stream(paths, nullptr, std::string(password));
            QString error;
            auto got = extractEntries(stream, &error);
            const bool right = std::string(password) == "secret";
            QVERIFY(got.size() > index);
            QVERIFY(got[index].entry.passwordUnverified);
            QCOMPARE(got[index].verdict == EntryVerifier::Verdict::Match, right);
            if (right) {
                QVERIFY2(got.size() == f.json.value("entries").toArray().size(), qPrintable(error));
                QCOMPARE(got[index].size, uint64_t(u32(original, at + 11)));
            }
            for (int i = 0; i < got.size(); ++i)
                if (i != index) QVERIFY(got[i].entry.isDirectory || got[i].verdict == EntryVerifier::Verdict::Match);
        }
    }

    // What archivers of RAR 1.5 to 2.x wrote: an old comment embedded in the
    // main header and in a file header, outside their checksums, and a DOS
    // name in code page 437. The archive lists and extracts, the name shown
    // alike by the listing and the extraction.
    void oldHeaderQuirksListAndExtract()
    {
        const QByteArray in = fixtureBytes("Rar15.rar");
        const QByteArray comment("\x0d\x00\x75\x00\x00\x10\x00\x05\x00\x0f\x30\x00\x00hello", 16);

        QByteArray main = in.mid(7, 13);
        setU16(main, 3, u16(main, 3) | 0x02);  // has a comment
        setU16(main, 5, 13 + comment.size());
        seal(main, 13);
        main += comment;
        QByteArray out = in.left(7) + main;

        int at = 7 + 13;
        while (at + 32 <= in.size()) {
            QByteArray h = in.mid(at, u16(in, at + 5));
            const int packed = int(uchar(h[7]) | uchar(h[8]) << 8 | uchar(h[9]) << 16);
            if (h.mid(32, u16(h, 26)) == "TECT.TXT") {
                h[33] = char(0x82);                                  // é in code page 437
                setU16(h, 3, u16(h, 3) | 0x08);                       // has a comment
                setU16(h, 5, int(h.size() + comment.size()));
                seal(h, int(h.size()));                               // fields and name only
                h += comment;
            }
            out += h + in.mid(at + u16(in, at + 5), packed);
            at += u16(in, at + 5) + packed;
        }
        out += in.mid(at);

        QTemporaryDir dir;
        const auto paths = writeCopy(dir, out);

        Listing l = listArchive(paths, nullptr);
        QVERIFY2(l.status == Status::Ok, l.message.c_str());
        QCOMPARE(l.entries.size(), size_t(5));
        QCOMPARE(QString::fromStdString(l.entries[4].name), QString::fromUtf8("TéCT.TXT"));

        RarStream stream(paths, nullptr);
        QString error;
        auto got = extractEntries(stream, &error);
        QVERIFY2(got.size() == 5, qPrintable(error));
        QCOMPARE(got[4].name, QString::fromUtf8("TéCT.TXT"));
        for (const Extracted &x : got) QVERIFY(x.entry.isDirectory || x.verdict == EntryVerifier::Verdict::Match);
    }

    // Stored encrypted data cut across volumes at sizes that are not multiples
    // of the cipher block, under passwords that stress the conversion; files
    // of several megabytes are decrypted piece after piece ahead of the reader,
    // and a second one must not see the first one's pieces.
    void ownEncryptedVolumeSetsExtract_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("hiddenNames");
        QTest::addColumn<int>("dataPerVolume");
        QTest::addColumn<int>("bigSize");
        QTest::newRow("non-ascii, volumes") << QByteArray("\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C") << false << 1000 << 2500;
        QTest::newRow("empty, hidden names, volumes") << QByteArray() << true << 777 << 2500;
        QTest::newRow("megabytes, one volume") << QByteArray("x") << false << 0 << (3 << 20) + 12345;
        QTest::newRow("megabytes, odd volumes") << QByteArray("x") << true << 1300001 << (3 << 20) + 12345;
    }
    void ownEncryptedVolumeSetsExtract()
    {
        QFETCH(QByteArray, password);
        QFETCH(bool, hiddenNames);
        QFETCH(int, dataPerVolume);
        QFETCH(int, bigSize);
        QTemporaryDir dir;
        QByteArray big(bigSize, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 13);
        QByteArray again = big.left(big.size() - 5);
        for (int i = 0; i < again.size(); i += 4096) again[i] = char(~again[i]);
        std::vector<TestFile> files = {{"big.bin", big}, {"dir/\xC3\xA9t\xC3\xA9.txt", "sixteen bytes!!\n"}, {"odd.txt", "odd"},
                                       {"empty", ""}, {"again.bin", again}};
        Rar5WriterOptions options;
        options.password = password.toStdString();
        options.encryptHeaders = hiddenNames;
        options.dataPerVolume = size_t(dataPerVolume);
        auto paths = writeEncryptedRar5(dir.path(), "set", files, options);
        QCOMPARE(paths.size() > 1, dataPerVolume > 0);

        ScriptedPrompt prompt({password.toStdString()});
        RarStream stream(paths, &prompt);
        QCOMPARE(int(stream.open()), int(Status::Ok));
        QString error;
        auto got = extractEntries(stream, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(prompt.asked, 1);
        QCOMPARE(got.size(), int(files.size()));
        for (size_t i = 0; i < files.size(); ++i) {
            QCOMPARE(got[int(i)].name.toUtf8(), files[i].name);
            QCOMPARE(got[int(i)].size, uint64_t(files[i].data.size()));
            QCOMPARE(got[int(i)].crc, crc32Of(reinterpret_cast<const uint8_t *>(files[i].data.constData()), size_t(files[i].data.size())));
            QCOMPARE(int(got[int(i)].verdict), int(EntryVerifier::Verdict::Match));
        }
    }

    // Every undamaged fixture, with its password, read as a selection is:
    // every other entry passed over unread (a solid stream decoded on the
    // way), and each one read after them still comes out whole.
    void entriesPassedOverLeaveLaterOnesWhole_data()
    {
        QTest::addColumn<QString>("archive");
        for (const Fixture &f : loadFixtures())
            if (f.json.value("damaged").isNull()) QTest::newRow(qPrintable(f.archive.section('/', -1))) << f.archive;
    }
    void entriesPassedOverLeaveLaterOnesWhole()
    {
        QFETCH(QString, archive);
        const Fixture f = fixtureNamed(archive);
        const QJsonArray expected = f.json.value("entries").toArray();
        // Entries under another password than the fixture's fail on their own.
        const QString otherPassword = f.json.value("password_note").toString().section(':', 0, 0);
        RarStream stream(f.paths(), nullptr, f.password());
        stream.open();
        int index = 0;
        for (; stream.nextEntry(); ++index) {
            const Entry &e = stream.entry();
            const QString name = QString::fromStdString(e.name);
            if (index % 2 == 0 || index >= expected.size() || e.failure != Status::Ok || stream.entryUndecodable()
                || (e.mode & S_IFMT) != S_IFREG || e.link != LinkKind::None || name == otherPassword)
                continue;
            EntryVerifier verifier(e);
            uint64_t size = 0;
            const void *block = nullptr;
            long n;
            while ((n = stream.readData(&block)) > 0) {
                verifier.update(block, size_t(n));
                size += uint64_t(n);
            }
            QVERIFY2(n == 0, qPrintable(name));
            QCOMPARE(name, expected[index].toObject().value("name").toString());
            QCOMPARE(size, uint64_t(expected[index].toObject().value("size").toInteger()));
            QVERIFY2(verifier.finish(stream.entry()) != EntryVerifier::Verdict::Mismatch, qPrintable(name));
        }
        QVERIFY2(stream.status() == Status::Ok || !otherPassword.isEmpty(), stream.message().c_str());
        QVERIFY(index >= expected.size());
    }
};

static RegisterTest<StreamTest> registration;
#include "StreamTest.moc"
