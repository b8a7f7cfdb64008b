#include "FilteredSource.h"

#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
// More than a tar archive's end (end blocks and record padding) after its
// last file's data.
constexpr std::size_t kLookAhead = 256 * 1024;
}

FilteredSource::FilteredSource(ByteSource& below)
    : below_(below), ahead_(kLookAhead, [this](const void** data) { return produce(data); })
{
}

FilteredSource::~FilteredSource()
{
    if (handle_)
        archive_read_free(handle_);
}

long FilteredSource::fail(std::string message)
{
    if (error_.empty())
        error_ = std::move(message);
    return -1;
}

long FilteredSource::readBelow(archive* a, void* self, const void** buffer)
{
    auto* source = static_cast<FilteredSource*>(self);
    *buffer = source->buffer_;
    const long got = source->below_.read(source->buffer_, sizeof source->buffer_);
    if (got < 0)
        archive_set_error(a, EIO, "%s", source->below_.errorMessage().c_str());
    if (got == 0)
        source->belowEnded_ = true;
    return got;
}

bool FilteredSource::open()
{
    opened_ = true;
    handle_ = archive_read_new();
    archive_read_support_filter_all(handle_);
    archive_read_support_format_raw(handle_);
    archive_read_set_callback_data(handle_, this);
    archive_read_set_read_callback(handle_, readBelow);
    archive_entry* entry = nullptr;
    if (archive_read_open1(handle_) != ARCHIVE_OK || archive_read_next_header(handle_, &entry) != ARCHIVE_OK) {
        const char* why = archive_error_string(handle_);
        fail(std::string(belowEnded_ ? "the compressed data is cut short: " : "the compressed data cannot be read: ")
             + (why ? why : "unknown error"));
        return false;
    }
    return true;
}

long FilteredSource::lend(const void** data)
{
    return ahead_.lend(data);
}

long FilteredSource::produce(const void** data)
{
    if (!error_.empty())
        return -1;
    if (!opened_ && !open())
        return -1;
    while (!ended_) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(handle_, &block, &size, &offset);
        if (result == ARCHIVE_EOF) {
            ended_ = true;
            break;
        }
        if (result != ARCHIVE_OK) {
            const char* text = archive_error_string(handle_);
            const std::string why = text ? text : "unknown error";
            // Data that ends early is a cut archive; anything else the
            // decompressor refuses failed the stream's own checks.
            if (belowEnded_)
                return fail("the compressed data is cut short (" + why + ")");
            return fail("the archive's checksum is wrong, or its compressed data damaged (" + why + ")");
        }
        if (size > 0) {
            *data = block;
            return static_cast<long>(size);
        }
    }
    return 0;
}

