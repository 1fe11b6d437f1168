// A program started for a test whose standard output and error are collected while it runs, so
// that a test can wait for a line, signal the program and look at how it ended.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace quillfen::testing {

struct WatchOptions {
    enum class Stdout { pipe, closed, broken_pipe };
    Stdout stdout_mode = Stdout::pipe;
    // When not -1, standard error is this descriptor instead of a collected pipe.
    int stderr_fd = -1;
    // "NAME=value" entries added to (or replacing in) the environment.
    std::vector<std::string> environment;
    // When set, the program runs as this user (and its group) instead of ours.
    std::optional<std::pair<uid_t, gid_t>> user = std::nullopt;
};

class WatchedProcess {
  public:
    explicit WatchedProcess(const std::vector<std::string>& argv, const WatchOptions& options = {});
    ~WatchedProcess(); // kills the program's whole process group
    WatchedProcess(const WatchedProcess&) = delete;
    WatchedProcess& operator=(const WatchedProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

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
    void collect(int timeout_ms);
    bool reap(bool block);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::optional<int> status_;
    std::string out_;
    std::string err_;
};

// How many times `needle` occurs in `haystack`.
std::size_t count_of(std::string_view haystack, std::string_view needle);

} // namespace quillfen::testing
