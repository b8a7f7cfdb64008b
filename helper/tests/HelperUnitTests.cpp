// Unit tests of the helper's pure parts: volume sets, the CRC and the rename
// that gives a staged file its name. The rest is tested through the real
// program (test_*.py). Only this test links Qt; the helper does not.

#include "Crc32.h"
#include "StagedFile.h"
#include "VolumeSet.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using rarcontainer::VolumeSet;

namespace {

QByteArray contents(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// A temporary folder, open for the *at() calls of StagedFile.
struct Folder {
    QTemporaryDir dir;
    std::string path = dir.path().toStdString();
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ~Folder() { ::close(fd); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

} // namespace

class HelperUnitTests : public QObject {
    Q_OBJECT
private slots:
    // Sets found on disk: files named by a set's scheme up to the first
    // hole (which is named), and names that only look numbered left single.
    // (Each naming is read whole on the shared fixtures.)
    void volumeDiscovery_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("onDisk");
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<int>("kind");
        const auto row = [](const char* name, const char* first, const char* onDisk, const char* set,
                            const char* missing, VolumeSet::Kind kind) {
            QTest::newRow(name) << first << onDisk << set << missing << int(kind);
        };
        using enum VolumeSet::Kind;
        row("stops at the hole", "s.part1.rar", "s.part2.rar s.part3.rar s.part5.rar",
            "s.part1.rar s.part2.rar s.part3.rar", "s.part4.rar", Volumes);
        row("carry keeps the width", "s.part09.rar", "s.part10.rar s.part100.rar", "s.part09.rar s.part10.rar", "",
            Volumes);
        row("only the name counts", "/d.part1.rar/b.rar", "/d.part2.rar/b.rar /d.part1.rar/b.r00",
            "/d.part1.rar/b.rar /d.part1.rar/b.r00", "", Volumes);
        row("plain archive stays single", "s.rar", "s.part2.rar", "s.rar", "", Single);
        row("volumes numbered name.000.rar", "t.000.rar", "t.001.rar t.002.rar t.004.rar",
            "t.000.rar t.001.rar t.002.rar", "t.003.rar", Volumes);
        row("a year is not a volume number", "photos.2024.rar", "photos.2025.rar", "photos.2024.rar", "", Single);
        row("a numbered name starts an old style set", "b.001.rar", "b.001.r00", "b.001.rar b.001.r00", "", Volumes);
        row("a lone name ending in aa", "photo_aa", "", "photo_aa", "", Single);
    }

    void volumeDiscovery()
    {
        QFETCH(QString, first);
        QFETCH(QString, onDisk);
        QFETCH(QString, set);
        QFETCH(QString, missing);
        QFETCH(int, kind);
        const QStringList files = onDisk.split(' ', Qt::SkipEmptyParts);
        const VolumeSet found = VolumeSet::discover(first.toStdString(), [&files](const std::string& path) {
            return files.contains(QString::fromStdString(path));
        });
        QStringList paths;
        for (const std::string& path : found.paths())
            paths << QString::fromStdString(path);
        QCOMPARE(paths.join(' '), set);
        QCOMPARE(QString::fromStdString(found.missing()), missing);
        QCOMPARE(int(found.kind()), kind);
    }

    // The fast paths (tables, carry-less folding from 64 bytes on) against
    // the bit-by-bit definition, at every length and split around the edges;
    // continued from a first piece's value, as the container code checks
    // headers and data handed over in pieces.
    void crcFastPathsAgreeWithTheDefinition()
    {
        QCOMPARE(Crc32::of("123456789", 9), 0xCBF43926u);
        std::string data(3000, '\0');
        std::uint32_t seed = 12345;
        for (char& c : data) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 24);
        }
        for (std::size_t length = 0; length < data.size(); length += length < 300 ? 1 : 61) {
            std::uint32_t slow = 0xFFFFFFFFu;
            for (std::size_t i = 0; i < length; ++i) {
                slow ^= static_cast<unsigned char>(data[i]);
                for (int bit = 0; bit < 8; ++bit)
                    slow = (slow & 1) ? (slow >> 1) ^ 0xEDB88320u : slow >> 1;
            }
            for (std::size_t split : {0, 5, 64, 129}) {
                if (split > length)
                    continue;
                Crc32 pieces;
                pieces.update(data.data(), split);
                pieces.update(data.data() + split, length - split);
                Crc32 continued(Crc32::of(data.data(), split));
                continued.update(data.data() + split, length - split);
                QCOMPARE(pieces.value(), ~slow);
                QCOMPARE(continued.value(), ~slow);
            }
        }
    }

    // The rename that gives a file its name is the last guard against a
    // file that appeared meanwhile: without -o+ it never replaces, and with
    // it a folder goes only when empty. Through a StagedFile (one announced
    // as empty is made only then) and for a hard link staged under a hidden
    // name; failed attempts leave nothing.
    void overwriteRules_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("written") << 0 << QByteArray("new");
        QTest::newRow("announced empty") << 1 << QByteArray();
        QTest::newRow("announced empty, data after all") << 1 << QByteArray("late data");
        QTest::newRow("staged under a hidden name") << 2 << QByteArray("new");
    }

    void overwriteRules()
    {
        QFETCH(int, how);
        QFETCH(QByteArray, data);
        Folder folder;
        const auto put = [](const std::string& path, const char* text) { std::ofstream(path) << text; };
        const auto attempt = [&](const char* name, bool replace) {
            if (how == 2) {
                put(folder / ".staged", data.constData());
                const int error = StagedFile::commit(folder / ".staged", folder / name, replace);
                ::unlink((folder / ".staged").c_str());
                return error;
            }
            StagedFile file;
            file.create(folder.fd, "", name, 0644, how == 1);
            file.write(data.constData(), std::size_t(data.size()), 0);
            if (file.flush() != 0 || file.finish(data.size(), nullptr, nullptr) != 0)
                return -1;
            return file.commit(replace);
        };
        put(folder / "old", "old");
        QCOMPARE(attempt("old", false), EEXIST);
        QCOMPARE(contents(folder / "old"), QByteArray("old"));
        QCOMPARE(attempt("old", true), 0);
        QCOMPARE(contents(folder / "old"), data);
        ::mkdir((folder / "full").c_str(), 0755);
        put(folder / "full/inside", "inside");
        QVERIFY(attempt("full", true) != 0);
        QCOMPARE(contents(folder / "full/inside"), QByteArray("inside"));
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QCOMPARE(QDir(QString::fromStdString(folder.path)).entryList(all), (QStringList {"full", "old"}));
    }
};

QTEST_APPLESS_MAIN(HelperUnitTests)
#include "HelperUnitTests.moc"
