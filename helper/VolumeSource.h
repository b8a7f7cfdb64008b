#pragma once

#include "ByteSource.h"
#include "ConsumptionMeter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The bottom ByteSource: the files of a volume set laid end to end, as
// libarchive expects to see a RAR volume set or a raw split archive. The
// first file may start at an offset (a self-extracting stub is cut away).
// Every byte handed out or skipped is counted on the meter, which the
// progress marks and the stall watchdog read.
class VolumeSource final : public ByteSource {
public:
    struct Piece {
        std::string path;
        std::int64_t offset = 0;  // where the archive starts in this file
    };

    explicit VolumeSource(std::vector<Piece> pieces);
    ~VolumeSource() override;
    VolumeSource(const VolumeSource&) = delete;
    VolumeSource& operator=(const VolumeSource&) = delete;

    // Stats every file; false (with errorMessage()) when one cannot be read.
    bool open();

    long read(void* buffer, std::size_t capacity) override;
    std::int64_t skip(std::int64_t count) override;
    bool seekable() const override { return true; }
    std::int64_t seek(std::int64_t offset, int whence) override;
    std::string errorMessage() const override { return error_; }

    std::int64_t size() const { return total_; }
    const std::shared_ptr<ConsumptionMeter>& meter() const { return meter_; }

private:
    struct Span {
        std::string path;
        std::int64_t offset = 0;  // first byte used in the file
        std::int64_t length = 0;  // bytes used from the file
        std::int64_t start = 0;   // position of its first byte in the stream
    };

    bool selectSpanAt(std::int64_t position);
    bool openCurrent();
    void closeCurrent();

    std::vector<Span> spans_;
    std::size_t current_ = 0;
    int fd_ = -1;
    std::int64_t position_ = 0;  // in the whole stream
    std::int64_t total_ = 0;
    std::string error_;
    std::shared_ptr<ConsumptionMeter> meter_ = std::make_shared<ConsumptionMeter>();
};
