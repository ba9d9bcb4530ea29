#include "common/file_open.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opened without blocking, the descriptor then blocks again as usual, so that
// reads and writes behave as they do on any file.
std::FILE *OpenStream(const char *path, int flags, const char *mode)
{
    if (path == nullptr) {
        return nullptr;
    }
    const int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    const int status_flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || status_flags < 0 ||
        fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK) != 0) {
        const int reason = S_ISDIR(info.st_mode) ? EISDIR : errno;
        close(fd);
        errno = reason;
        return nullptr;
    }
    std::FILE *file = fdopen(fd, mode);
    if (file == nullptr) {
        const int reason = errno;
        close(fd);
        errno = reason;
    }
    return file;
}

} // namespace

std::FILE *OpenForReading(const char *path) { return OpenStream(path, O_RDONLY, "r"); }

std::FILE *OpenForWriting(const char *path, bool truncate)
{
    return truncate ? OpenStream(path, O_WRONLY | O_CREAT | O_TRUNC, "w")
                    : OpenStream(path, O_WRONLY | O_CREAT | O_APPEND, "a");
}

int AppendBytesToFile(const char *path, std::span<const std::uint8_t> bytes)
{
    std::FILE *file = OpenForWriting(path, false);
    if (file == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    errno = 0;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int reason = written ? 0 : (errno != 0 ? errno : EIO);
    // Buffered bytes are only known to be kept once the close succeeded.
    if (std::fclose(file) != 0 && reason == 0) {
        reason = errno != 0 ? errno : EIO;
    }
    return reason;
}
