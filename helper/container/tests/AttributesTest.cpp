#include "BlockWalker.h"
#include "TestSupport.h"

#include <archive.h>
#include <archive_entry.h>

#include <QJsonArray>
#include <QtTest>

using namespace rarcontainer;

namespace {

// Seconds only: libarchive garbles the fraction (RAR 4: the seconds of the
// minute; RAR 5: none), the walker keeps what the archive stores.
QString describeTime(bool set, int64_t seconds)
{
    return set ? QString::number(seconds) : QString("unset");
}

// Where the walker's idea of an entry differs from what libarchive makes of
// the same header.
QStringList differences(const Entry &ours, struct archive_entry *theirs)
{
    QStringList out;
    if (!ours.modeKnown) out << "mode unknown";
    else if (ours.mode != uint32_t(archive_entry_mode(theirs)))
        out << QString("mode %1 != %2").arg(ours.mode, 0, 8).arg(archive_entry_mode(theirs), 0, 8);
    const QString mtime = describeTime(ours.modified.set, ours.modified.seconds);
    const QString theirMtime = describeTime(archive_entry_mtime_is_set(theirs), archive_entry_mtime(theirs));
    // libarchive reads no time of some encrypted RAR 5 entries.
    if (archive_entry_mtime_is_set(theirs) && mtime != theirMtime) out << "mtime " + mtime + " != " + theirMtime;
    const QString atime = describeTime(ours.accessed.set, ours.accessed.seconds);
    const QString theirAtime = describeTime(archive_entry_atime_is_set(theirs), archive_entry_atime(theirs));
    if (atime != theirAtime) out << "atime " + atime + " != " + theirAtime;

    const char *symlink = archive_entry_symlink_utf8(theirs);
    const char *hardlink = archive_entry_hardlink_utf8(theirs);
    const QString target = QString::fromStdString(ours.linkTarget);
    switch (ours.link) {
    case LinkKind::None:
        if (symlink || hardlink) out << "not a link";
        break;
    case LinkKind::Symbolic:
        // A RAR 4 link keeps its target in its data, read with the data.
        if (!symlink) out << "not a symbolic link";
        else if (!ours.linkTargetInData && target != QString::fromUtf8(symlink))
            out << "symbolic link target " + QString::fromUtf8(symlink);
        break;
    case LinkKind::Hard:
        if (!hardlink || target != QString::fromUtf8(hardlink)) out << "hard link target " + target;
        break;
    }
    return out;
}

// The file entries the walker finds, by name.
QMap<QString, Entry> walk(const Fixture &f)
{
    VolumeSet volumes;
    volumes.open(f.paths());
    PasswordGate gate(nullptr, f.password());
    BlockWalker walker(volumes, gate);
    QMap<QString, Entry> out;
    Block block;
    while (walker.next(block))
        if (block.kind == Block::Kind::File) out[QString::fromStdString(block.entry.name)] = block.entry;
    return out;
}

}  // namespace

class AttributesTest : public QObject {
    Q_OBJECT
private slots:
    // Modes, times and link targets as libarchive, which once read every RAR
    // header for the extraction, maps them per host system: the walker must
    // give the same for every entry libarchive can read of every undamaged
    // fixture, or files come out with other permissions or dates.
    void walkerAgreesWithLibarchive()
    {
        QStringList problems;
        int compared = 0;
        for (const Fixture &f : loadFixtures()) {
            if (!f.json.value("damaged").isNull()) continue;
            const QMap<QString, Entry> ours = walk(f);
            std::vector<std::string> paths = f.paths();
            std::vector<const char *> names;
            for (const std::string &p : paths) names.push_back(p.c_str());
            names.push_back(nullptr);
            struct archive *a = archive_read_new();
            archive_read_support_format_rar(a);
            archive_read_support_format_rar5(a);
            struct archive_entry *e = nullptr;
            if (archive_read_open_filenames(a, names.data(), 1 << 16) == ARCHIVE_OK) {
                while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
                    const QString name = QString::fromUtf8(archive_entry_pathname_utf8(e));
                    if (!ours.contains(name)) continue;  // an older version, "name;N"
                    const QStringList found = differences(ours[name], e);
                    if (!found.isEmpty()) problems << f.archive + ": " + name + ": " + found.join(", ");
                    ++compared;
                    if (archive_read_data_skip(a) != ARCHIVE_OK) break;
                }
            }
            archive_read_free(a);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
        QVERIFY(compared > 200);
    }

    // The same four files archived as RAR 4 (extended DOS times, kept to
    // 100 ns) and as RAR 5 (Windows file times): their times agree to the
    // nanosecond, and the one-second flag of the RAR 4 form is applied.
    void timesKeepTheirFraction()
    {
        const QMap<QString, Entry> rar4 = walk(fixtureNamed("test_read_format_rar4_encrypted.rar"));
        const QMap<QString, Entry> rar5 = walk(fixtureNamed("test_read_format_rar5_encrypted.rar"));
        QCOMPARE(rar4.keys(), rar5.keys());
        QCOMPARE(rar4.size(), 4);
        for (const QString &name : rar4.keys()) {
            const Timestamp old = rar4[name].modified, now = rar5[name].modified;
            QVERIFY2(old.set && now.set, qPrintable(name));
            QVERIFY2(now.nanoseconds != 0, qPrintable(name));
            QCOMPARE(old.nanoseconds, now.nanoseconds);
            // DOS times are local: only the zone's offset may separate them.
            QCOMPARE((old.seconds - now.seconds) % 900, int64_t(0));
        }
        QCOMPARE(rar5["a.txt"].modified.seconds, int64_t(1711130349));
        QCOMPARE(rar5["a.txt"].modified.nanoseconds, 178918000L);
    }
};

static RegisterTest<AttributesTest> registerAttributesTest;

#include "AttributesTest.moc"
