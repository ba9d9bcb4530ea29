// A command-stream run from its first command to its last.  SIGINT, SIGTERM
// and SIGHUP end it early but in order (a second one ends the program at
// once); the output file is flushed every second so that it can be followed;
// on a terminal, a run that takes more than a second shows a progress line.
#ifndef ZARK_COMMON_STREAM_RUN_H
#define ZARK_COMMON_STREAM_RUN_H

#include <cstdio>

// Starts watching for the signals and, for output (may be null), the flushes.
void StreamRunBegin(std::FILE *output);
// Stops all that, erases the progress line and restores the signal handlers.
void StreamRunEnd();

// The signal that interrupted the run; 0 while none came.
int StreamRunSignal();
inline bool StreamRunInterrupted() { return StreamRunSignal() != 0; }

// The counts the progress line shows.
void ProgressSent();
void ProgressReceived();
void ProgressErrors(int total);

// The line that ends an interrupted run: which signal, and how many of the
// list's commands had run.
void ReportInterruption(long long commands_run, long long commands_in_list);

// Held while writing anything else to the console during a run: the progress
// line is erased first and cannot be drawn in the middle of it.  Not needed
// (needed false) it does nothing, so that output going to a file leaves the
// progress line standing.
class ConsoleGuard {
public:
    explicit ConsoleGuard(bool needed = true);
    ~ConsoleGuard();
    ConsoleGuard(const ConsoleGuard &) = delete;
    ConsoleGuard &operator=(const ConsoleGuard &) = delete;

private:
    bool held_;
};

#endif
