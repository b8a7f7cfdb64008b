#pragma once

#include "ByteSource.h"
#include "LookAhead.h"

#include <memory>
#include <string>
#include <vector>

// A gzip stream decompressed for libarchive, member after member, with each
// member's trailer checked: the CRC-32 and the length of its contents.
// libarchive's own gzip reader leaves both unchecked, and a format reader
// above it stops at its end marker, before the trailer is reached at all.
class GzipSource final : public ByteSource {
public:
    explicit GzipSource(ByteSource& below);
    ~GzipSource() override;
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    long read(void* buffer, std::size_t capacity) override;
    std::int64_t skip(std::int64_t count) override;
    bool lends() const override { return true; }
    long lend(const void** data) override;
    std::string errorMessage() const override { return error_; }
    bool readToEnd() override;

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
    const unsigned char* pending_ = nullptr;  // lent but not yet copied by read()
    std::size_t pendingSize_ = 0;
    bool inputEnded_ = false;
    bool inMember_ = false;  // inside a member: its end and trailer still to come
    bool ended_ = false;
    std::string error_;
    LookAhead ahead_;
};
