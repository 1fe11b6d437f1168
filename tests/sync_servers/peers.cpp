#include "peers.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "log.hpp"
#include "sync.hpp"
#include "tests/servers/exec_pointers.hpp"

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;

// Spawns `argv` with exactly `env`, standard input `in` and standard output `out`.
pid_t spawn(std::vector<std::string> argv, Environment env, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto args = exec_pointers(argv);
    auto vars = exec_pointers(env);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), vars.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot run " + argv[0]);
    return pid;
}

int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads `fd` until its end, a line that contains `wanted` (when given), or `limit`.
std::string read_from(int fd, std::chrono::milliseconds limit, const std::string& wanted = {}) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (!wanted.empty()) {
            auto at = text.find(wanted);
            if (at != std::string::npos && text.find('\n', at) != std::string::npos)
                return text;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms)
            return text;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

Environment x11_client(const std::string& display) {
    return {"PATH=/usr/local/bin:/usr/bin:/bin", "DISPLAY=" + display};
}

Environment wayland_client(const std::string& runtime_dir, const std::string& socket) {
    return {"PATH=/usr/local/bin:/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime_dir,
            "WAYLAND_DISPLAY=" + socket};
}

int copy_with(const std::vector<std::string>& argv, const Environment& env,
              const std::string& input) {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = spawn(argv, env, in[0], null);
    ::close(in[0]);
    ::close(null);
    [[maybe_unused]] ssize_t written = ::write(in[1], input.data(), input.size());
    ::close(in[1]);
    return wait_for(pid);
}

std::string paste_with(const std::vector<std::string>& argv, const Environment& env) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t pid = spawn(argv, env, null, out[1]);
    ::close(out[1]);
    ::close(null);
    std::string text = read_from(out[0], 5000ms);
    ::close(out[0]);
    ::kill(pid, SIGKILL); // only matters when it hung
    wait_for(pid);
    return text;
}

std::string xclip_paste(const std::string& display) {
    return paste_with({"xclip", "-o", "-selection", "clipboard"}, x11_client(display));
}

std::string wl_paste(const std::string& runtime_dir, const std::string& socket) {
    return paste_with({"wl-paste", "-n"}, wayland_client(runtime_dir, socket));
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

SyncWorker::SyncWorker() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        log::level::set(Level::info);
        log::timestamp::set(false);
        auto clipboards = get_clipboards();
        if (clipboards)
            keep_synced(*clipboards);
        ::_exit(3);
    }
    ::close(out[1]);
    output_ = out[0];
    const std::string wanted = "Using clipboards: ";
    const std::string text = read_from(output_, 20000ms, wanted);
    const auto at = text.find(wanted);
    if (at == std::string::npos) {
        ::kill(pid_, SIGKILL);
        wait_for(pid_);
        ::close(output_);
        throw std::runtime_error("the sync worker did not finish its discovery:\n" + text);
    }
    clipboards_line_ = text.substr(at, text.find('\n', at) - at);
}

SyncWorker::~SyncWorker() {
    ::kill(pid_, SIGKILL);
    wait_for(pid_);
    ::close(output_);
}

} // namespace quillfen::test
