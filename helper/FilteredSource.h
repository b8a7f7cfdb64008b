#pragma once

#include "DecompressedSource.h"
#include "LookAhead.h"

#include <string>

struct archive;

// A compressed stream (xz, lzip, zstd, lz4, bzip2) decompressed for the
// format reader by a libarchive handle of its own that knows no format but
// "raw". The decompressors check what their formats carry (xz and lzip
// check values, zstd's and lz4's content checksums, bzip2's CRCs), but only
// when the stream is read to its end, and a format reader stops at its own
// end marker before that: readToEnd() takes the stream the rest of the way.
class FilteredSource final : public DecompressedSource {
public:
    explicit FilteredSource(ByteSource& below);
    ~FilteredSource() override;
    FilteredSource(const FilteredSource&) = delete;
    FilteredSource& operator=(const FilteredSource&) = delete;

    long lend(const void** data) override;
    std::string errorMessage() const override { return error_; }

private:
    static long readBelow(archive*, void* self, const void** buffer);
    long fail(std::string message);
    // The next decompressed bytes, as they come (lend() holds a window back).
    long produce(const void** data);
    bool open();

    ByteSource& below_;
    archive* handle_ = nullptr;
    bool opened_ = false;
    bool belowEnded_ = false;
    bool ended_ = false;
    unsigned char buffer_[64 * 1024];
    std::string error_;
    LookAhead ahead_;
};
