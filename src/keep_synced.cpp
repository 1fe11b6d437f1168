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
    // The source offers more than this text: it keeps its selection, and so does every other
    // clipboard that shows the same copy.
    bool more_than_text = false;
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
    if (!reread.text || *reread.text == written)
        return std::nullopt;
    return Change{&first, std::move(*reread.text), reread.more_than_text};
}

// Whether `clipboard`, read again once the source of a change offers more than text, shows that
// same copy: a compositor's bridge to an X display, say, carries all of its types across, and may
// have done so since this pass read it.
std::expected<bool, MyError> shows_the_copy(Clipboard& clipboard, const Change& change) {
    auto own = clipboard.holds_own_text();
    if (!own)
        return std::unexpected(std::move(own.error()));
    if (*own)
        return false;
    auto content = clipboard.read();
    if (!content)
        return std::unexpected(std::move(content.error()));
    return content->more_than_text && content->text == change.text;
}

// Writes the change to every clipboard, all of them even when one fails: a clipboard left with
// the older text would bring it back at the next discovery. A selection that offers more than the
// text keeps it: the write would replace the user's copy with a poorer one. Returns the first
// error.
std::optional<MyError> write_everywhere(const ClipboardList& clipboards, const Change& change) {
    std::optional<MyError> first_error;
    for (const auto& clipboard : clipboards) {
        if (change.more_than_text) {
            if (clipboard.get() == change.source)
                continue;
            auto shows = shows_the_copy(*clipboard, change);
            if (!shows) {
                if (!first_error)
                    first_error = std::move(shows.error());
                continue;
            }
            if (*shows)
                continue;
        }
        if (auto written = clipboard->set(change.text); !written && !first_error)
            first_error = std::move(written.error());
    }
    return first_error;
}

// Whether `clipboard` holds the baseline, known without reading it: it still holds, unchanged,
// the text this process last wrote there, and that was the baseline.
std::expected<bool, MyError> holds_baseline_unread(Clipboard& clipboard, const Baseline& baseline) {
    if (!baseline.written)
        return false;
    return clipboard.holds_own_text();
}

// One pass: the first clipboard, in list order, that holds a text other than the baseline.
std::expected<std::optional<Change>, MyError> find_change(const ClipboardList& clipboards,
                                                          const Baseline& baseline) {
    for (const auto& clipboard : clipboards) {
        // Our own text, however long, is neither copied nor compared again.
        auto unread = holds_baseline_unread(*clipboard, baseline);
        if (!unread)
            return std::unexpected(std::move(unread.error()));
        if (*unread)
            continue;
        auto current = clipboard->read();
        if (!current)
            return std::unexpected(std::move(current.error()));
        // A selection without text (an image, an owner that does not answer) keeps what it holds
        // until a text or a clear is made elsewhere; only texts travel, the empty one included.
        if (!current->text || *current->text == baseline.text)
            continue;
        return Change{clipboard.get(), std::move(*current->text), current->more_than_text};
    }
    return std::nullopt;
}

// Logs the change, hands its text to whoever keeps it, and writes it everywhere.
std::optional<MyError> propagate(const ClipboardList& clipboards, const Change& change,
                                 const std::optional<SyncStart>& start) {
    QF_INFO("clipboard updated from display {}", change.source->display());
    QF_SENSITIVE("clipboard contents: '{}'", change.text);
    if (start && start->shared)
        start->shared(change.text);
    return write_everywhere(clipboards, change);
}

// Asked to end: every clipboard is read once more, so that a change made since the last pass (a
// clear, say) is kept for the next worker instead of going with this one. It is spread too, while
// the clipboards still serve. Errors change nothing now: the worker is ending.
void last_pass(const ClipboardList& clipboards, const Baseline& baseline,
               const std::optional<SyncStart>& start) {
    if (auto change = find_change(clipboards, baseline); change && *change)
        (void)propagate(clipboards, **change, start);
    if (start && start->end)
        start->end();
}

} // namespace

bool sleep_pause(std::chrono::nanoseconds duration) {
    std::this_thread::sleep_for(duration);
    return true;
}

MyError keep_synced(const ClipboardList& clipboards, const Pause& pause,
                    std::optional<SyncStart> start) {
    if (clipboards.empty())
        return MyError::NoClipboards{};
    Clipboard& first = *clipboards.front();

    Baseline baseline;
    if (start)
        baseline.text = start->written;
    auto wait = [&](std::chrono::nanoseconds duration) {
        if (!pause(duration))
            last_pass(clipboards, baseline, start);
    };

    wait(before_first_read);
    auto read = first.read();
    if (!read)
        return std::move(read.error());
    std::optional<Change> change;
    if (start) {
        change = settle(first, std::move(*read), start->written, baseline);
    } else {
        // Without a text there, the clipboards are taken to share none yet.
        baseline.text = std::move(read->text).value_or(std::string{});
    }

    for (;;) {
        if (!change) {
            auto found = find_change(clipboards, baseline);
            if (!found)
                return std::move(found.error());
            change = std::move(*found);
        }
        if (!change) {
            wait(after_unchanged_pass);
            continue;
        }

        const std::optional<MyError> failed = propagate(clipboards, *change, start);
        const std::string text = std::move(change->text);
        change.reset();
        if (failed)
            return std::move(*failed);
        // What an end during the pause compares the last pass with.
        baseline = {text, true};

        wait(after_propagation);
        auto settled = first.read();
        if (!settled)
            return std::move(settled.error());
        change = settle(first, std::move(*settled), text, baseline);
    }
}

} // namespace quillfen
