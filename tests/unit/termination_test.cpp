// The worker's pauses once SIGTERM is recorded: a request, whenever it comes, ends the process
// by SIGTERM at the next pause and not before. Run in child processes, which end that way.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "termination.hpp"
#include "tests/servers/child_process.hpp"

namespace {

using namespace std::chrono_literals;
using quillfen::test::run_in_child;

void note(const std::string& text) {
    const std::string line = "[" + text + "]\n";
    [[maybe_unused]] const auto written = write(STDOUT_FILENO, line.data(), line.size());
}

TEST(Termination, ARequestEndsTheProcessBySigtermAtThePauseAndNotBefore) {
    enum class Request { none, before_the_pause, during_the_pause };
    struct Case {
        const char* name;
        Request request;
        std::chrono::nanoseconds pause;
    };
    for (const Case c : {Case{"no request", Request::none, 10ms},
                         Case{"before the pause", Request::before_the_pause, 10ms},
                         // Far longer than the child may live: only an end cuts it short.
                         Case{"during the pause", Request::during_the_pause, 1h}}) {
        SCOPED_TRACE(c.name);
        const auto result = run_in_child([&c]() -> int {
            quillfen::record_end_requests();
            if (c.request == Request::before_the_pause)
                ::raise(SIGTERM);
            note("working on");
            // Sent to the process: any thread may take it, here most likely the sender.
            std::jthread sender;
            if (c.request == Request::during_the_pause)
                sender = std::jthread([] {
                    std::this_thread::sleep_for(200ms);
                    ::kill(::getpid(), SIGTERM);
                });
            quillfen::pause_or_end(c.pause);
            note("pause returned");
            return 0;
        });
        ASSERT_FALSE(result.timed_out) << result.out << result.err;
        if (c.request == Request::none) {
            EXPECT_EQ(result.exit_status, 0);
            EXPECT_EQ(result.out, "[working on]\n[pause returned]\n");
        } else {
            EXPECT_EQ(result.signal, SIGTERM);
            EXPECT_EQ(result.out, "[working on]\n");
        }
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
