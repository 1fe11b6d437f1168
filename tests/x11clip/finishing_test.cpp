// A clipboard's owner finished, as a process about to end finishes it: the incremental transfers
// under way complete, or are given up once their requestor stalls; no new request is answered;
// then the owner thread ends. Each case runs in a child process, as an ending is a process's
// last work.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/servers/child_process.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"
#include "x11clip/x11clip.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

// Numbered lines, so that a lost or misplaced chunk shows.
std::string numbered_lines(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line)
        text += std::to_string(line) + "\n";
    text.resize(size);
    return text;
}

TEST(X11ClipFinishing, TransfersUnderWayEndAndNewRequestsAreRefused) {
    XvfbServer server;
    struct Case {
        const char* name;
        bool requestor_stalls;
        const char* transfer; // what the requestor under way got
    };
    for (const Case c : {Case{"the requestor reads on", false, "whole, with the closing chunk"},
                         Case{"the requestor stalls", true, "stalled"}}) {
        SCOPED_TRACE(c.name);
        const auto result = run_in_child([&]() -> int {
            auto clipboard = x11clip::Clipboard::create(server.display());
            RawClient requestor(server.display());
            RawClient latecomer(server.display());
            const std::string text = numbered_lines(requestor.max_request_bytes());
            if (!clipboard || !clipboard->set_string(text))
                return 2;
            const int threads = thread_count();
            auto by = std::chrono::steady_clock::now();
            const auto ask_to_finish = [&] {
                by = std::chrono::steady_clock::now() + 5s;
                clipboard->finish_serving(by);
                note(latecomer.convert("TARGETS").refused ? "latecomer refused"
                                                          : "latecomer answered");
            };
            if (c.requestor_stalls) {
                requestor.stall_incremental("UTF8_STRING", 1);
                ask_to_finish();
                note("stalled");
            } else {
                const auto answer = requestor.convert("UTF8_STRING", [&](std::size_t taken) {
                    if (taken == 1)
                        ask_to_finish();
                });
                const bool whole =
                    answer.bytes == text && !answer.chunks.empty() && answer.chunks.back() == 0;
                note(whole ? "whole, with the closing chunk" : "cut");
            }
            clipboard->wait_for_serving(by);
            // Its loop is over once waited for; the thread itself leaves a moment later.
            note(eventually([&] { return thread_count() == threads - 1; }) ? "owner thread ended"
                                                                           : "owner thread runs");
            return 0;
        });
        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_EQ(result.out,
                  std::string("latecomer refused\n") + c.transfer + "\nowner thread ended\n");
    }
}

} // namespace
} // namespace quillfen::test
