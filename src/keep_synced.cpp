// The polling loop: read every clipboard in list order, and when one holds a text other than the
// one they were last known to share, write that text to all of them.
#include "keep_synced.hpp"

#include <expected>
#include <optional>
#include <string>
#include <thread>
#include <utility>

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

// The first clipboard to read after every clipboard was given `written`. A write that succeeded
// took, so any other text it reports, the one it held before included, is a copy or a clear made
// since, and is propagated in turn. A selection without text there is no baseline: the
// clipboards were given `written`.
std::optional<Change> settle(Clipboard& first, Content reread, const std::string& written,
                             Baseline& baseline) {
    baseline = {written, true};
    if (!reread || *reread == written)
        return std::nullopt;
    return Change{&first, std::move(*reread)};
}

// Writes `text` to every clipboard, all of them even when one fails: a clipboard left with the
// older text would bring it back at the next discovery. Returns the first error.
std::optional<MyError> write_everywhere(const ClipboardList& clipboards, const std::string& text) {
    std::optional<MyError> first_error;
    for (const auto& clipboard : clipboards)
        if (auto written = clipboard->set(text); !written && !first_error)
            first_error = std::move(written.error());
    return first_error;
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
    auto read = first.read();
    if (!read)
        return std::move(read.error());
    Baseline baseline;
    std::optional<Change> change;
    if (start) {
        baseline.text = start->written;
        change = settle(first, std::move(*read), start->written, baseline);
    } else {
        // Without a text there, the clipboards are taken to share none yet.
        baseline.text = std::move(*read).value_or(std::string{});
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
                auto current = clipboard->read();
                if (!current)
                    return std::move(current.error());
                // A selection without text (an image, an owner that does not answer) keeps what
                // it holds until a text or a clear is made elsewhere; only texts travel, the
                // empty one included.
                if (!*current || **current == baseline.text)
                    continue;
                change = Change{clipboard.get(), std::move(**current)};
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
        if (auto failed = write_everywhere(clipboards, text))
            return std::move(*failed);

        pause(after_propagation);
        auto settled = first.read();
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
