// The worker's pauses once SIGTERM is recorded: a request, whenever it comes, ends the process
// by SIGTERM at the next pause and not before. Run in child processes, which end that way.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "log.hpp"
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
            quillfen::pause_or_end({}, c.pause);
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

// Says in order when it is asked to finish and waited for, and how many transfers it cut.
class FinishingClipboard final : public quillfen::Clipboard {
  public:
    FinishingClipboard(std::string name, quillfen::CutTransfers cut)
        : name_(std::move(name)), cut_(cut) {}
    void debug_fmt(quillfen::Formatter& f) const override { f.write(name_); }
    std::string display() const override { return name_; }
    std::expected<std::string, quillfen::MyError> get() override { return std::string(); }
    std::expected<void, quillfen::MyError> set(std::string_view) override { return {}; }
    void finish_serving(std::chrono::steady_clock::time_point by) override {
        note("finish " + name_);
        by_ = by;
    }
    quillfen::CutTransfers wait_for_serving(std::chrono::steady_clock::time_point by) override {
        note("wait " + name_ + (by == by_ ? ", same bound" : ", another bound"));
        return cut_;
    }

  private:
    std::string name_;
    quillfen::CutTransfers cut_;
    std::optional<std::chrono::steady_clock::time_point> by_;
};

TEST(Termination, EveryClipboardIsFinishedBeforeAnyIsWaitedForAndWhatWasCutIsLoggedOnce) {
    struct Case {
        const char* name;
        quillfen::CutTransfers first, second;
        std::string err;
    };
    for (const Case& c :
         {Case{"nothing cut", {}, {}, ""},
          Case{"cut on both",
               {.transfers = 1, .missing_bytes = 4},
               {.transfers = 2, .missing_bytes = 6},
               "ERROR - ending the worker cut 3 wayland transfer(s) short, missing 10 bytes\n"}}) {
        SCOPED_TRACE(c.name);
        const auto result = run_in_child([&c]() -> int {
            quillfen::log::timestamp::set(false);
            quillfen::ClipboardList clipboards;
            clipboards.push_back(std::make_unique<FinishingClipboard>("a", c.first));
            clipboards.push_back(std::make_unique<FinishingClipboard>("b", c.second));
            quillfen::end_as_asked(clipboards);
        });
        ASSERT_FALSE(result.timed_out) << result.out << result.err;
        EXPECT_EQ(result.signal, SIGTERM);
        EXPECT_EQ(result.out,
                  "[finish a]\n[finish b]\n[wait a, same bound]\n[wait b, same bound]\n");
        EXPECT_EQ(result.err, c.err);
    }
}

} // namespace
