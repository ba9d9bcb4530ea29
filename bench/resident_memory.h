// Resident memory of the benchmark process, for figures of peak memory per
// command or transaction.
#ifndef ZARK_BENCH_RESIDENT_MEMORY_H
#define ZARK_BENCH_RESIDENT_MEMORY_H

#include <cstdint>
#include <fstream>
#include <string>

// A figure of /proc/self/status in bytes, such as "VmRSS" or "VmHWM"; 0 when absent.
inline std::int64_t StatusField(const char *name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stoll(line.substr(prefix.size())) * 1024;
        }
    }
    return 0;
}

// Starts VmHWM again from the present resident size.
inline void ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

#endif
