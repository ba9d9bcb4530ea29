// What the node's tests share: the raw SSDTP2 client (ssdtp_wire) and waiting
// for the node's log.
#ifndef ZARK_TESTS_PLATFORM_VANTOR_NODE_TEST_SUPPORT_H
#define ZARK_TESTS_PLATFORM_VANTOR_NODE_TEST_SUPPORT_H

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ssdtp_wire.h"

namespace node_test {

using namespace ssdtp_wire;
using RawClient = Link;

// Waits until the log holds a line containing every one of the needles; that line, or empty.
inline std::string WaitForLogLine(const std::filesystem::path &log, const std::vector<std::string> &needles,
                                  double seconds = 5.0)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    do {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            bool all = true;
            for (const std::string &needle : needles) all = all && line.find(needle) != std::string::npos;
            if (all) return line;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < until);
    return "";
}

} // namespace node_test

#endif
