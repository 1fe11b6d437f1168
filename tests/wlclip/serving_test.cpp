// A clipboard's serving threads finished, as a process about to end finishes them: they take no
// more requests, the transfers under way end whole or are given up once their reader stalls, and
// what was given up is counted. Each case runs in a child process, as an ending is a process's
// last work.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <variant>

#include "tests/servers/child_process.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/wlclip/use_compositor.hpp"
#include "wlclip/wlclip.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

TEST(WlclipServing, StoppedThreadsTakeNoRequestsAndEndTheirTransfersOrCountThem) {
    SwayServer sway;
    ScopedEnvironment environment;
    use_compositor(sway, environment); // for wl-copy
    struct Case {
        const char* name;
        bool replaced; // another client takes the selection before the stop
        bool reader_stalls;
        const char* outcome;
    };
    for (const Case c :
         {Case{"the reader reads on", false, false,
               "whole\nnothing cut\nno serving thread\nwithdrawn\n"},
          Case{"the reader stalls", false, true,
               "stalled\n1 cut, with bytes missing\nno serving thread\nwithdrawn\n"},
          // The thread waits on the transfer alone then; the stop must still reach it.
          Case{"the reader stalls after the offer was replaced", true, true,
               "stalled\n1 cut, with bytes missing\nno serving thread\n"}}) {
        SCOPED_TRACE(c.name);
        const auto result = run_in_child(
            [&]() -> int {
                wlclip::Clipboard clipboard(address_of(sway));
                const std::string text(3 << 20, 's'); // far more than a pipe holds
                if (!clipboard.copy_text(text))
                    return 2;
                auto reader = clipboard.get_contents();
                char first = 0;
                if (!reader || ::read(reader->pipe.get(), &first, 1) != 1)
                    return 3; // the transfer has not begun
                if (c.replaced) {
                    wl_copy(environment_compositor, "taken");
                    if (!eventually([&] { return clipboard.own_selection() == nullptr; }))
                        return 4;
                    // The thread goes from the offer to its transfers.
                    std::this_thread::sleep_for(200ms);
                }

                const auto by = std::chrono::steady_clock::now() + 5s;
                clipboard.finish_serving(by);
                if (c.reader_stalls) {
                    note("stalled");
                } else {
                    auto rest = wlclip::read_to_end(reader->pipe.get());
                    note(rest && first + *rest == text ? "whole" : "cut");
                }
                const wlclip::Unfinished cut = clipboard.wait_for_serving(by);
                if (cut.transfers == 0)
                    note("nothing cut");
                else
                    note(std::to_string(cut.transfers) + " cut" +
                         (cut.missing_bytes > 0 && cut.missing_bytes < text.size()
                              ? ", with bytes missing"
                              : ", with no bytes missing"));
                // The thread has ended with its last work.
                note(eventually([&] { return clipboard.serving_threads() == 0; })
                         ? "no serving thread"
                         : "a serving thread runs");
                if (c.replaced)
                    return 0; // the selection is the other client's
                const bool withdrawn = eventually([&] {
                    auto contents = clipboard.get_contents();
                    return !contents &&
                           std::holds_alternative<wlclip::paste::ClipboardEmpty>(contents.error());
                });
                note(withdrawn ? "withdrawn" : "still offered");
                return 0;
            },
            {.timeout = 40s});
        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_EQ(result.out, c.outcome);
    }
}

} // namespace
} // namespace quillfen::test
