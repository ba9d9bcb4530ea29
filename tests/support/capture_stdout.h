// Captures what the code under test prints to standard output.
#ifndef ZARK_TESTS_SUPPORT_CAPTURE_STDOUT_H
#define ZARK_TESTS_SUPPORT_CAPTURE_STDOUT_H

#include <string>

class CaptureStdout {
public:
    CaptureStdout();
    ~CaptureStdout();
    CaptureStdout(const CaptureStdout &) = delete;
    CaptureStdout &operator=(const CaptureStdout &) = delete;

    // Ends the capture and returns everything printed since it began.
    std::string Take();

private:
    int saved_fd_ = -1;
    int capture_fd_ = -1;
};

// Makes standard input read the given text from now on.
void FeedStdin(const std::string &text);

#endif
