#pragma once

#include "DecompressedSource.h"
#include "LookAhead.h"

#include <memory>
#include <string>
#include <vector>

// A gzip stream decompressed for libarchive, member after member, with each
// member's trailer checked: the CRC-32 and the length of its contents.
// libarchive's own gzip reader leaves both unchecked, and a format reader
// above it stops at its end marker, before the trailer is reached at all.
class GzipSource final : public DecompressedSource {
public:
    explicit GzipSource(ByteSource& below);
    ~GzipSource() override;
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    long lend(const void** data) override;
    std::string errorMessage() const override { return error_; }

private:
    long fail(std::string message);
    // The next decompressed bytes, as they come (lend() holds a window back).
    long produce(const void** data);
    bool refill();

    struct Inflater;
    ByteSource& below_;
    std::unique_ptr<Inflater> inflater_;
    std::vector<unsigned char> input_;
    std::vector<unsigned char> output_;
    bool inputEnded_ = false;
    bool inMember_ = false;  // inside a member: its end and trailer still to come
    bool ended_ = false;
    std::string error_;
    LookAhead ahead_;
};
