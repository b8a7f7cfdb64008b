"""A minimal reader of RAR 4 and RAR 5 block structure for the tests.

libarchive 3.6 does not check the data checksums of stored entries, so the
tests walk the headers themselves: every header checksum, every data
checksum (a piece's own CRC-32 while a split file continues, the whole
file's in the header of its last piece), and the volume flags.
"""

import struct
import zlib

RAR5_SIGNATURE = b"Rar!\x1a\x07\x01\x00"
RAR4_SIGNATURE = b"Rar!\x1a\x07\x00"


class FormatError(Exception):
    pass


class Entry:
    def __init__(self, name, directory, size):
        self.name = name
        self.directory = directory
        self.size = size
        self.crc = None
        self.mtime = None
        self.mode = None
        self.data = bytearray()


class Volume:
    def __init__(self, number, is_volume, more_volumes):
        self.number = number
        self.is_volume = is_volume
        self.more_volumes = more_volumes


def _vint(buf, pos):
    value = shift = 0
    while True:
        if pos >= len(buf):
            raise FormatError("truncated variable-length integer")
        byte = buf[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, pos


def _walk_rar5(buf, entries, pending):
    pos = len(RAR5_SIGNATURE)
    volume = None
    while pos < len(buf):
        (crc,) = struct.unpack_from("<I", buf, pos)
        size, body = _vint(buf, pos + 4)
        end = body + size
        if zlib.crc32(buf[pos + 4:end]) != crc:
            raise FormatError("header checksum at offset %d" % pos)
        htype, p = _vint(buf, body)
        hflags, p = _vint(buf, p)
        if hflags & 0x1:
            _, p = _vint(buf, p)
        data_size = 0
        if hflags & 0x2:
            data_size, p = _vint(buf, p)
        if htype == 1:
            aflags, p = _vint(buf, p)
            number = 0
            if aflags & 0x2:
                number, p = _vint(buf, p)
            volume = Volume(number, bool(aflags & 0x1), None)
        elif htype == 2:
            fflags, p = _vint(buf, p)
            unpacked, p = _vint(buf, p)
            attrs, p = _vint(buf, p)
            mtime = crc32 = None
            if fflags & 0x2:
                (mtime,) = struct.unpack_from("<I", buf, p)
                p += 4
            if fflags & 0x4:
                (crc32,) = struct.unpack_from("<I", buf, p)
                p += 4
            comp, p = _vint(buf, p)
            _host, p = _vint(buf, p)
            nlen, p = _vint(buf, p)
            name = bytes(buf[p:p + nlen]).decode("utf-8")
            data = buf[end:end + data_size]
            if comp != 0:
                raise FormatError("%s is not stored" % name)
            _add_piece(entries, pending, name, bool(fflags & 0x1), unpacked, data,
                       bool(hflags & 0x8), bool(hflags & 0x10), crc32)
            entries[-1].mtime, entries[-1].mode = mtime, attrs
        elif htype == 5:
            eflags, p = _vint(buf, p)
            volume.more_volumes = bool(eflags & 0x1)
            return volume, end
        pos = end + data_size
    raise FormatError("no end-of-archive header")


def _walk_rar4(buf, entries, pending):
    pos = len(RAR4_SIGNATURE)
    volume = None
    while pos + 7 <= len(buf):
        crc, htype, flags, size = struct.unpack_from("<HBHH", buf, pos)
        if zlib.crc32(buf[pos + 2:pos + size]) & 0xFFFF != crc:
            raise FormatError("header checksum at offset %d" % pos)
        add = 0
        if htype == 0x73:
            volume = Volume(None, bool(flags & 0x1), None)
        elif htype == 0x74:
            (packed, unpacked, _host, crc32, _ftime, _ver, method, nlen,
             attrs) = struct.unpack_from("<IIBIIBBHI", buf, pos + 7)
            p = pos + 32
            if flags & 0x100:
                hi_packed, hi_unpacked = struct.unpack_from("<II", buf, p)
                packed |= hi_packed << 32
                unpacked |= hi_unpacked << 32
                p += 8
            raw = bytes(buf[p:p + nlen])
            if flags & 0x200 and b"\0" in raw:
                name = _decode_rar4_name(raw)
            else:
                name = raw.decode("utf-8")
            if method != 0x30:
                raise FormatError("%s is not stored" % name)
            add = packed
            data = buf[pos + size:pos + size + packed]
            _add_piece(entries, pending, name, (flags & 0xE0) == 0xE0, unpacked, data,
                       bool(flags & 0x1), bool(flags & 0x2), crc32)
            entries[-1].mode = attrs
        elif htype == 0x7B:
            p = pos + 7 + (4 if flags & 0x2 else 0)  # skip the archive data CRC
            if flags & 0x8:
                (volume.number,) = struct.unpack_from("<H", buf, p)
            volume.more_volumes = bool(flags & 0x1)
            return volume, pos + size
        elif flags & 0x8000:
            (add,) = struct.unpack_from("<I", buf, pos + 7)
        pos += size + add
    raise FormatError("no end-of-archive header")


def _decode_rar4_name(raw):
    """The UTF-16 name after the zero byte, packed in 2-bit modes."""
    enc = raw[raw.index(b"\0") + 1:]
    high, i = enc[0], 1
    units = []
    flags = bits = 0
    while i < len(enc):
        if bits == 0:
            flags, bits, i = enc[i], 8, i + 1
            if i >= len(enc):
                break
        bits -= 2
        mode = (flags >> bits) & 3
        if mode == 0:
            units.append(enc[i])
            i += 1
        elif mode == 1:
            units.append(high << 8 | enc[i])
            i += 1
        elif mode == 2:
            units.append(enc[i + 1] << 8 | enc[i])
            i += 2
        else:
            raise FormatError("name mode 3 is not written by our writer")
    return b"".join(struct.pack(">H", u) for u in units).decode("utf-16-be")


def _add_piece(entries, pending, name, directory, unpacked, data, before, after, crc32):
    if before:
        if pending.get("name") != name:
            raise FormatError("%s continues a file that did not split" % name)
        entry = entries[-1]
    else:
        if pending:
            raise FormatError("%s starts while %s is unfinished" % (name, pending["name"]))
        entry = Entry(name, directory, unpacked)
        entries.append(entry)
    entry.data += data
    pending.clear()
    if after:
        if crc32 is not None and zlib.crc32(data) != crc32:
            raise FormatError("checksum of the piece of %s" % name)
        pending["name"] = name
    else:
        if len(entry.data) != entry.size:
            raise FormatError("%s holds %d bytes, not %d" % (name, len(entry.data), entry.size))
        if crc32 is not None and not directory and zlib.crc32(entry.data) != crc32:
            raise FormatError("checksum of %s" % name)
        entry.crc = crc32


def walk(paths):
    """Reads a volume set (or one archive) and returns (entries, volumes)."""
    entries, volumes, pending = [], [], {}
    for path in paths:
        with open(path, "rb") as f:
            buf = f.read()
        if buf.startswith(RAR5_SIGNATURE):
            volume, end = _walk_rar5(buf, entries, pending)
        elif buf.startswith(RAR4_SIGNATURE):
            volume, end = _walk_rar4(buf, entries, pending)
        else:
            raise FormatError("%s has no RAR signature" % path)
        if buf[end:].strip(b"\0"):
            raise FormatError("%s has data after its end header" % path)
        volumes.append(volume)
    if pending:
        raise FormatError("the last volume ends inside %s" % pending["name"])
    return entries, volumes
