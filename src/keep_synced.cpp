// The polling loop: read every clipboard in list order, and when one holds a text other than the
// one they were last known to share, write that text to all of them.
#include <expected>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "keep_synced.hpp"
#include "log.hpp"

namespace quillfen {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::nanoseconds before_first_read = 100ms;
constexpr std::chrono::nanoseconds after_unchanged_pass = 200ms;
constexpr std::chrono::nanoseconds after_propagation = 100ms;

struct Change {
    Clipboard* source;
    std::string text;
};

// The text the clipboards were last known to share, and whether the loop (or discovery
// before it) last wrote that very text to every clipboard. Only then may a clipboard that
// still holds its own text stand for a read of it.
struct Baseline {
    std::string text;
    bool written = false;
};

// The first clipboard to read after every clipboard was given `written` over `before`. What it
// reports is the new baseline unless it is a copy made since: a text that is neither the one
// written nor the one before (a write that did not take). The empty text is never a baseline.
std::optional<Change> settle(Clipboard& first, std::string reread, const std::string& written,
                             Baseline& baseline) {
    if (reread == written || reread.empty()) {
        baseline = {written, true};
        return std::nullopt;
    }
    if (reread == baseline.text) {
        // The clipboards were last given `written`, not this.
        baseline.written = false;
        return std::nullopt;
    }
    baseline = {written, true};
    return Change{&first, std::move(reread)};
}

// Whether `clipboard` holds the baseline, known without reading it: it still holds, unchanged,
// the text this process last wrote there, and that was the baseline.
std::expected<bool, MyError> holds_baseline_unread(Clipboard& clipboard, const Baseline& baseline) {
    if (!baseline.written)
        return false;
    return clipboard.holds_own_text();
}

MyError run_loop(const ClipboardList& clipboards, const Pause& pause,
                 const std::optional<SyncStart>& start) {
    if (clipboards.empty())
        return MyError::NoClipboards{};
    Clipboard& first = *clipboards.front();

    pause(before_first_read);
    auto read = first.get();
    if (!read)
        return std::move(read.error());
    Baseline baseline;
    std::optional<Change> change;
    if (start) {
        baseline.text = start->written;
        change = settle(first, std::move(*read), start->written, baseline);
    } else {
        baseline.text = std::move(*read);
    }

    for (;;) {
        if (!change) {
            for (const auto& clipboard : clipboards) {
                // Our own text, however long, is neither copied nor compared again.
                auto unread = holds_baseline_unread(*clipboard, baseline);
                if (!unread)
                    return std::move(unread.error());
                if (*unread)
                    continue;
                auto current = clipboard->get();
                if (!current)
                    return std::move(current.error());
                // A clipboard without text (empty, an image, an owner that does not answer)
                // keeps what it holds; only texts travel.
                if (current->empty() || *current == baseline.text)
                    continue;
                change = Change{clipboard.get(), std::move(*current)};
                break;
            }
        }
        if (!change) {
            pause(after_unchanged_pass);
            continue;
        }

        const std::string text = std::move(change->text);
        QF_INFO("clipboard updated from display {}", change->source->display());
        QF_SENSITIVE("clipboard contents: '{}'", text);
        change.reset();
        if (start && start->shared)
            start->shared(text);
        for (const auto& clipboard : clipboards) {
            if (auto written = clipboard->set(text); !written)
                return std::move(written.error());
        }

        pause(after_propagation);
        auto settled = first.get();
        if (!settled)
            return std::move(settled.error());
        change = settle(first, std::move(*settled), text, baseline);
    }
}

} // namespace

void sleep_pause(std::chrono::nanoseconds duration) {
    std::this_thread::sleep_for(duration);
}

MyError keep_synced(const ClipboardList& clipboards) {
    return keep_synced(clipboards, sleep_pause);
}

MyError keep_synced(const ClipboardList& clipboards, const Pause& pause) {
    return run_loop(clipboards, pause, std::nullopt);
}

MyError keep_synced(const ClipboardList& clipboards, const Pause& pause, const SyncStart& start) {
    return run_loop(clipboards, pause, start);
}

} // namespace quillfen
