// Runs code or the program on a pseudo-terminal, so that single-key mode and
// key presses are tested for real.  The terminal starts in the usual line
// mode with echo; output post-processing is off, so "\n" stays "\n".
#ifndef ZARK_TESTS_SUPPORT_PTY_SESSION_H
#define ZARK_TESTS_SUPPORT_PTY_SESSION_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <termios.h>

#include "support/run_program.h"

class PtySession {
public:
    // body runs in a child process whose standard input and output are the
    // terminal; its result is the child's exit status.
    explicit PtySession(const std::function<int()> &body);
    // Starts the built program with the options' arguments, VANTOR_SIM and
    // working directory (the options' input is not used: Send it).
    explicit PtySession(const ProgramOptions &options);
    ~PtySession();
    PtySession(const PtySession &) = delete;
    PtySession &operator=(const PtySession &) = delete;

    void Send(const std::string &keys);
    // Reads output until it holds text (from the start of the session);
    // false when time runs out or the child has finished without printing it.
    bool WaitFor(const std::string &text, double seconds = 10.0);
    // Everything the child has printed so far.
    const std::string &Output() const { return output_; }
    // Waits for the child to end; its exit status, or -1 when it did not exit
    // normally in time (it is then killed).
    int WaitExit(double seconds = 10.0);
    // The terminal's current attributes, as the child left them.
    termios Attributes() const;
    pid_t pid() const { return pid_; }

private:
    void Start(const std::function<void()> &child);
    bool ReadSome(int milliseconds);
    // True once the child has ended; what it printed last is then read.
    bool Reaped();

    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    int exit_status_ = -1;
    std::string output_;
};

#endif
