#include "tests/servers/process_state.hpp"

#include <dirent.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace quillfen::test {

std::set<int> open_fds() {
    std::set<int> fds;
    std::unique_ptr<DIR, int (*)(DIR*)> dir{::opendir("/proc/self/fd"), ::closedir};
    while (dirent* entry = ::readdir(dir.get()))
        if (entry->d_name[0] != '.')
            fds.insert(std::stoi(entry->d_name));
    fds.erase(::dirfd(dir.get()));
    return fds;
}

int thread_count() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

bool process_ended(pid_t pid) {
    // The state is the first field after the command, which stands in parentheses.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    return close == std::string::npos || line.size() < close + 3 || line[close + 2] == 'Z' ||
           line[close + 2] == 'X';
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace quillfen::test
