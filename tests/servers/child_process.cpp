#include "tests/servers/child_process.hpp"

#include <unistd.h>

namespace quillfen::test {

RunResult run_in_child(const std::function<int()>& body, const ChildOptions& options) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + options.timeout;
    WatchOptions watch;
    watch.stdout_mode = options.stdout_mode;
    watch.default_sigpipe = options.default_sigpipe;
    WatchedProcess child(body, watch);

    RunResult result;
    const bool ended = child.wait_until(
        [&] {
            if (options.stop_after_first_stdout_line &&
                child.out().find('\n') != std::string::npos) {
                result.stopped_after_line = true;
                return true;
            }
            return child.output_ended();
        },
        options.timeout);
    result.timed_out = !ended;
    if (result.timed_out || result.stopped_after_line)
        child.kill_group();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    auto status = child.wait_exit(std::max(left, std::chrono::milliseconds(0)));
    if (!status) {
        result.timed_out = true;
        child.kill_group();
        status = child.wait_exit(std::chrono::seconds(10));
    }
    result.set_end(status);
    result.out = child.out();
    result.err = child.err();
    return result;
}

void note(const std::string& text) {
    const std::string line = text + "\n";
    [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, line.data(), line.size());
}

} // namespace quillfen::test
