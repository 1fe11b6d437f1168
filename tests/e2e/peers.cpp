#include "peers.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quillfen::testing {

namespace {

using namespace std::chrono_literals;

struct ToolResult {
    int status = -1;
    std::string out;
};

// Runs a program with `input` on its standard input; its standard output is collected when
// `capture`, else discarded (so that a background server it leaves holds no pipe of ours).
// A program that takes longer than `limit` is killed.
ToolResult run_tool(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    std::string_view input, bool capture, std::chrono::milliseconds limit = 10s) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork");
    }
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        for (const auto& entry : env) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        const int null = open("/dev/null", O_RDWR);
        dup2(in[0], STDIN_FILENO);
        dup2(capture ? out[1] : null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // Writing all at once is fine for the short texts of the tests.
    std::signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] const auto written = write(in[1], input.data(), input.size());
    close(in[1]);

    ToolResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fd{out[0], POLLIN, 0};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        result.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    result.status = raw;
    return result;
}

std::vector<std::string> x_env(const std::string& display) {
    return {"DISPLAY=" + display};
}

std::vector<std::string> wayland_env(const WaylandPeer& compositor) {
    return {"XDG_RUNTIME_DIR=" + compositor.runtime_dir,
            "WAYLAND_DISPLAY=" + compositor.socket_name};
}

void expect_success(const ToolResult& result, const char* what) {
    if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
        throw std::runtime_error(std::string(what) + " failed");
    }
}

} // namespace

void xclip_copy(const std::string& display, std::string_view text) {
    expect_success(
        run_tool({"xclip", "-selection", "clipboard", "-in"}, x_env(display), text, false),
        "xclip -in");
}

std::string xclip_paste(const std::string& display, std::chrono::milliseconds limit) {
    auto result =
        run_tool({"xclip", "-selection", "clipboard", "-out"}, x_env(display), "", true, limit);
    return WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0 ? result.out : "";
}

void xclip_copy_as(const std::string& display, const std::string& type, std::string_view bytes) {
    expect_success(run_tool({"xclip", "-selection", "clipboard", "-t", type, "-in"}, x_env(display),
                            bytes, false),
                   "xclip -t -in");
}

std::string xclip_targets(const std::string& display) {
    auto result = run_tool({"xclip", "-selection", "clipboard", "-t", "TARGETS", "-out"},
                           x_env(display), "", true, 5s);
    return WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0 ? result.out : "";
}

void wl_copy(const WaylandPeer& compositor, std::string_view text) {
    expect_success(run_tool({"wl-copy"}, wayland_env(compositor), text, false), "wl-copy");
}

std::string wl_paste(const WaylandPeer& compositor, std::chrono::milliseconds limit) {
    auto result = run_tool({"wl-paste", "--no-newline"}, wayland_env(compositor), "", true, limit);
    return WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0 ? result.out : "";
}

} // namespace quillfen::testing
