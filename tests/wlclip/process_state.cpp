#include "tests/wlclip/process_state.hpp"

#include <dirent.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace quillfen::test {

namespace fs = std::filesystem;

std::set<int> open_fds() {
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            fds.insert(std::stoi(entry->d_name));
    }
    fds.erase(::dirfd(dir));
    ::closedir(dir);
    return fds;
}

int thread_count() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

int serving_threads() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "wlclip-serve")
            ++n;
    }
    return n;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace quillfen::test
