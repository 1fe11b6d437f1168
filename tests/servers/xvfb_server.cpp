#include "tests/servers/xvfb_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;

// Numbers below this are left to a user's own displays.
constexpr int lowest_number = 20;
constexpr int highest_number = 254;

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool number_is_free(int n) {
    return !exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
           !exists("/tmp/.X" + std::to_string(n) + "-lock");
}

int random_number() {
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>{lowest_number, highest_number}(generator);
}

// Waits for the child to end, at most `limit`; true when it did.
bool reap(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    if (!reap(pid, 5000ms)) {
        ::kill(pid, SIGKILL);
        reap(pid, 5000ms);
    }
}

// posix_spawn cannot change the user: fork, then only async-signal-safe calls until exec.
int spawn_as(const Account& account, int ready_fd, int child_ready_fd, char** argv, pid_t& pid) {
    pid = ::fork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 ||
            ::dup2(ready_fd, child_ready_fd) < 0 || !become(account))
            ::_exit(126);
        ::execvp("Xvfb", argv);
        ::_exit(127);
    }
    return 0;
}

} // namespace

int unused_display_number() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int n = random_number();
        if (number_is_free(n))
            return n;
    }
    throw std::runtime_error("no unused X display number");
}

XvfbServer::XvfbServer() : XvfbServer(std::optional<Account>{}) {}

XvfbServer::XvfbServer(const Account& account) : XvfbServer(std::optional<Account>{account}) {}

XvfbServer::XvfbServer(std::optional<Account> account) : account_(account) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        // Another test may take the same free number at the same moment: Xvfb's own lock
        // then makes one of the two fail, and that one tries another number.
        if (start_on(unused_display_number()))
            return;
    }
    throw std::runtime_error("could not start Xvfb");
}

XvfbServer::~XvfbServer() {
    kill();
}

void XvfbServer::kill() {
    if (pid_ > 0)
        stop(pid_);
    pid_ = -1;
}

void XvfbServer::restart() {
    kill();
    const int number = number_;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (start_on(number))
            return;
        std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("could not restart Xvfb on :" + std::to_string(number));
}

bool XvfbServer::start_on(int number) {
    // Xvfb writes the display number to -displayfd once it accepts connections.
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    constexpr int child_ready_fd = 3;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ready[1], child_ready_fd);

    const std::string display = ":" + std::to_string(number);
    const std::string fd_text = std::to_string(child_ready_fd);
    // -noreset: otherwise the server resets when its last client leaves, and a client
    // connecting right then is refused.
    std::vector<std::string> args{"Xvfb",       display, "-nolisten", "tcp", "-noreset",
                                  "-displayfd", fd_text, "-screen",   "0",   "640x480x24"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int spawned = 0;
    if (account_) {
        posix_spawn_file_actions_destroy(&actions);
        spawned = spawn_as(*account_, ready[1], child_ready_fd, argv.data(), pid);
    } else {
        spawned = ::posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    ::close(ready[1]);
    if (spawned != 0) {
        ::close(ready[0]);
        throw std::runtime_error("could not run Xvfb");
    }

    // The number arrives when the server is ready; end of file means it gave up.
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    bool up = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms)
            break;
        pollfd p{ready[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[32];
        ssize_t n = ::read(ready[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.find('\n') != std::string::npos) {
            up = true;
            break;
        }
    }
    ::close(ready[0]);
    if (!up) {
        stop(pid);
        return false;
    }
    number_ = number;
    pid_ = pid;
    return true;
}

} // namespace quillfen::test
