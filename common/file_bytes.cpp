#include "common/file_bytes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

constexpr std::size_t kMinimumGrowth = 64 * 1024;
constexpr std::size_t kLargestRead = std::size_t{1} << 30;
constexpr std::size_t kLargestDataValue = 0x7FFFFFFF;

bool ReadToEnd(int fd, std::size_t size_hint, std::vector<std::uint8_t> &out)
{
    std::size_t used = out.size();
    if (size_hint > out.max_size() - used - 1) {
        return false;
    }
    // One byte beyond the reported size, so that reaching the end of a file
    // that did not change costs no further growth.
    out.resize(used + size_hint + 1);
    for (;;) {
        if (used == out.size()) {
            const std::size_t growth = std::max(out.size(), kMinimumGrowth);
            if (growth > out.max_size() - out.size()) {
                return false;
            }
            out.resize(out.size() + growth);
        }
        const std::size_t room = std::min(out.size() - used, kLargestRead);
        const ssize_t got = read(fd, out.data() + used, room);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
        // The file may have grown since its size was asked.
        if (used > kLargestDataValue) {
            return false;
        }
    }
    out.resize(used);
    return true;
}

} // namespace

bool AppendFileBytes(const std::string &path, std::vector<std::uint8_t> &out)
{
    // Non-blocking, so that a FIFO without a writer cannot stall the open.
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    // A file too large for a data value is refused before any of it is read.
    if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kLargestDataValue - std::min(out.size(), kLargestDataValue)) {
        return false;
    }
    const std::size_t original_size = out.size();
    bool complete = false;
    try {
        const auto size_hint = status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : std::size_t{0};
        complete = ReadToEnd(file.get(), size_hint, out);
    } catch (const std::bad_alloc &) {
        complete = false;
    }
    if (!complete) {
        out.resize(original_size);
    }
    return complete;
}
