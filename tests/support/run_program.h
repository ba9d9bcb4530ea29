// Runs the built program as a user would: arguments, typed input, a
// simulated-adapter setting, a working directory.
#ifndef ZARK_TESTS_SUPPORT_RUN_PROGRAM_H
#define ZARK_TESTS_SUPPORT_RUN_PROGRAM_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ProgramRun {
    std::string out;      // standard output
    std::string err;      // standard error (the program writes nothing there)
    int exit_status = -1; // -1 when it did not exit normally
    bool timed_out = false;
};

struct ProgramOptions {
    std::vector<std::string> args;        // after the program name
    std::string input;                    // standard input; closed after it
    std::optional<std::string> vantor_sim; // VANTOR_SIM, unset when absent
    std::filesystem::path cwd;            // empty: the current directory
    double time_limit_seconds = 60.0;
    // When not 0, this signal is sent to the program once signal_after_seconds have passed.
    int signal_number = 0;
    double signal_after_seconds = 0.0;
    std::string program = ""; // empty: the program built with the tests
};

ProgramRun RunProgram(const ProgramOptions &options);

// What a run printed after the banner, which ends with the driver line and
// two empty lines.
std::string AfterBanner(const std::string &out);

// The program built with the tests.
std::string ProgramPath();

// In a child: becomes the program with the options' arguments, VANTOR_SIM
// and working directory (the standard streams are the caller's to set).
[[noreturn]] void ExecProgram(const ProgramOptions &options);

#endif
