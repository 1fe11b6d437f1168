#include "tests/servers/process_state.hpp"

#include <dirent.h>
#include <sys/syscall.h>

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

namespace {

std::filesystem::path tasks_of(pid_t pid) {
    return "/proc/" + std::to_string(pid) + "/task";
}

// The task's system call: its number and first argument, as "/proc/…/syscall" gives them while
// it is inside one ("running", or -1, otherwise).
bool in_call_on(const std::filesystem::path& task, long call, int fd) {
    std::ifstream in(task / "syscall");
    long number = -1;
    std::string first_argument;
    return in >> number >> first_argument && number == call &&
           std::stol(first_argument, nullptr, 16) == fd;
}

bool in_write_to(const std::filesystem::path& task, int fd) {
    return in_call_on(task, SYS_write, fd);
}

} // namespace

bool thread_in_write(pid_t pid, pid_t tid, int fd) {
    return in_write_to(tasks_of(pid) / std::to_string(tid), fd);
}

bool thread_in_read(pid_t pid, pid_t tid, int fd) {
    return in_call_on(tasks_of(pid) / std::to_string(tid), SYS_read, fd);
}

int threads_in_write(pid_t pid, int fd) {
    int count = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks_of(pid), error))
        count += in_write_to(task.path(), fd) ? 1 : 0;
    return count;
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
