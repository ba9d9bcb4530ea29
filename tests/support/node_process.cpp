#include "support/node_process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string NodePath() { return ZARK_NODE_PATH; }

using Clock = std::chrono::steady_clock;

NodeProcess::NodeProcess(const std::vector<std::string> &options, const std::filesystem::path &cwd,
                         const std::filesystem::path &log, int links)
    : links_(links)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> text{NodePath(), "--listen=127.0.0.1:0", "--links=" + std::to_string(links)};
    text.insert(text.end(), options.begin(), options.end());
    std::vector<char *> argv;
    for (std::string &word : text) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out[1], 1);
        dup2(err, 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The ports come first on standard output, a line "link K listening on ADDR:PORT" per link.
    std::string seen;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (pollfd readable{out[0], POLLIN, 0}; pid_ > 0 && !started() && Clock::now() < deadline;) {
        if (poll(&readable, 1, 100) <= 0) continue;
        char chunk[512];
        const ssize_t count = read(out[0], chunk, sizeof chunk);
        if (count <= 0) break;
        seen.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end; (end = seen.find('\n')) != std::string::npos; seen.erase(0, end + 1)) {
            const std::size_t colon = seen.rfind(':', end);
            if (seen.starts_with("link ") && colon != std::string::npos) {
                ports_.push_back(static_cast<std::uint16_t>(std::atoi(seen.c_str() + colon + 1)));
            }
        }
    }
    close(out[0]);
}

bool NodeProcess::Running()
{
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

int NodeProcess::Stop()
{
    if (pid_ <= 0) return exit_status_;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        exit_status_ = -1;
    }
    return exit_status_;
}

NodeProcess::~NodeProcess() { Stop(); }

std::string WaitForLogLine(const std::filesystem::path &log, const std::vector<std::string> &needles, double seconds)
{
    const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    do {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            const auto in_line = [&](const std::string &needle) { return line.find(needle) != std::string::npos; };
            if (std::ranges::all_of(needles, in_line)) return line;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (Clock::now() < until);
    return "";
}
