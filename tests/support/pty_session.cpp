#include "support/pty_session.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <utility>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A freshly opened terminal in line mode with echo; "\n" is not turned into "\r\n".
termios LineModeAttributes()
{
    termios t{};
    t.c_iflag = ICRNL | IXON;
    t.c_cflag = CS8 | CREAD;
    t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    const std::pair<int, cc_t> keys[] = {{VINTR, 3}, {VQUIT, 034}, {VERASE, 0177}, {VKILL, 025}, {VEOF, 4}, {VMIN, 1}};
    for (const auto &[key, value] : keys) {
        t.c_cc[key] = value;
    }
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    return t;
}

} // namespace

void PtySession::Start(const std::function<void()> &child)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    termios attributes = LineModeAttributes();
    pid_ = forkpty(&master_, nullptr, &attributes, nullptr);
    if (pid_ < 0) {
        throw std::runtime_error("forkpty failed");
    }
    if (pid_ == 0) {
        child();
        _exit(127);
    }
}

PtySession::PtySession(const std::function<int()> &body)
{
    Start([&body] {
        const int status = body();
        std::fflush(stdout);
        _exit(status);
    });
}

PtySession::PtySession(const ProgramOptions &options)
{
    Start([&options] { ExecProgram(options); });
}

PtySession::~PtySession()
{
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void PtySession::Send(const std::string &keys)
{
    std::size_t done = 0;
    while (done < keys.size()) {
        const ssize_t n = write(master_, keys.data() + done, keys.size() - done);
        if (n < 0 && errno != EINTR) {
            return;
        }
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        }
    }
}

bool PtySession::ReadSome(int milliseconds)
{
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, milliseconds) <= 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) {
        return false; // EIO: the child has closed the terminal
    }
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool PtySession::WaitFor(const std::string &text, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (output_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (!ReadSome(static_cast<int>(std::min<long>(left.count(), 50))) && Reaped()) {
            return output_.find(text) != std::string::npos;
        }
    }
    return true;
}

bool PtySession::Reaped()
{
    int status = 0;
    if (!exited_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        while (ReadSome(0)) {
        }
    }
    return exited_;
}

int PtySession::WaitExit(double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Reaped()) {
        ReadSome(20);
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            exited_ = true; // exit_status_ stays -1
        }
    }
    return exit_status_;
}

termios PtySession::Attributes() const
{
    termios t{};
    tcgetattr(master_, &t);
    return t;
}
