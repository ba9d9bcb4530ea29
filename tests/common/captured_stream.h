// An in-memory stream that collects what a display writes.
#ifndef ZARK_TESTS_COMMON_CAPTURED_STREAM_H
#define ZARK_TESTS_COMMON_CAPTURED_STREAM_H

#include <cstdio>
#include <cstdlib>
#include <string>

class CapturedStream {
public:
    CapturedStream() : stream_(open_memstream(&buffer_, &size_)) {}
    ~CapturedStream()
    {
        std::fclose(stream_);
        std::free(buffer_);
    }
    CapturedStream(const CapturedStream &) = delete;
    CapturedStream &operator=(const CapturedStream &) = delete;

    std::FILE *stream() const { return stream_; }
    std::string Text()
    {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    char *buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *stream_;
};

#endif
