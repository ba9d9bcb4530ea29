// The standalone far-end node run as a separate process for a test: started
// on free ports, its log kept, stopped with SIGTERM when the test is done.
#ifndef ZARK_TESTS_SUPPORT_NODE_PROCESS_H
#define ZARK_TESTS_SUPPORT_NODE_PROCESS_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

class NodeProcess {
public:
    // Runs the node in cwd with these options and --listen=127.0.0.1:0; its
    // standard error goes to log.  started() tells whether it is listening.
    NodeProcess(const std::vector<std::string> &options, const std::filesystem::path &cwd,
                const std::filesystem::path &log, int links = 1);
    ~NodeProcess();
    NodeProcess(const NodeProcess &) = delete;
    NodeProcess &operator=(const NodeProcess &) = delete;

    bool started() const { return ports_.size() == static_cast<std::size_t>(links_); }
    const std::vector<std::uint16_t> &ports() const { return ports_; }
    // Sends SIGTERM and waits (bounded); the exit status, or -1 when it had to be killed.
    int Stop();
    // The process's status without waiting: true while it runs.
    bool Running();
    // The process id while it runs (for /proc and signals), -1 after.
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int links_ = 1;
    std::vector<std::uint16_t> ports_;
    int exit_status_ = -1;
};

std::string NodePath();

// Waits until the log holds a line containing every one of the needles; that line, or empty.
std::string WaitForLogLine(const std::filesystem::path &log, const std::vector<std::string> &needles,
                           double seconds = 5.0);

#endif
