// A program (or a piece of test code in a forked child) started for a test, whose standard input
// is fed and whose standard output and error are collected while it runs, so that a test can wait
// for a line, signal the program and look at how it ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/unique_fd.hpp"

namespace quillfen::test {

using util::UniqueFd;

struct OwnedPipe {
    UniqueFd read;
    UniqueFd write;
};
// Both ends close on exec; throws std::runtime_error when none can be made.
OwnedPipe make_pipe();

struct WatchOptions {
    enum class Stdout {
        pipe,        // collected
        closed,      // descriptor 1 not open at all
        broken_pipe, // a pipe whose reader has gone
        discarded,   // /dev/null, so that a server the program leaves behind holds no pipe of ours
    };
    Stdout stdout_mode = Stdout::pipe;
    // When not -1, standard error is this descriptor instead of a collected pipe.
    int stderr_fd = -1;
    // "NAME=value" entries added to (or replacing in) the environment.
    std::vector<std::string> environment = {};
    // When set, the program runs as this user (and its group) instead of ours.
    std::optional<std::pair<uid_t, gid_t>> user = std::nullopt;
    // Fed to standard input, which then ends; without it standard input is ours.
    std::optional<std::string> input = std::nullopt;
    // Standard error goes to /dev/null (stderr_fd is then ignored).
    bool discard_stderr = false;
    // SIGPIPE is reset to its default in the child; false: the child keeps this process's.
    bool default_sigpipe = true;
    // The environment is exactly `environment` instead of ours with it.
    bool only_environment = false;
    // When not empty: the working directory, and a file (made anew) for standard output and
    // error, which a server fills faster than a test would read a pipe.
    std::string directory = {};
    std::string log_file = {};
    // When not 0: sent to the program once this process ends (armed after the user change).
    int death_signal = 0;
    // When not -1, standard output is this descriptor (a terminal, say) instead of stdout_mode.
    int stdout_fd = -1;
    // Copies leave a server behind that must outlive this object: the destructor then ends only
    // the program itself, not its process group.
    bool leave_descendants = false;
};

class WatchedProcess {
  public:
    // Runs `argv`, looked up in PATH when it has no slash.
    explicit WatchedProcess(const std::vector<std::string>& argv, const WatchOptions& options = {});
    // Forks; the child runs `body` and exits with its return value.
    WatchedProcess(const std::function<int()>& body, const WatchOptions& options);
    // Kills the program's whole process group and waits (a few seconds at most) until none of
    // it is left, so that whatever it held is free for the next test.
    ~WatchedProcess();
    WatchedProcess(const WatchedProcess&) = delete;
    WatchedProcess& operator=(const WatchedProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    // Whether both collected streams have reached their end (or were never collected).
    bool output_ended() const { return !out_fd_ && !err_fd_; }

    // Collects output until `done` holds or `timeout` passes; tells whether it held.
    bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    bool wait_for_out(std::string_view text, std::chrono::milliseconds timeout);
    bool wait_for_err(std::string_view text, std::chrono::milliseconds timeout);

    // Waits for the program to end and collects the rest of its output; the raw wait status,
    // or nothing after `timeout`.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

    void signal(int number) const;
    void kill_group() const;

  private:
    void start(const std::function<void()>& run, const WatchOptions& options);
    void collect(int timeout_ms);
    void feed();
    bool reap(bool block);

    pid_t pid_ = -1;
    bool leave_descendants_ = false;
    UniqueFd in_fd_;
    UniqueFd out_fd_;
    UniqueFd err_fd_;
    std::string input_;
    std::size_t fed_ = 0;
    std::optional<int> status_;
    std::string out_;
    std::string err_;
};

// How a program (or a piece of test code in a forked child) run to its end went.
struct RunResult {
    std::optional<int> exit_status; // set when it exited
    std::optional<int> signal;      // set when a signal ended it
    bool timed_out = false;         // it was killed at its limit
    // It was stopped once standard output held a full line (`run_in_child` only).
    bool stopped_after_line = false;
    std::string out;
    std::string err;
    // Whether it exited by itself with status 0.
    bool succeeded() const;
    // Sets `exit_status` or `signal` from a raw wait status; nothing sets neither.
    void set_end(std::optional<int> status);
};

// Runs a program to its end; it is killed (with its process group) after `limit`.
RunResult run(const std::vector<std::string>& argv, const WatchOptions& options = {},
              std::chrono::milliseconds limit = std::chrono::seconds(10));

// How many times `needle` occurs in `haystack`.
std::size_t count_of(std::string_view haystack, std::string_view needle);

} // namespace quillfen::test
