// The service from end to end: the real binary, supervisor and worker, on two Xvfb displays and
// one headless sway, with xclip and wl-copy/wl-paste standing in for the user's programs.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/service_log.hpp"
#include "tests/e2e/three_displays.hpp"
#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

// The message of every "Using clipboards: " line, in order.
std::vector<std::string> clipboard_lists(const std::string& out) {
    static const std::regex line(R"( INFO - Using clipboards: (.*)\n)");
    std::vector<std::string> lists;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
         ++it)
        lists.push_back((*it)[1]);
    return lists;
}

std::string as_debug_text(const std::string& name) {
    return "\"" + name + "\"";
}

// Two X displays and one compositor, with the service running on them.
class ServiceOnThreeDisplays : public ThreeDisplays {
  protected:
    void start(std::vector<std::string> extra_args = {}, WatchOptions options = {}) {
        service_ = start_service(std::move(extra_args), std::move(options));
    }

    // Waits for the n-th list of clipboards (from 1) and returns it.
    std::string wait_for_list(std::size_t n) {
        const bool listed =
            service_->wait_until([&] { return clipboard_lists(service_->out()).size() >= n; }, 60s);
        EXPECT_TRUE(listed) << service_->out() << service_->err();
        return listed ? clipboard_lists(service_->out())[n - 1] : "";
    }

    // Whether every peer but the source reads `text` within the limit.
    bool arrives_everywhere(const std::string& text, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            bool everywhere = true;
            for (const auto& read : readers())
                everywhere = everywhere && read() == text;
            if (everywhere)
                return true;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "\"" << text
                              << "\" did not arrive; the clipboards hold:" << holdings()
                              << "\nthe service logged:\n"
                              << service_->out() << service_->err();
                return false;
            }
            // Collects the service's output meanwhile.
            service_->wait_until([] { return false; }, 100ms);
        }
    }

    std::string holdings() const {
        std::string all;
        for (const auto& read : readers())
            all += " " + shown(read());
        return all;
    }

    std::vector<std::function<std::optional<std::string>()>> readers() const {
        std::vector<std::function<std::optional<std::string>()>> all;
        all.emplace_back([this] { return wl_paste(wayland_); });
        for (const auto* x : {x1_.get(), x2_.get()})
            if (x->running())
                all.emplace_back([x] { return xclip_paste(x->display()); });
        return all;
    }

    std::unique_ptr<WatchedProcess> service_;
};

TEST_F(ServiceOnThreeDisplays, CopyOnAnyDisplayReachesAllOthers) {
    start();
    const std::string list = wait_for_list(1);
    EXPECT_NE(list.find(as_debug_text(wayland_.socket_name)), std::string::npos) << list;
    EXPECT_NE(list.find(as_debug_text(x1_->display())), std::string::npos) << list;
    EXPECT_NE(list.find(as_debug_text(x2_->display())), std::string::npos) << list;

    xclip_copy(x1_->display(), "from the first X display");
    EXPECT_TRUE(arrives_everywhere("from the first X display")) << service_->err();
    wl_copy(wayland_, "from sway, with ünïcödé");
    EXPECT_TRUE(arrives_everywhere("from sway, with ünïcödé")) << service_->err();
    xclip_copy(x2_->display(), "from the second X display\nin two lines");
    EXPECT_TRUE(arrives_everywhere("from the second X display\nin two lines")) << service_->err();

    // The texts may have arrived before the lines that tell of them.
    for (const std::string& source : {x1_->display(), wayland_.socket_name, x2_->display()})
        EXPECT_TRUE(service_->wait_for_out(" INFO - clipboard updated from display " + source, 5s))
            << source << "\n"
            << service_->out();
    EXPECT_EQ(service_->err().find("FATAL"), std::string::npos) << service_->err();
}

TEST_F(ServiceOnThreeDisplays, LostXServerIsDroppedAndARestartedOneIsPickedUpLater) {
    start();
    wait_for_list(1);
    xclip_copy(x1_->display(), "before the loss");
    ASSERT_TRUE(arrives_everywhere("before the loss")) << service_->err();

    x2_->kill();
    EXPECT_TRUE(service_->wait_for_err("FATAL - action exited with error: ", 20s))
        << service_->err();
    const std::string without = wait_for_list(2);
    EXPECT_EQ(without.find(as_debug_text(x2_->display())), std::string::npos) << without;
    EXPECT_NE(without.find(as_debug_text(x1_->display())), std::string::npos) << without;
    EXPECT_TRUE(service_->wait_for_out(" INFO - retrying\n", 10s));
    xclip_copy(x1_->display(), "between the two that are left");
    EXPECT_TRUE(arrives_everywhere("between the two that are left")) << service_->err();

    // The restarted server joins at the next discovery: here that of a new worker, after this
    // one is ended from outside.
    x2_->restart();
    const pid_t worker_pid = latest_worker(service_->out());
    ASSERT_GT(worker_pid, 0);
    const std::string worker = std::to_string(worker_pid);
    kill(worker_pid, SIGKILL);
    EXPECT_TRUE(service_->wait_for_out("child process " + worker +
                                           " completed with: Signaled(Pid(" + worker +
                                           "), SIGKILL, false)",
                                       10s))
        << service_->out();
    const std::string again = wait_for_list(3);
    EXPECT_NE(again.find(as_debug_text(x2_->display())), std::string::npos) << again;
    xclip_copy(x2_->display(), "from the restarted display");
    EXPECT_TRUE(arrives_everywhere("from the restarted display")) << service_->err();
    EXPECT_EQ(service_->err().find("panicked"), std::string::npos) << service_->err();
}

TEST_F(ServiceOnThreeDisplays, RunsOnAndSyncsWithStandardOutputClosed) {
    WatchOptions options;
    options.stdout_mode = WatchOptions::Stdout::closed;
    start({}, options);
    // Without standard output there is no list line to wait for: wait until a copy arrives.
    xclip_copy(x1_->display(), "nobody reads the log");
    EXPECT_TRUE(arrives_everywhere("nobody reads the log", 30s)) << service_->err();
    wl_copy(wayland_, "and it still works");
    EXPECT_TRUE(arrives_everywhere("and it still works")) << service_->err();
    EXPECT_FALSE(service_->wait_exit(0ms)) << service_->err();
    EXPECT_EQ(service_->err().find("FATAL"), std::string::npos) << service_->err();
}

TEST_F(ServiceOnThreeDisplays, ClipboardContentsReachTheLogOnlyWhenAskedFor) {
    for (const bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "with --log-clipboard-contents" : "without");
        start(asked ? std::vector<std::string>{"--log-clipboard-contents"}
                    : std::vector<std::string>{});
        wait_for_list(1);
        const std::string secret = asked ? "secret text 2" : "secret text 1";
        xclip_copy(x1_->display(), secret);
        ASSERT_TRUE(arrives_everywhere(secret)) << service_->err();
        service_->wait_for_out(" INFO - clipboard updated from display ", 5s);
        std::this_thread::sleep_for(500ms);
        service_->wait_until([] { return false; }, 200ms);
        const std::string log = service_->out() + service_->err();
        if (asked) {
            EXPECT_NE(log.find(" INFO - Sensitive: clipboard contents: '" + secret + "'\n"),
                      std::string::npos)
                << log;
        } else {
            EXPECT_EQ(log.find("secret text"), std::string::npos) << log;
            EXPECT_EQ(log.find("Sensitive: "), std::string::npos) << log;
        }
        service_.reset();
    }
}

TEST(ServiceWithoutClipboards, GivesUpAfterTheFourthWorkerAbort) {
    SKIP_UNLESS_ISOLATED();
    // No X server in the namespace and no compositor in the runtime directory.
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillfen-empty-runtime-XXXXXX").string();
    const std::filesystem::path runtime_dir = mkdtemp(pattern.data());
    WatchedProcess service(
        {QUILLFEN_BINARY, "--hide-timestamp"},
        WatchOptions{.environment = {"XDG_RUNTIME_DIR=" + runtime_dir.string()}});
    const auto status = service.wait_exit(120s);
    std::filesystem::remove_all(runtime_dir);
    ASSERT_TRUE(status) << service.out() << service.err();
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 101);

    const std::string& err = service.err();
    EXPECT_EQ(count_of(err, "FATAL - action exited with error: NoClipboards\n"), 24u) << err;
    const std::string crash =
        "Crash { msg: \"too many errors, exiting\", cause: [NoClipboards, NoClipboards, "
        "NoClipboards, NoClipboards, NoClipboards, NoClipboards] }\n";
    EXPECT_EQ(count_of(err, crash), 4u) << err;
    EXPECT_EQ(count_of(err, " panicked. giving it another try\n"), 3u) << err;
    EXPECT_TRUE(
        std::regex_search(err, std::regex(R"(child process \d+ panicked too many times\.\n$)")))
        << err;
    EXPECT_EQ(count_of(service.out(), " INFO - started quillfen manager\n"), 1u);
    EXPECT_EQ(count_of(service.out(), " INFO - starting quillfen\n"), 4u);
    EXPECT_EQ(count_of(service.out(), " INFO - retrying\n"), 20u);
}

} // namespace
} // namespace quillfen::test
