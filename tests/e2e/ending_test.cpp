// A worker asked to end (SIGTERM, as its supervisor's timer and systemd send it) while a reader
// takes a large text from it: the paste arrives whole, or visibly not, and the supervisor sees
// the worker end by SIGTERM as always. Two Xvfb displays and one headless sway.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/service_log.hpp"
#include "tests/e2e/three_displays.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/x11clip/x11_clients.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

// 16 MiB of numbered lines: far more than pipes and a requestor's buffers hold, and a piece
// missing or out of place shows.
std::string large_text() {
    std::string text;
    text.reserve(16 << 20);
    for (int line = 0; text.size() < (16u << 20); ++line)
        text += "line " + std::to_string(line) + " of the large text\n";
    text.resize(16 << 20);
    return text;
}

class Ending : public ThreeDisplays {
  protected:
    void SetUp() override {
        ThreeDisplays::SetUp();
        if (IsSkipped())
            return;
        service_ = start_service();
        ASSERT_TRUE(service_->wait_for_out(" INFO - Using clipboards: ", 60s))
            << service_->out() << service_->err();
        // Copied on the second display, so that the worker serves it on the others.
        xclip_copy(x2_->display(), text_);
    }

    // Whether the text has reached `display` within a generous limit.
    bool arrives(const std::function<std::optional<std::string>()>& read) {
        const bool arrived = service_->wait_until([&] { return read() == text_; }, 120s);
        EXPECT_TRUE(arrived) << service_->out() << service_->err();
        return arrived;
    }

    WatchOptions wayland_reader() const {
        return {.environment = {"XDG_RUNTIME_DIR=" + wayland_.runtime_dir,
                                "WAYLAND_DISPLAY=" + wayland_.socket_name},
                .discard_stderr = true};
    }

    // The pid of the worker running now.
    pid_t worker() const { return latest_worker(service_->out()); }

    // Whether the supervisor logs that `pid` ended by SIGTERM, within a generous limit.
    bool ended_by_sigterm(pid_t pid) const {
        const std::string id = std::to_string(pid);
        return service_->wait_for_out("child process " + id + " completed with: Signaled(Pid(" +
                                          id + "), SIGTERM, false)\n",
                                      60s);
    }

    const std::string text_ = large_text();
    std::unique_ptr<WatchedProcess> service_;
};

TEST_F(Ending, AWaylandPasteUnderWayArrivesWhole) {
    ASSERT_TRUE(arrives([&] { return wl_paste(wayland_, {}, 30s); }));
    const pid_t worker_pid = worker();
    ASSERT_GT(worker_pid, 0);
    // The first byte shows that the transfer has begun; the rest is read a second later.
    WatchedProcess paste({"bash", "-c",
                          "set -o pipefail; wl-paste -n | "
                          "(dd bs=1 count=1 status=none; sleep 1; cat)"},
                         wayland_reader());
    ASSERT_TRUE(paste.wait_until([&] { return !paste.out().empty(); }, 20s));
    ::kill(worker_pid, SIGTERM);

    const auto status = paste.wait_exit(60s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_EQ(paste.out().size(), text_.size());
    EXPECT_TRUE(paste.out() == text_);
    EXPECT_TRUE(ended_by_sigterm(worker_pid)) << service_->out() << service_->err();
    EXPECT_EQ(service_->err().find("ERROR"), std::string::npos) << service_->err();
}

TEST_F(Ending, AnIncrementalX11PasteUnderWayArrivesWhole) {
    ASSERT_TRUE(arrives([&] { return xclip_paste(x1_->display(), 30s); }));
    const pid_t worker_pid = worker();
    ASSERT_GT(worker_pid, 0);
    RawClient requestor(x1_->display());
    RawClient::Answer answer;
    // After the first chunk the worker is asked to end, and the requestor waits a second.
    ASSERT_NO_THROW(answer = requestor.convert("UTF8_STRING",
                                               [&](std::size_t taken) {
                                                   if (taken == 1) {
                                                       ::kill(worker_pid, SIGTERM);
                                                       std::this_thread::sleep_for(1s);
                                                   }
                                               }))
        << service_->out() << service_->err();
    EXPECT_EQ(answer.type, requestor.atom("INCR"));
    ASSERT_FALSE(answer.chunks.empty());
    EXPECT_EQ(answer.chunks.back(), 0u);
    EXPECT_EQ(answer.bytes.size(), text_.size());
    EXPECT_TRUE(answer.bytes == text_);
    EXPECT_TRUE(ended_by_sigterm(worker_pid)) << service_->out() << service_->err();
}

TEST_F(Ending, AWaylandReaderThatHoldsUpTheEndIsCutAndTheCutIsLogged) {
    struct Case {
        const char* name;
        const char* reader; // after the first byte, which shows that the transfer has begun
    };
    pid_t ended = -1;
    for (const Case c : {
             Case{"never reads again", "exec sleep 600"},
             // Enough progress that no single wait reaches the idle limit, far too little to
             // finish within the ending's bound.
             Case{"trickles", "while sleep 0.5; do dd bs=64K count=1 status=none >/dev/null; done"},
         }) {
        SCOPED_TRACE(c.name);
        // A worker after the one ended before gives every clipboard the text again.
        ASSERT_TRUE(service_->wait_until([&] { return worker() != ended; }, 60s));
        ASSERT_TRUE(arrives([&] { return wl_paste(wayland_, {}, 30s); }));
        const pid_t worker_pid = ended = worker();
        ASSERT_GT(worker_pid, 0);
        WatchedProcess paste(
            {"bash", "-c",
             std::string("wl-paste -n | (dd bs=1 count=1 status=none; ") + c.reader + ")"},
            wayland_reader());
        ASSERT_TRUE(paste.wait_until([&] { return !paste.out().empty(); }, 20s));
        const std::size_t logged_before = service_->err().size();
        ::kill(worker_pid, SIGTERM);

        EXPECT_TRUE(ended_by_sigterm(worker_pid)) << service_->out() << service_->err();
        const std::string err = service_->err().substr(logged_before);
        EXPECT_EQ(count_of(err, "ERROR - "), 1u) << err;
        std::smatch cut;
        ASSERT_TRUE(std::regex_search(err, cut,
                                      std::regex(R"(ERROR - ending the worker cut 1 wayland )"
                                                 R"(transfer\(s\) short, missing (\d+) bytes\n)")))
            << err;
        const auto missing = std::stoull(cut[1]);
        EXPECT_GT(missing, 0u);
        EXPECT_LT(missing, text_.size());
    }
}

} // namespace
} // namespace quillfen::test
