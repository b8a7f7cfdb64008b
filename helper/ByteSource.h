#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A forward stream of archive bytes, the only way libarchive gets at an
// archive in this helper.
//
// libarchive never opens archive files itself: ArchiveReader hands it read,
// skip and (when offered) seek callbacks over one ByteSource. The bottom of
// the stack is VolumeSource, the ordered files of a volume set laid end to
// end. Anything that must sit between the files and libarchive (the stub of
// a self-extracting archive cut away, a layer that rewrites the RAR
// container) is another ByteSource that wraps the one below it and is handed
// to ArchiveReader in its place.
//
// Contract for implementations:
//  - read() copies at most `capacity` bytes into `buffer` and returns how
//    many it copied; 0 means the end of the stream, -1 an error (see
//    errorMessage()). Short reads are allowed anywhere.
//  - skip() moves forward by at most `count` bytes without returning them and
//    returns how far it moved; 0 at the end, -1 on error. A layer that
//    cannot jump may read and discard.
//  - seekable()/seek(): optional random access over the whole stream, with
//    lseek() semantics for `whence` (SEEK_SET, SEEK_CUR, SEEK_END). Only
//    formats that keep their directory at the end (ZIP, 7z) need it; RAR is
//    read strictly forward. A streaming layer answers false and never sees
//    seek().
//  - Progress and the stall watchdog do not ask the top of the stack: they
//    watch the ConsumptionMeter of the bottom VolumeSource, so a layer on top
//    needs no bookkeeping of its own.
//  - Sources are used from one thread.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    virtual long read(void* buffer, std::size_t capacity) = 0;
    virtual std::int64_t skip(std::int64_t count) = 0;

    // Optional zero-copy reading: lend() points `data` at the next bytes,
    // which stay valid until the next call on the source, and returns their
    // count with read()'s meaning. A source whose bytes already sit in a
    // buffer of its own (a decrypting layer) saves a copy of every byte.
    virtual bool lends() const { return false; }
    virtual long lend(const void** /*data*/) { return -1; }

    virtual bool seekable() const { return false; }
    virtual std::int64_t seek(std::int64_t /*offset*/, int /*whence*/) { return -1; }

    virtual std::string errorMessage() const { return {}; }

    // Reads and drops whatever the reader above left unread, to the end of
    // the stream: a format reader stops at its own end marker, while a
    // compressed stream keeps its checksum in a trailer after it. False
    // (with errorMessage()) when the rest is damaged or fails its check.
    virtual bool readToEnd() { return true; }
};
