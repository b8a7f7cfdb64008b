#include "GzipSource.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace {
constexpr std::size_t kInputSize = 64 * 1024;
constexpr std::size_t kOutputSize = 256 * 1024;
// More than a tar archive's end (end blocks and record padding) after its
// last file's data.
constexpr std::size_t kLookAhead = 256 * 1024;
}

struct GzipSource::Inflater {
    z_stream stream {};
    bool ready = false;
};

GzipSource::GzipSource(ByteSource& below)
    : below_(below), inflater_(std::make_unique<Inflater>()), input_(kInputSize), output_(kOutputSize),
      ahead_(kLookAhead, [this](const void** data) { return produce(data); })
{
    // 16 + MAX_WBITS: the gzip wrapper, whose trailer zlib checks itself.
    inflater_->ready = inflateInit2(&inflater_->stream, 16 + MAX_WBITS) == Z_OK;
}

GzipSource::~GzipSource()
{
    if (inflater_->ready)
        inflateEnd(&inflater_->stream);
}

long GzipSource::fail(std::string message)
{
    if (error_.empty())
        error_ = std::move(message);
    return -1;
}

bool GzipSource::refill()
{
    const long got = below_.read(input_.data(), input_.size());
    if (got < 0) {
        fail(below_.errorMessage());
        return false;
    }
    if (got == 0)
        inputEnded_ = true;
    inflater_->stream.next_in = input_.data();
    inflater_->stream.avail_in = static_cast<uInt>(got);
    return true;
}

long GzipSource::lend(const void** data)
{
    return ahead_.lend(data);
}

long GzipSource::produce(const void** data)
{
    if (!error_.empty())
        return -1;
    if (!inflater_->ready)
        return fail("cannot start the gzip decompressor");
    z_stream& z = inflater_->stream;
    for (;;) {
        if (ended_)
            return 0;
        if (z.avail_in == 0 && !inputEnded_ && !refill())
            return -1;
        if (!inMember_) {
            // Between members: the data ends here, or another member starts.
            // Anything else after the last member (tape padding, zeros) is
            // not gzip data and is left alone, as gzip itself does.
            if (z.avail_in == 0) {
                ended_ = true;
                return 0;
            }
            if (z.next_in[0] != 0x1F || (z.avail_in > 1 && z.next_in[1] != 0x8B)) {
                ended_ = true;
                return 0;
            }
            inMember_ = true;
        }
        if (z.avail_in == 0 && inputEnded_)
            return fail("the gzip data is cut short");
        z.next_out = output_.data();
        z.avail_out = static_cast<uInt>(output_.size());
        const int result = inflate(&z, Z_NO_FLUSH);
        const long produced = static_cast<long>(output_.size() - z.avail_out);
        if (result == Z_STREAM_END) {
            inMember_ = false;
            inflateReset(&z);
        } else if (result == Z_DATA_ERROR) {
            const std::string why = z.msg ? z.msg : "invalid data";
            if (why == "incorrect data check")
                return fail("the archive's gzip checksum is wrong (the CRC-32 of its contents)");
            if (why == "incorrect length check")
                return fail("the archive's gzip checksum is wrong (the length of its contents)");
            return fail("the gzip data is corrupt (" + why + ")");
        } else if (result == Z_MEM_ERROR) {
            return fail("out of memory in the gzip decompressor");
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return fail("the gzip data is corrupt");
        }
        if (produced > 0) {
            *data = output_.data();
            return produced;
        }
    }
}

