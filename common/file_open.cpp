#include "common/file_open.h"

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
        close(fd);
        return nullptr;
    }
    std::FILE *file = fdopen(fd, mode);
    if (file == nullptr) {
        close(fd);
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
