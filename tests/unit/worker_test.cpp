// The worker loop with scripted discovery, sync loop, clock and pauses, run in a child process
// because every way out of it ends the process.

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "debug_text.hpp"
#include "log.hpp"
#include "tests/servers/child_process.hpp"
#include "tests/servers/watched_process.hpp"
#include "worker.hpp"

namespace {

using namespace std::chrono_literals;
using quillfen::ClipboardList;
using quillfen::Discovered;
using quillfen::MyError;
using quillfen::WallTime;
using quillfen::WorkerSteps;
using quillfen::test::count_of;
using quillfen::test::run_in_child;

int alive_clipboards = 0;

// Counts how many exist, to show when the worker releases a list.
class TrackedClipboard final : public quillfen::Clipboard {
  public:
    TrackedClipboard() { ++alive_clipboards; }
    ~TrackedClipboard() override { --alive_clipboards; }
    void debug_fmt(quillfen::Formatter& f) const override { f.write("TrackedClipboard"); }
    std::string display() const override { return "tracked"; }
    std::expected<std::string, MyError> get() override { return std::string(); }
    std::expected<void, MyError> set(std::string_view) override { return {}; }
};

void note(const std::string& text) {
    const std::string line = "[" + text + "]\n";
    [[maybe_unused]] const auto written = write(STDOUT_FILENO, line.data(), line.size());
}

struct Script {
    // Given the call number (from 1); an empty list when not set.
    std::function<std::expected<ClipboardList, MyError>(int)> discover;
    // Given the call number and the clock, which it may move; NoClipboards when not set.
    std::function<MyError(int, WallTime&)> sync;
    // The start text that discovery number N gives; the empty text when not set.
    std::function<std::string(int)> start_text;
};

// Runs the worker loop on a clock that only the script and the pauses move.
quillfen::test::RunResult run_worker(const Script& script) {
    return run_in_child([&script]() -> int {
        quillfen::log::level::set(quillfen::Level::info);
        quillfen::log::timestamp::set(false);
        auto clock = std::make_shared<WallTime>(WallTime{} + std::chrono::seconds(1'765'000'000));
        auto discoveries = std::make_shared<int>(0);
        auto syncs = std::make_shared<int>(0);
        WorkerSteps steps{
            .discover = [&script,
                         discoveries](const ClipboardList&) -> std::expected<Discovered, MyError> {
                ++*discoveries;
                note(fmt::format("discover {} alive={}", *discoveries, alive_clipboards));
                auto list = script.discover ? script.discover(*discoveries) : ClipboardList{};
                if (!list)
                    return std::unexpected(std::move(list.error()));
                return Discovered{.clipboards = std::move(*list),
                                  .start_text = script.start_text ? script.start_text(*discoveries)
                                                                  : std::string()};
            },
            .sync = [&script, clock, syncs](const ClipboardList& list,
                                            const std::string& start_text) -> MyError {
                ++*syncs;
                note(fmt::format("sync {} size={} alive={}{}", *syncs, list.size(),
                                 alive_clipboards,
                                 start_text.empty() ? "" : " start=" + start_text));
                if (script.sync)
                    return script.sync(*syncs, *clock);
                return MyError::NoClipboards{};
            },
            .now = [clock] { return *clock; },
            .pause =
                [clock](const ClipboardList&, std::chrono::nanoseconds d) {
                    note(fmt::format("pause {}ns", d.count()));
                    *clock += std::chrono::duration_cast<WallTime::duration>(d);
                },
        };
        quillfen::run_with(steps);
    });
}

std::string crash_of(int count, const std::string& cause) {
    std::string causes;
    for (int i = 0; i < count; ++i)
        causes += (i == 0 ? "" : ", ") + cause;
    return "Crash { msg: \"too many errors, exiting\", cause: [" + causes + "] }\n";
}

TEST(Worker, SixQuickNoClipboardsErrorsGiveUpWithACrashOfSixCauses) {
    const auto result = run_worker({});
    ASSERT_EQ(result.exit_status, 101) << result.err;

    std::string expected_err;
    for (int i = 0; i < 6; ++i)
        expected_err += "FATAL - action exited with error: NoClipboards\n";
    EXPECT_EQ(result.err, expected_err + crash_of(6, "NoClipboards"));

    std::string expected_out = " INFO - starting quillfen\n[discover 1 alive=0]\n";
    for (int i = 1; i <= 5; ++i) {
        expected_out += fmt::format("[sync {} size=0 alive=0]\n[discover {} alive=0]\n"
                                    "[pause 1000000000ns]\n INFO - retrying\n",
                                    i, i + 1);
    }
    expected_out += "[sync 6 size=0 alive=0]\n";
    EXPECT_EQ(result.out, expected_out);
}

TEST(Worker, FailedFirstDiscoveryEndsWith101WithoutAFatalLine) {
    Script script;
    script.discover = [](int) { return std::unexpected(MyError{MyError::BorrowError{}}); };
    const auto result = run_worker(script);
    ASSERT_EQ(result.exit_status, 101);
    EXPECT_EQ(result.err, "BorrowError(BorrowError)\n");
    EXPECT_EQ(result.out, " INFO - starting quillfen\n[discover 1 alive=0]\n");
}

TEST(Worker, FailedRediscoveryEndsWith101AfterTheLoggedError) {
    Script script;
    script.discover = [](int call) -> std::expected<ClipboardList, MyError> {
        if (call == 1)
            return ClipboardList{};
        return std::unexpected(MyError{MyError::BorrowMutError{}});
    };
    const auto result = run_worker(script);
    ASSERT_EQ(result.exit_status, 101);
    EXPECT_EQ(result.err,
              "FATAL - action exited with error: NoClipboards\nBorrowMutError(BorrowMutError)\n");
    EXPECT_EQ(result.out.find("retrying"), std::string::npos);
}

TEST(Worker, NewListIsBuiltWhileTheOldOneIsStillHeld) {
    Script script;
    script.discover = [](int) {
        ClipboardList list;
        list.push_back(std::make_unique<TrackedClipboard>());
        return list;
    };
    const auto result = run_worker(script);
    ASSERT_EQ(result.exit_status, 101);
    // Every rediscovery runs while the previous list lives; each sync sees only the new list.
    EXPECT_EQ(count_of(result.out, "discover 1 alive=0]"), 1u) << result.out;
    for (int i = 2; i <= 6; ++i)
        EXPECT_EQ(count_of(result.out, fmt::format("[discover {} alive=1]", i)), 1u) << result.out;
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(count_of(result.out, fmt::format("[sync {} size=1 alive=1]", i)), 1u)
            << result.out;
    }
}

TEST(Worker, EachSyncStartsFromTheTextItsDiscoveryGave) {
    Script script;
    script.start_text = [](int call) { return fmt::format("text {}", call); };
    const auto result = run_worker(script);
    ASSERT_EQ(result.exit_status, 101);
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(count_of(result.out, fmt::format("[sync {} size=0 alive=0 start=text {}]", i, i)),
                  1u)
            << result.out;
}

TEST(Worker, SpacingOfErrorsDecidesWhenTheWorkerGivesUp) {
    struct Case {
        std::chrono::seconds spacing;
        int errors_until_giving_up; // 0: never, within the errors tried
    };
    for (const Case c : {Case{19s, 20}, Case{20s, 0}, Case{6s, 6}}) {
        SCOPED_TRACE(c.spacing.count());
        Script script;
        script.sync = [c](int call, WallTime& clock) -> MyError {
            if (call > 400)
                _exit(0);
            // The worker pauses one second before each further sync.
            if (call > 1)
                clock += c.spacing - 1s;
            return MyError::NoClipboards{};
        };
        const auto result = run_worker(script);
        if (c.errors_until_giving_up == 0) {
            EXPECT_EQ(result.exit_status, 0);
            EXPECT_EQ(count_of(result.err, "action exited with error: NoClipboards"), 400u);
        } else {
            EXPECT_EQ(result.exit_status, 101);
            EXPECT_TRUE(result.err.ends_with(crash_of(c.errors_until_giving_up, "NoClipboards")))
                << result.err;
        }
    }
}

TEST(Worker, WallClockSetBackCountsEarlierErrorsAsJustRecorded) {
    Script script;
    script.sync = [](int call, WallTime& clock) -> MyError {
        if (call == 3)
            clock -= 1h;
        return MyError::NoClipboards{};
    };
    const auto result = run_worker(script);
    ASSERT_EQ(result.exit_status, 101);
    EXPECT_TRUE(result.err.ends_with(crash_of(6, "NoClipboards"))) << result.err;
}

} // namespace
