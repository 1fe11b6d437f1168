// What the service does with the user's text where it could be lost: a worker replaced, a copy
// made right after a change was spread, a copy without text (an image), and a second service
// started beside the first. Two Xvfb displays and one headless sway, xclip and wl-copy/wl-paste
// as the user's programs.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/service_log.hpp"
#include "tests/e2e/three_displays.hpp"
#include "tests/servers/isolation.hpp"
#include "tests/servers/memory_file.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/x11_clients.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;

std::size_t lists_logged(const std::string& out) {
    return count_of(out, " INFO - Using clipboards: ");
}

class Keeping : public ThreeDisplays {
  protected:
    // Waits until `service` has logged its n-th list of clipboards (from 1).
    static bool wait_for_list(WatchedProcess& service, std::size_t n) {
        const bool listed =
            service.wait_until([&] { return lists_logged(service.out()) >= n; }, 60s);
        EXPECT_TRUE(listed) << service.out() << service.err();
        return listed;
    }

    // What wl-paste, then xclip on each display, read; none where the read failed.
    std::vector<std::optional<std::string>> holdings() const {
        return {wl_paste(wayland_), xclip_paste(x1_->display()), xclip_paste(x2_->display())};
    }

    // Whether every display holds `text` within the limit; the service's output is collected
    // meanwhile.
    bool everywhere(WatchedProcess& service, const std::string& text,
                    std::chrono::milliseconds limit = 10s) {
        const std::vector<std::optional<std::string>> wanted(3, text);
        std::vector<std::optional<std::string>> held;
        const bool arrived = service.wait_until(
            [&] {
                held = holdings();
                return held == wanted;
            },
            limit);
        if (!arrived) {
            std::string all;
            for (const auto& h : held)
                all += " " + shown(h);
            ADD_FAILURE() << "\"" << text << "\" is not everywhere; the displays hold:" << all
                          << "\nthe service logged:\n"
                          << service.out() << service.err();
        }
        return arrived;
    }

    static pid_t latest_worker(const WatchedProcess& service) {
        return quillfen::test::latest_worker(service.out());
    }
};

TEST_F(Keeping, SharedTextSurvivesTheReplacementOfAWorker) {
    auto service = start_service();
    ASSERT_TRUE(wait_for_list(*service, 1));
    xclip_copy(x1_->display(), "kept across workers");
    ASSERT_TRUE(everywhere(*service, "kept across workers"));

    // The worker owns every selection now (it wrote the text to all, the source included), and
    // they go with it.
    const pid_t worker = latest_worker(*service);
    ASSERT_GT(worker, 0);
    kill(worker, SIGTERM);
    ASSERT_TRUE(wait_for_list(*service, 2));
    EXPECT_TRUE(everywhere(*service, "kept across workers"));
    EXPECT_EQ(service->out().find("kept across workers"), std::string::npos) << service->out();
    EXPECT_EQ(service->err().find("kept across workers"), std::string::npos) << service->err();
}

TEST_F(Keeping, KeptTextTakesTheMemoryOfTheLatestTextAlone) {
    auto service = start_service();
    ASSERT_TRUE(wait_for_list(*service, 1));
    // Each large text is made of one byte that neither the small text nor the record's header
    // has; texts the user copied before stay out of the record's memory.
    const std::string texts[] = {std::string((64 << 20) - 1, '~'), std::string(64 << 20, '^'),
                                 "small text"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        xclip_copy(x2_->display(), text);
        // The source is read last, once the others hold the text: the service has then read it
        // whole, and no read of ours waits behind the service's on xclip.
        const bool spread = service->wait_until(
            [&] {
                return wl_paste(wayland_, {}, 60s) == text &&
                       xclip_paste(x1_->display(), 60s) == text &&
                       xclip_paste(x2_->display(), 60s) == text;
            },
            180s);
        ASSERT_TRUE(spread) << service->out() << service->err();
    }

    const UniqueFd record = open_memory_file(service->pid(), "quillfen-shared-text");
    ASSERT_TRUE(record) << "the service holds no memory file of that name";
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    EXPECT_LE(allocated_bytes(record.get()), texts[2].size() + 2 * page);
    EXPECT_EQ(first_of(record.get(), "~^"), std::nullopt);
}

// Sway's clipboard is the first in the list: the service re-reads it 100 ms after it wrote there,
// and the user copies or clears within that time. The clear runs first, on clipboards that were
// empty before each of its spreads.
TEST_F(Keeping, CopyOrClearRightAfterAChangeWasSpreadIsNotReverted) {
    struct Case {
        const char* what;
        bool clear; // else a copy
    };
    for (const Case c : {Case{"a clear", true}, Case{"a copy", false}}) {
        SCOPED_TRACE(c.what);
        auto service = start_service();
        ASSERT_TRUE(wait_for_list(*service, 1));
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            const std::string from_x = "from X, round " + std::to_string(round);
            const std::string from_sway =
                c.clear ? "" : "from sway, round " + std::to_string(round);
            xclip_copy(x1_->display(), from_x);
            ASSERT_TRUE(service->wait_until([&] { return wl_paste(wayland_) == from_x; }, 10s))
                << service->out() << service->err();
            if (c.clear)
                wl_copy(wayland_, "", {"--clear"});
            else
                wl_copy(wayland_, from_sway);
            ASSERT_TRUE(everywhere(*service, from_sway));
            // Settled: a revert would come within a few passes.
            service->wait_until([] { return false; }, 1s);
            ASSERT_EQ(holdings(), std::vector<std::optional<std::string>>(3, from_sway))
                << service->out();
        }
    }
}

// The user copies the moment the service has listed its clipboards, at its start and after each
// replacement of the worker: once, as a user does, and the copy reaches every display.
TEST_F(Keeping, CopyRightAfterADiscoveryIsSpread) {
    struct Case {
        const char* where;
        std::function<void(const std::string&)> copy;
    };
    const Case cases[] = {
        {"xclip on the first X display",
         [&](const std::string& text) { xclip_copy(x1_->display(), text); }},
        {"xclip on the second X display",
         [&](const std::string& text) { xclip_copy(x2_->display(), text); }},
        {"wl-copy on sway", [&](const std::string& text) { wl_copy(wayland_, text); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        auto service = start_service();
        for (std::size_t list = 1; list <= 3; ++list) {
            SCOPED_TRACE(list);
            if (list > 1)
                kill(latest_worker(*service), SIGTERM);
            ASSERT_TRUE(wait_for_list(*service, list));
            const std::string text =
                "right after discovery " + std::to_string(list) + ", " + c.where;
            c.copy(text);
            EXPECT_TRUE(everywhere(*service, text));
        }
    }
}

TEST_F(Keeping, ImageCopiedOnOneDisplayStaysAndTakesNoTextAway) {
    auto service = start_service();
    ASSERT_TRUE(wait_for_list(*service, 1));
    xclip_copy(x2_->display(), "text before the image");
    ASSERT_TRUE(everywhere(*service, "text before the image"));

    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    xclip_copy_as(x1_->display(), "image/png", png);
    // Several passes of the service.
    service->wait_until([] { return false; }, 1500ms);
    EXPECT_TRUE(xclip_offers(x1_->display(), "image/png"))
        << shown(xclip_targets(x1_->display())) << service->out();
    EXPECT_EQ(xclip_paste(x2_->display()), "text before the image");
    EXPECT_EQ(wl_paste(wayland_), "text before the image");

    // A text copied later goes everywhere as usual, over the image too.
    wl_copy(wayland_, "text after the image");
    EXPECT_TRUE(everywhere(*service, "text after the image"));
}

// Rediscovery (here after the worker's replacement) writes nothing into a display that holds a
// copy without text: not a display name for its pair test, not the kept text.
TEST_F(Keeping, ImageSurvivesTheReplacementOfTheWorker) {
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    struct Case {
        const char* on;
        bool on_x; // else on sway
    };
    for (const Case c : {Case{"X", true}, Case{"sway", false}}) {
        SCOPED_TRACE(c.on);
        auto service = start_service();
        ASSERT_TRUE(wait_for_list(*service, 1));
        xclip_copy(x2_->display(), "text before the image");
        ASSERT_TRUE(everywhere(*service, "text before the image"));
        if (c.on_x)
            xclip_copy_as(x1_->display(), "image/png", png);
        else
            wl_copy(wayland_, png, {"--type", "image/png"});
        service->wait_until([] { return false; }, 1s);

        kill(latest_worker(*service), SIGTERM);
        ASSERT_TRUE(wait_for_list(*service, 2));
        service->wait_until([] { return false; }, 1500ms);
        if (c.on_x) {
            EXPECT_TRUE(xclip_offers(x1_->display(), "image/png")) << service->out();
            EXPECT_EQ(xclip_read(x1_->display(), "image/png").out, png);
            EXPECT_EQ(wl_paste(wayland_), "text before the image");
        } else {
            EXPECT_TRUE(wl_offers(wayland_, "image/png")) << service->out();
            EXPECT_EQ(wl_paste(wayland_, {"--type", "image/png"}), png);
            EXPECT_EQ(xclip_paste(x1_->display()), "text before the image");
        }
        EXPECT_EQ(xclip_paste(x2_->display()), "text before the image");
    }
}

// A copy that is more than text (files from a file manager, formatted text from a browser) stays
// whole on the display it was made on: across passes, across the worker's replacement (whose
// discovery writes nothing there) and after the service stops. Its text goes everywhere else.
TEST_F(Keeping, CopyThatIsMoreThanTextStaysWholeWhereItWasMade) {
    struct Case {
        const char* what;
        bool on_x; // else on sway
    };
    for (const Case c :
         {Case{"files from a file manager on X", true}, Case{"formatted text on sway", false}}) {
        SCOPED_TRACE(c.what);
        auto service = start_service();
        ASSERT_TRUE(wait_for_list(*service, 1));
        xclip_copy(x2_->display(), "text before the copy");
        ASSERT_TRUE(everywhere(*service, "text before the copy"));

        std::optional<ScriptedOwner> file_manager;
        std::string text;
        if (c.on_x) {
            text = "/home/user/report.odt";
            file_manager.emplace(
                x1_->display(),
                ScriptedOwner::Script{.offers = {{"x-special/gnome-copied-files",
                                                  "copy\nfile:///home/user/report.odt"},
                                                 {"text/uri-list", "file:///home/user/report.odt"},
                                                 {"UTF8_STRING", text}}});
        } else {
            text = "<b>bold</b> words";
            wl_copy(wayland_, text, {"-t", "text/html"});
        }
        // The copy as its own program offers it, on the display it was made on.
        auto whole = [&] {
            if (c.on_x)
                return xclip_offers(x1_->display(), "text/uri-list") &&
                       xclip_read(x1_->display(), "text/uri-list").out ==
                           "file:///home/user/report.odt";
            return wl_offers(wayland_, "text/html") &&
                   wl_paste(wayland_, {"--type", "text/html"}) == text;
        };
        auto others = [&] {
            return std::vector<std::optional<std::string>>{c.on_x ? wl_paste(wayland_)
                                                                  : xclip_paste(x1_->display()),
                                                           xclip_paste(x2_->display())};
        };
        const std::vector<std::optional<std::string>> spread(2, text);
        ASSERT_TRUE(service->wait_until([&] { return others() == spread; }, 10s))
            << service->out() << service->err();
        // Several passes.
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_TRUE(whole()) << service->out();

        kill(latest_worker(*service), SIGTERM);
        ASSERT_TRUE(wait_for_list(*service, 2));
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_TRUE(whole()) << service->out();
        EXPECT_EQ(others(), spread);

        // As a service manager stops it: every process of the service is signalled.
        kill(latest_worker(*service), SIGTERM);
        service->signal(SIGTERM);
        ASSERT_TRUE(service->wait_exit(10s));
        EXPECT_TRUE(whole());
    }
}

// A clear made on one display empties every display, and what was cleared does not come back
// when the worker is replaced.
TEST_F(Keeping, ClearTravelsAndStaysClearedAcrossTheReplacementOfTheWorker) {
    struct Case {
        const char* how;
        std::function<void()> clear;
    };
    const Case cases[] = {
        {"wl-copy --clear on sway", [&] { wl_copy(wayland_, "", {"--clear"}); }},
        {"an empty text with xclip", [&] { xclip_copy(x1_->display(), ""); }},
        {"xsel --clear", [&] { shell("DISPLAY=" + x2_->display() + " xsel --clipboard --clear"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        auto service = start_service();
        ASSERT_TRUE(wait_for_list(*service, 1));
        xclip_copy(x1_->display(), "a password");
        ASSERT_TRUE(everywhere(*service, "a password"));
        c.clear();
        EXPECT_TRUE(everywhere(*service, ""));

        kill(latest_worker(*service), SIGTERM);
        ASSERT_TRUE(wait_for_list(*service, 2));
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_EQ(holdings(), std::vector<std::optional<std::string>>(3, "")) << service->out();
    }
}

// A clear made right before the worker is replaced (as its timer does every 600 s): the worker
// reads every display once more before it ends, so the next one does not bring the secret back.
TEST_F(Keeping, ClearRightBeforeTheWorkerIsReplacedStaysCleared) {
    auto service = start_service();
    ASSERT_TRUE(wait_for_list(*service, 1));
    for (std::size_t round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        const std::string secret = "a password, round " + std::to_string(round);
        xclip_copy(x1_->display(), secret);
        ASSERT_TRUE(everywhere(*service, secret));
        shell("DISPLAY=" + x2_->display() + " xsel --clipboard --clear");
        kill(latest_worker(*service), SIGTERM);
        ASSERT_TRUE(wait_for_list(*service, round + 1));
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_EQ(holdings(), std::vector<std::optional<std::string>>(3, "")) << service->out();
    }
}

// A compositor that ends and starts again on the same socket name (a crash, or a logout and a new
// login) holds nothing: that is no clear. The new one gets the shared text; the X displays keep
// theirs, and so does the kept text.
TEST_F(Keeping, CompositorRestartedOnItsSocketNameClearsNothing) {
    for (const int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(sigabbrev_np(signal));
        auto service = start_service();
        ASSERT_TRUE(wait_for_list(*service, 1));
        const std::string text = std::string("copied before SIG") + sigabbrev_np(signal);
        xclip_copy(x1_->display(), text);
        ASSERT_TRUE(everywhere(*service, text));
        // Long enough for the service to find nobody listening on the name for a while.
        sway_->restart(signal, 1500ms);
        EXPECT_TRUE(everywhere(*service, text, 20s));
        service->wait_until([] { return false; }, 1500ms);
        EXPECT_EQ(holdings(), std::vector<std::optional<std::string>>(3, text)) << service->out();
        // The next worker finds the same text kept.
        kill(latest_worker(*service), SIGTERM);
        ASSERT_TRUE(wait_for_list(*service, lists_logged(service->out()) + 1));
        EXPECT_TRUE(everywhere(*service, text));
    }
}

// A compositor that does not answer for a while (stopped) is busy, not gone: it stays in the list,
// and once it answers it gets the copy made meanwhile.
TEST_F(Keeping, CompositorThatDoesNotAnswerForAWhileGetsTheCopyMadeMeanwhile) {
    auto service = start_service();
    ASSERT_TRUE(wait_for_list(*service, 1));
    xclip_copy(x1_->display(), "before the stop");
    ASSERT_TRUE(everywhere(*service, "before the stop"));
    ::kill(sway_->pid(), SIGSTOP);
    xclip_copy(x2_->display(), "made while sway was stopped");
    const bool on_x = service->wait_until(
        [&] { return xclip_paste(x1_->display()) == "made while sway was stopped"; }, 20s);
    service->wait_until([] { return false; }, 8s);
    ::kill(sway_->pid(), SIGCONT);
    ASSERT_TRUE(on_x) << service->out();
    EXPECT_TRUE(everywhere(*service, "made while sway was stopped", 20s));
    const std::string out = service->out();
    for (auto at = out.find("Using clipboards: "); at != std::string::npos;
         at = out.find("Using clipboards: ", at + 1))
        EXPECT_NE(out.substr(at, out.find('\n', at) - at).find(sway_->socket_name()),
                  std::string::npos)
            << out;
}

// A copy that serves one paste alone, made while the worker is replaced: the one read it allows
// is the one that spreads it.
TEST_F(Keeping, CopyServingOnePasteMadeWhileTheWorkerIsReplacedIsSpread) {
    auto service = start_service();
    ASSERT_TRUE(wait_for_list(*service, 1));
    xclip_copy(x1_->display(), "older text");
    ASSERT_TRUE(everywhere(*service, "older text"));
    kill(latest_worker(*service), SIGTERM);
    wl_copy(wayland_, "pasted once", {"--paste-once"});
    ASSERT_TRUE(wait_for_list(*service, 2));
    EXPECT_TRUE(service->wait_until(
        [&] {
            return xclip_paste(x1_->display()) == "pasted once" &&
                   xclip_paste(x2_->display()) == "pasted once";
        },
        10s))
        << service->out();
}

TEST_F(Keeping, SecondServiceStartedAtOnceEndsAndTouchesNoClipboard) {
    xclip_copy(x1_->display(), "the user's text");
    auto first = start_service();
    auto second = start_service();

    // One of the two ends at once; which one is a matter of timing.
    std::optional<int> status;
    WatchedProcess* ended = nullptr;
    WatchedProcess* running = nullptr;
    first->wait_until(
        [&] {
            if ((status = second->wait_exit(0ms)))
                ended = second.get(), running = first.get();
            else if ((status = first->wait_exit(0ms)))
                ended = first.get(), running = second.get();
            return status.has_value();
        },
        10s);
    ASSERT_TRUE(status) << "neither ended:\n"
                        << first->out() << first->err() << "\n---\n"
                        << second->out() << second->err();
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 101);
    // The compositor's runtime directory belongs to its own user, so the lock goes elsewhere.
    EXPECT_EQ(ended->err(), " WARN - Not using XDG_RUNTIME_DIR " + sway_->runtime_dir() +
                                " for the service's lock: it is owned by user " +
                                std::to_string(test_account(compositor_user).uid) +
                                "\nquillfen is already running for user " +
                                std::to_string(::geteuid()) + "; not starting another one\n");
    EXPECT_EQ(ended->out(), "");

    ASSERT_TRUE(wait_for_list(*running, 1));
    EXPECT_TRUE(everywhere(*running, "the user's text"));
    EXPECT_FALSE(running->wait_exit(0ms));
}

} // namespace
} // namespace quillfen::test
