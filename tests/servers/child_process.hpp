// Runs a piece of test code (or the service binary) in a child process with its own standard
// output and error, so tests can watch streams, exit statuses and fatal conditions without
// disturbing the test runner.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

using StdoutMode = WatchOptions::Stdout;

struct ChildOptions {
    StdoutMode stdout_mode = StdoutMode::pipe;
    // The child is killed (its whole process group) after this long.
    std::chrono::milliseconds timeout = std::chrono::seconds(10);
    // Stop the child once standard output holds a full line.
    bool stop_after_first_stdout_line = false;
    // Reset SIGPIPE to its default in the child (for running a program, whose
    // own start-up must then ignore it).
    bool default_sigpipe = false;
};

// Forks; the child, leader of its own process group, runs `body` and exits
// with its return value. A child killed at `timeout` still reports the signal that ended it.
RunResult run_in_child(const std::function<int()>& body, const ChildOptions& options = {});

// In the child: one line on standard output with a single write, for the parent to find in `out`.
void note(const std::string& text);

} // namespace quillfen::test
