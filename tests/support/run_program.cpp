#include "support/run_program.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

std::string ProgramPath() { return ZARK_PROGRAM_PATH; }

namespace {

void MakePipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

} // namespace

ProgramRun RunProgram(const ProgramOptions &options)
{
    // A program that stops reading its input must not take the test down with it.
    std::signal(SIGPIPE, SIG_IGN);
    int in_pipe[2], out_pipe[2], err_pipe[2];
    MakePipe(in_pipe);
    MakePipe(out_pipe);
    MakePipe(err_pipe);

    std::vector<std::string> argv_text{ProgramPath()};
    argv_text.insert(argv_text.end(), options.args.begin(), options.args.end());
    std::vector<char *> argv;
    for (auto &a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
            _exit(126);
        }
        if (options.vantor_sim) {
            setenv("VANTOR_SIM", options.vantor_sim->c_str(), 1);
        } else {
            unsetenv("VANTOR_SIM");
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);

    ProgramRun run;
    std::size_t written = 0;
    int in_fd = in_pipe[1];
    if (options.input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(options.time_limit_seconds);
    const auto signal_time = start + std::chrono::duration<double>(options.signal_after_seconds);
    bool signal_pending = options.signal_number != 0;
    char buffer[65536];
    while (out_fd >= 0 || err_fd >= 0) {
        const auto now = std::chrono::steady_clock::now();
        if (signal_pending && now >= signal_time) {
            kill(pid, options.signal_number);
            signal_pending = false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (left.count() <= 0) {
            run.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (signal_pending) {
            left = std::min(left, std::chrono::duration_cast<std::chrono::milliseconds>(signal_time - now) +
                                      std::chrono::milliseconds(1));
        }
        pollfd fds[3];
        int count = 0;
        int out_index = -1, err_index = -1, in_index = -1;
        if (out_fd >= 0) { out_index = count; fds[count++] = {out_fd, POLLIN, 0}; }
        if (err_fd >= 0) { err_index = count; fds[count++] = {err_fd, POLLIN, 0}; }
        if (in_fd >= 0) { in_index = count; fds[count++] = {in_fd, POLLOUT, 0}; }
        if (poll(fds, static_cast<nfds_t>(count), static_cast<int>(left.count())) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        auto drain = [&](int index, int &fd, std::string &sink) {
            if (index < 0 || fds[index].revents == 0) {
                return;
            }
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                sink.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fd);
                fd = -1;
            }
        };
        drain(out_index, out_fd, run.out);
        drain(err_index, err_fd, run.err);
        if (in_index >= 0 && fds[in_index].revents != 0) {
            const ssize_t n = write(in_fd, options.input.data() + written, options.input.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                written = options.input.size(); // the program stopped reading
            }
            if (written == options.input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
    }
    for (int fd : {in_fd, out_fd, err_fd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!run.timed_out && WIFEXITED(status)) {
        run.exit_status = WEXITSTATUS(status);
    }
    return run;
}
