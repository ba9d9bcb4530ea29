#include "support/capture_stdout.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

#include "support/scratch_dir.h"

CaptureStdout::CaptureStdout()
{
    std::fflush(stdout);
    char name[] = "/tmp/zark_stdout_XXXXXX";
    capture_fd_ = mkstemp(name);
    if (capture_fd_ < 0) {
        throw std::runtime_error("cannot create a capture file");
    }
    unlink(name);
    saved_fd_ = dup(STDOUT_FILENO);
    dup2(capture_fd_, STDOUT_FILENO);
}

CaptureStdout::~CaptureStdout()
{
    if (saved_fd_ >= 0) {
        Take();
    }
}

std::string CaptureStdout::Take()
{
    if (saved_fd_ < 0) {
        return {};
    }
    std::fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    saved_fd_ = -1;
    std::string text;
    lseek(capture_fd_, 0, SEEK_SET);
    char buffer[65536];
    for (ssize_t n; (n = read(capture_fd_, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(capture_fd_);
    capture_fd_ = -1;
    return text;
}

void FeedStdin(const std::string &text)
{
    char name[] = "/tmp/zark_stdin_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        throw std::runtime_error("cannot create an input file");
    }
    close(fd);
    WriteWholeFile(name, text);
    if (std::freopen(name, "r", stdin) == nullptr) {
        throw std::runtime_error("cannot reopen standard input");
    }
    unlink(name);
}
