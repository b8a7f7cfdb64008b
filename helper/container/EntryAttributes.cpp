#include "EntryAttributes.h"

#include "Bytes.h"

#include <ctime>
#include <sys/stat.h>

namespace rarcontainer {

namespace {

constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosReadOnly = 0x01;

// RAR 4 host systems: MS-DOS, OS/2 and Windows store DOS attributes, the
// Unix-like ones (Unix, Mac OS, BeOS) a Unix mode.
void rar4Mode(uint8_t hostOs, uint32_t attributes, Entry &e)
{
    switch (hostOs) {
    case 0:
    case 1:
    case 2:
        e.mode = (attributes & kDosDirectory) ? (S_IFDIR | 0111) : S_IFREG;
        e.mode |= 0644;
        e.modeKnown = true;
        break;
    case 3:
    case 4:
    case 5:
        e.mode = attributes;
        e.modeKnown = true;
        break;
    default:
        break;
    }
}

// The extended time field: for each of modification, creation, access and
// archiving time, four bits (present, one second more, count of extra
// precision bytes) and then the DOS time (the modification time reuses the
// header's) and up to three bytes of 100 ns units, most significant kept.
bool readRar4Times(ByteReader &r, uint32_t dosModified, Entry &e)
{
    const unsigned flags = r.u16();
    if (!r.ok()) return false;
    for (int slot = 3; slot >= 0; --slot) {
        const unsigned bits = flags >> (slot * 4);
        if (!(bits & 8)) continue;
        int64_t seconds = dosTimeToUnix(dosModified);
        if (slot != 3) {
            const uint32_t dos = r.u32();
            if (!r.ok()) return false;
            seconds = dosTimeToUnix(dos);
        }
        uint32_t units = 0;
        for (unsigned i = 0; i < (bits & 3); ++i) units = (uint32_t(r.u8()) << 16) | (units >> 8);
        if (!r.ok()) return false;
        if (bits & 4) ++seconds;
        Timestamp stamp{true, seconds, long(units) * 100};
        if (slot == 3) e.modified = stamp;
        else if (slot == 1) e.accessed = stamp;
    }
    return true;
}

}  // namespace

// DOS times are local times; mktime settles daylight saving itself.
int64_t dosTimeToUnix(uint32_t dos)
{
    struct tm t{};
    t.tm_sec = int(dos & 0x1F) * 2;
    t.tm_min = int((dos >> 5) & 0x3F);
    t.tm_hour = int((dos >> 11) & 0x1F);
    t.tm_mday = int((dos >> 16) & 0x1F);
    t.tm_mon = int((dos >> 21) & 0x0F) - 1;
    t.tm_year = int((dos >> 25) & 0x7F) + 80;
    t.tm_isdst = -1;
    const time_t seconds = mktime(&t);
    return seconds == time_t(-1) ? 0 : int64_t(seconds);
}

void readRar4Attributes(const std::vector<uint8_t> &header, uint32_t flags, Entry &e)
{
    ByteReader r(header.data(), header.size());
    r.skip(7 + 4 + 4);
    const uint8_t hostOs = r.u8();
    r.u32();  // checksum
    const uint32_t dosTime = r.u32();
    r.u16();  // versions and method
    const uint16_t nameSize = r.u16();
    const uint32_t attributes = r.u32();
    if (flags & 0x0100) r.skip(8);
    r.skip(nameSize);
    if (flags & 0x0400) r.skip(8);
    if (!r.ok()) return;
    rar4Mode(hostOs, attributes, e);
    e.modified = {true, dosTimeToUnix(dosTime), 0};
    e.accessed = {true, 0, 0};
    if ((flags & 0x1000) && !readRar4Times(r, dosTime, e)) e.timesDamaged = true;
    if (e.modeKnown && (e.mode & S_IFMT) == S_IFLNK) {
        e.link = LinkKind::Symbolic;
        e.linkTargetInData = true;
    }
}

void readRar5Attributes(const std::vector<uint8_t> &header, Entry &e)
{
    ByteReader r(header.data(), header.size());
    r.skip(4);
    r.vint();  // header size
    r.vint();  // type
    const uint64_t headerFlags = r.vint();
    const uint64_t extraSize = (headerFlags & 0x01) ? r.vint() : 0;
    if (headerFlags & 0x02) r.vint();  // data size
    const uint64_t fileFlags = r.vint();
    r.vint();  // unpacked size
    const uint64_t attributes = r.vint();
    if (fileFlags & 0x02) e.modified = {true, int64_t(r.u32()), 0};
    if (fileFlags & 0x04) r.u32();
    r.vint();  // compression
    const uint64_t hostOs = r.vint();
    if (!r.ok() || extraSize > header.size()) return;

    if (hostOs == 0) {
        const bool readOnly = attributes & kDosReadOnly;
        if (attributes & kDosDirectory) e.mode = S_IFDIR | (readOnly ? 0555 : 0755);
        else e.mode = S_IFREG | (readOnly ? 0444 : 0644);
        e.modeKnown = true;
    } else if (hostOs == 1) {
        e.mode = uint32_t(attributes);
        e.modeKnown = true;
    }

    ByteReader extra(header.data() + header.size() - extraSize, size_t(extraSize));
    while (extra.remaining() > 0) {
        const uint64_t size = extra.vint();
        if (!extra.ok() || size == 0 || size > extra.remaining()) return;
        ByteReader rec(extra.here(), size_t(size));
        extra.skip(size);
        const uint64_t type = rec.vint();
        if (type == 0x03) {
            const uint64_t tflags = rec.vint();
            const bool unixTime = tflags & 0x01;
            Timestamp modified, created, accessed;
            for (Timestamp *t : {&modified, &created, &accessed}) {
                const uint64_t bit = t == &modified ? 0x02 : t == &created ? 0x04 : 0x08;
                if (!(tflags & bit)) continue;
                if (unixTime) {
                    *t = {true, int64_t(rec.u32()), 0};
                } else {
                    // Windows FILETIME: 100 ns units since 1601.
                    const uint64_t ft = rec.u64();
                    *t = {true, int64_t(ft / 10000000) - 11644473600LL, long(ft % 10000000) * 100};
                }
            }
            if (unixTime && (tflags & 0x10)) {
                for (Timestamp *t : {&modified, &created, &accessed})
                    if (t->set) t->nanoseconds = long(rec.u32() & 0x3FFFFFFF);
            }
            if (!rec.ok()) continue;
            if (modified.set) e.modified = modified;
            if (accessed.set) e.accessed = accessed;
        } else if (type == 0x05) {
            const uint64_t kind = rec.vint();
            rec.vint();  // flags
            const uint64_t length = rec.vint();
            if (!rec.ok() || length > rec.remaining()) continue;
            const std::string target(reinterpret_cast<const char *>(rec.here()), size_t(length));
            if (kind >= 1 && kind <= 3) {
                e.link = LinkKind::Symbolic;
                e.linkTarget = target;
                e.mode = (e.mode & ~uint32_t(S_IFMT)) | S_IFLNK;
            } else if (kind == 4) {
                e.link = LinkKind::Hard;
                e.linkTarget = target;
                e.mode = (e.mode & ~uint32_t(S_IFMT)) | S_IFREG;
            }
        }
    }
}

}  // namespace rarcontainer
