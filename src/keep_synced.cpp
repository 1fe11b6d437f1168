// The polling loop: read every clipboard in list order, and when one differs from the text they
// were last known to share, write its text to all of them.
#include <string>
#include <thread>
#include <utility>

#include "log.hpp"
#include "sync.hpp"

namespace quillfen {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::nanoseconds before_first_read = 100ms;
constexpr std::chrono::nanoseconds after_unchanged_pass = 200ms;
constexpr std::chrono::nanoseconds after_propagation = 100ms;

} // namespace

void sleep_pause(std::chrono::nanoseconds duration) {
    std::this_thread::sleep_for(duration);
}

MyError keep_synced(const ClipboardList& clipboards) {
    return keep_synced(clipboards, sleep_pause);
}

MyError keep_synced(const ClipboardList& clipboards, const Pause& pause) {
    if (clipboards.empty())
        return MyError::NoClipboards{};

    pause(before_first_read);
    // The baseline is always what the first clipboard reports, never the text last written:
    // a write that did not take is then noticed as a difference in the next pass.
    auto first = clipboards.front()->get();
    if (!first)
        return std::move(first.error());
    std::string baseline = std::move(*first);

    for (;;) {
        Clipboard* source = nullptr;
        std::string text;
        for (const auto& clipboard : clipboards) {
            auto current = clipboard->get();
            if (!current)
                return std::move(current.error());
            if (*current != baseline) {
                source = clipboard.get();
                text = std::move(*current);
                break;
            }
        }
        if (source == nullptr) {
            pause(after_unchanged_pass);
            continue;
        }

        QF_INFO("clipboard updated from display {}", source->display());
        QF_SENSITIVE("clipboard contents: '{}'", text);
        for (const auto& clipboard : clipboards) {
            if (auto written = clipboard->set(text); !written)
                return std::move(written.error());
        }

        pause(after_propagation);
        auto settled = clipboards.front()->get();
        if (!settled)
            return std::move(settled.error());
        baseline = std::move(*settled);
    }
}

} // namespace quillfen
