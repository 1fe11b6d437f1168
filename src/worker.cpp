#include "worker.hpp"

#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backend_probes.hpp"
#include "debug_text.hpp"
#include "discovery.hpp"
#include "fatal.hpp"
#include "keep_synced.hpp"
#include "log.hpp"
#include "termination.hpp"

namespace quillfen {

namespace {

// A weight is pow(e, -age / (60 / ln 2)), so it halves every 60 seconds. 2.718281828459045 and
// 86.5617024533378 are the doubles nearest to e and to 60 / ln 2. The scores are compared with the
// give-up limit and with a table of expected doubles to the last bit, and that table comes from
// this very form: exp2(-age / 60) or exp(-age * ln 2 / 60), the same halving on paper, round
// differently in the last bit for many ages.
constexpr double euler = 2.718281828459045;
constexpr double sixty_over_ln2 = 86.5617024533378;
constexpr double give_up_above = 5.0;

double whole_seconds_between(WallTime earlier, WallTime now) {
    // The wall clock can be set back while the worker runs; an error that seems to lie in the
    // future is then treated as just recorded (age 0) rather than given a weight above 1.
    if (earlier >= now)
        return 0.0;
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(now - earlier);
    return static_cast<double>(whole.count());
}

} // namespace

double error_score(std::span<const WallTime> times, WallTime now) {
    double sum = 0.0;
    for (const WallTime recorded : times)
        sum += std::pow(euler, whole_seconds_between(recorded, now) / -sixty_over_ln2);
    return sum;
}

WorkerSteps production_worker_steps(SharedTextRecord& record) {
    return WorkerSteps{
        .discover =
            [&record](const ClipboardList& held) {
                return discover(
                    backend_probes(),
                    KeptText{.load = [&record] { return record.load(); },
                             .store = [&record](std::string_view text) { record.store(text); }},
                    held);
            },
        .sync =
            [&record](const ClipboardList& clipboards, const std::string& start_text) {
                return keep_synced(
                    clipboards, pause_unless_asked_to_end,
                    SyncStart{.written = start_text,
                              .shared = [&record](std::string_view text) { record.store(text); },
                              .end = [&clipboards] { end_as_asked(clipboards); }});
            },
        .now = [] { return std::chrono::system_clock::now(); },
        .pause = pause_or_end,
    };
}

void run_with(const WorkerSteps& steps) {
    QF_INFO("starting quillfen");

    auto discovered = steps.discover(ClipboardList{});
    if (!discovered)
        fatal(debug_text(discovered.error()));
    Discovered latest = std::move(*discovered);

    std::vector<MyError> errors;
    std::vector<WallTime> times;
    for (;;) {
        MyError error = steps.sync(latest.clipboards, latest.start_text);
        QF_FATAL("action exited with error: {}", debug_text(error));

        const WallTime now = steps.now();
        times.push_back(now);
        errors.push_back(std::move(error));
        if (error_score(times, now) > give_up_above)
            break;

        // The old list is still held while the new one is built, so no clipboard of ours goes
        // away before its replacement exists.
        auto rediscovered = steps.discover(latest.clipboards);
        if (!rediscovered)
            fatal(debug_text(rediscovered.error()));
        latest = std::move(*rediscovered);

        steps.pause(latest.clipboards, std::chrono::seconds(1));
        QF_INFO("retrying");
    }

    const std::string message = debug_text(
        MyError{MyError::Crash{.msg = "too many errors, exiting", .cause = std::move(errors)}});
    // Destroyed here, the Wayland clipboards' serving threads finish the pastes under way (within
    // wlclip::serving_stop_limit) before fatal's _exit, which would cut them where their readers
    // cannot tell a cut paste from a whole one.
    latest.clipboards.clear();
    fatal(message);
}

void run(SharedTextRecord& record) {
    // Asked to end, the worker stops at its next pause and lets its transfers finish first.
    record_end_requests();
    run_with(production_worker_steps(record));
}

} // namespace quillfen
