#include "support/run_program.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/scratch_dir.h"

std::string ProgramPath() { return ZARK_PROGRAM_PATH; }

[[noreturn]] void ExecProgram(const ProgramOptions &options)
{
    std::vector<std::string> argv_text{options.program.empty() ? ProgramPath() : options.program};
    argv_text.insert(argv_text.end(), options.args.begin(), options.args.end());
    std::vector<char *> argv;
    for (auto &a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
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

// Standard input, output and error are files beside the run: nothing to
// pump, and a program that stops reading loses nothing of its output.
ProgramRun RunProgram(const ProgramOptions &options)
{
    const ScratchDir io;
    io.Write("in", options.input);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = open((io / "in").c_str(), O_RDONLY);
        const int out = open((io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open((io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(125);
        }
        ExecProgram(options);
    }
    ProgramRun run;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(options.time_limit_seconds);
    const auto signal_time = start + std::chrono::duration<double>(options.signal_after_seconds);
    bool signal_pending = options.signal_number != 0;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        const auto now = std::chrono::steady_clock::now();
        if (signal_pending && now >= signal_time) {
            kill(pid, options.signal_number);
            signal_pending = false;
        }
        if (now >= deadline) {
            run.timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run.out = io.Read("out");
    run.err = io.Read("err");
    if (!run.timed_out && WIFEXITED(status)) {
        run.exit_status = WEXITSTATUS(status);
    }
    return run;
}

std::string AfterBanner(const std::string &out)
{
    const std::size_t driver = out.find("Using SpaceWire USB Driver version");
    const std::size_t end = driver == std::string::npos ? driver : out.find("\n\n\n", driver);
    return end == std::string::npos ? "(no banner)\n" + out : out.substr(end + 3);
}
