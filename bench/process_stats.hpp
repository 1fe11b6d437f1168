// What the benchmarks read about a running process from /proc.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace bench {

// Clock ticks of user and system time of a process, all its threads included.
inline long cpu_ticks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

// User plus system time of a process, in milliseconds.
inline double cpu_ms(pid_t pid) {
    return static_cast<double>(cpu_ticks(pid)) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A child of `parent` (the service's worker under its supervisor).
inline std::optional<pid_t> child_of(pid_t parent) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string state;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent)
            return std::stoi(name);
    }
    return std::nullopt;
}

// The peak resident set of a process (VmHWM), in KiB; none once it is gone.
inline std::optional<long> peak_rss_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return std::nullopt;
}

inline double percent_of_a_core(long ticks, std::chrono::duration<double> period) {
    return 100.0 * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
           period.count();
}

} // namespace bench
