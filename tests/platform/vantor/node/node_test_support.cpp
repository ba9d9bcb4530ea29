#include "node_test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/node_process.h"
#include "support/scratch_dir.h"

namespace node_test {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int MillisecondsUntil(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(left < 0 ? 0 : left + 1);
}

// Waits for events on fd until `until`; false at the limit.
bool Ready(int fd, short events, Clock::time_point until)
{
    for (;;) {
        pollfd wanted{fd, events, 0};
        const int ready = poll(&wanted, 1, MillisecondsUntil(until));
        if (ready > 0) {
            return true;
        }
        if ((ready == 0 && Clock::now() >= until) || (ready < 0 && errno != EINTR)) {
            return false;
        }
    }
}

} // namespace

Bytes Header(std::uint8_t flag, std::uint64_t size, std::uint16_t high, std::uint8_t reserved)
{
    Bytes header{flag, reserved, static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high)};
    for (int shift = 56; shift >= 0; shift -= 8) {
        header.push_back(static_cast<std::uint8_t>(size >> shift));
    }
    return header;
}

Bytes Frame(std::uint8_t flag, const Bytes &payload)
{
    Bytes frame = Header(flag, payload.size());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

void PrintTo(const Received &frame, std::ostream *out)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02x", frame.flag);
    *out << "flag " << text << ", " << frame.payload.size() << " bytes:";
    for (std::size_t i = 0; i < std::min<std::size_t>(frame.payload.size(), 32); ++i) {
        std::snprintf(text, sizeof text, " %02x", frame.payload[i]);
        *out << text;
    }
}

RawClient::RawClient(std::uint16_t port)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        Close();
        return;
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    sockaddr_in self{};
    socklen_t length = sizeof self;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&self), &length);
    local_port_ = ntohs(self.sin_port);
}

RawClient::~RawClient() { Close(); }

void RawClient::Close()
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

std::string RawClient::peer() const { return "127.0.0.1:" + std::to_string(local_port_); }

std::size_t RawClient::SendSome(const Bytes &bytes, double quiet_seconds)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
        } else if ((sent < 0 && errno != EAGAIN && errno != EINTR) || !Ready(fd_, POLLOUT, After(quiet_seconds))) {
            break;
        }
    }
    return done;
}

bool RawClient::Fill(double seconds)
{
    const Clock::time_point until = After(seconds);
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
        if (count > 0) {
            buffered_.insert(buffered_.end(), chunk, chunk + count);
            return true;
        }
        if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
            closed_ = true;
            return false;
        }
        if (!Ready(fd_, POLLIN, until)) {
            return false;
        }
    }
}

std::optional<Received> RawClient::Read(double seconds)
{
    const Clock::time_point until = After(seconds);
    for (;;) {
        if (buffered_.size() >= 12) {
            std::uint64_t size = 0;
            for (std::size_t i = 4; i < 12; ++i) {
                size = (size << 8) | buffered_[i];
            }
            if (buffered_.size() - 12 >= size) {
                Received frame{buffered_[0], Bytes(buffered_.begin() + 12, buffered_.begin() + 12 +
                                                                            static_cast<std::ptrdiff_t>(size))};
                buffered_.erase(buffered_.begin(), buffered_.begin() + 12 + static_cast<std::ptrdiff_t>(size));
                return frame;
            }
        }
        if (!Fill(std::chrono::duration<double>(until - Clock::now()).count())) {
            return std::nullopt;
        }
    }
}

std::size_t RawClient::Drain(std::size_t most, double seconds)
{
    const Clock::time_point until = After(seconds);
    std::size_t taken = buffered_.size();
    buffered_.clear();
    while (taken < most && Fill(std::chrono::duration<double>(until - Clock::now()).count())) {
        taken += buffered_.size();
        buffered_.clear();
    }
    return taken;
}

std::optional<Received> RawClient::Exchange(const Bytes &packet, std::uint8_t flag)
{
    return Send(Frame(flag, packet)) ? Read() : std::nullopt;
}

std::vector<NodeRun> RunNodesToEnd(const std::vector<std::vector<std::string>> &runs)
{
    ScratchDir scratch;
    std::vector<pid_t> pids;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        std::vector<std::string> text{NodePath()};
        text.insert(text.end(), runs[i].begin(), runs[i].end());
        std::vector<char *> argv;
        for (std::string &word : text) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        // posix_spawn, not fork: copying a sanitizer build's mappings costs more than the run.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const auto &[fd, name] : {std::pair{1, "out"}, std::pair{2, "err"}}) {
            const std::string path = scratch / (name + std::to_string(i));
            posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        pid_t pid = -1;
        pids.push_back(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 ? pid : -1);
        posix_spawn_file_actions_destroy(&actions);
    }
    std::vector<NodeRun> results(runs.size());
    const Clock::time_point until = After(10.0);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        int status = 0;
        pid_t done = 0;
        while (pids[i] > 0 && (done = waitpid(pids[i], &status, WNOHANG)) == 0 && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (pids[i] > 0 && done != pids[i]) {
            kill(pids[i], SIGKILL);
            waitpid(pids[i], &status, 0);
        } else if (pids[i] > 0 && WIFEXITED(status)) {
            results[i].exit_status = WEXITSTATUS(status);
        }
        results[i].out = ReadWholeFile(scratch / ("out" + std::to_string(i)));
        results[i].err = ReadWholeFile(scratch / ("err" + std::to_string(i)));
    }
    return results;
}

std::string WaitForLogLine(const std::filesystem::path &log, const std::vector<std::string> &needles, double seconds)
{
    const Clock::time_point until = After(seconds);
    do {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            bool all = true;
            for (const std::string &needle : needles) {
                all = all && line.find(needle) != std::string::npos;
            }
            if (all) {
                return line;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (Clock::now() < until);
    return "";
}

long ResidentKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

int OpenDescriptors(pid_t pid)
{
    int count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return count;
}

} // namespace node_test
