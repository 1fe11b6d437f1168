// Discovery: probe every Wayland socket name and every X11 display name, drop later names of a
// clipboard already found, and give the remaining clipboards one start text.
#include "discovery.hpp"

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "debug_text.hpp"
#include "log.hpp"
#include "wlclip/protocol.hpp"

namespace quillfen {

namespace {

// Display numbers 0 to 254; 255 is never probed.
constexpr unsigned display_count = 255;

enum class ProbeFailure {
    nothing_listening, // skipped silently
    no_data_control,   // one warning naming the display
    x11_connection,    // collected for one summary warning
    another_user,      // collected for one warning of its own
    unexpected,        // one error line
};

ProbeFailure classify(const MyError& error) {
    if (const auto* paste = std::get_if<MyError::WlcrsPaste>(&error.value)) {
        if (const auto* connection = std::get_if<wlclip::paste::WaylandConnection>(&paste->error))
            switch (connection->kind) {
            case wlclip::ConnectError::NoCompositorListening:
                return ProbeFailure::nothing_listening;
            case wlclip::ConnectError::ForeignCompositor:
                return ProbeFailure::another_user;
            default:
                break;
            }
        if (const auto* missing = std::get_if<wlclip::paste::MissingProtocol>(&paste->error))
            if (missing->name == wlclip::manager_interface_name &&
                missing->version == wlclip::manager_version)
                return ProbeFailure::no_data_control;
    }
    if (const auto* x11 = std::get_if<MyError::TerminalClipboard>(&error.value))
        if (!x11->error.stdio) {
            using Kind = x11clip::ClipboardError::Kind;
            const x11clip::ClipboardError& inner = x11->error.inner;
            // Only libxcb's plain connection failure is a display without a server; its other
            // kinds (a display name it cannot parse, say) are unexpected.
            if (inner.kind == Kind::connection && inner.code == XCB_CONN_ERROR)
                return ProbeFailure::x11_connection;
            if (inner.kind == Kind::another_user)
                return ProbeFailure::another_user;
        }
    return ProbeFailure::unexpected;
}

// The clipboards that answered, each with what its one read found.
struct Found {
    ClipboardList clipboards;
    std::vector<Content> contents;

    void append(Found more) {
        for (auto& clipboard : more.clipboards)
            clipboards.push_back(std::move(clipboard));
        for (auto& content : more.contents)
            contents.push_back(std::move(content));
    }
};

// A clipboard that answered its read, with what the read found.
struct Answered {
    std::unique_ptr<Clipboard> clipboard;
    Content content;
};

// One pass over the display numbers of one backend: the clipboards that answered and the
// connection failures to report once at its end.
class Probe {
  public:
    // `kind` names the displays in the report, e.g. "x11 displays".
    explicit Probe(std::string_view kind) : kind_(kind) {}

    void record(std::uint8_t number, const std::string& display,
                std::expected<Answered, MyError> outcome) {
        if (outcome) {
            QF_DEBUG("Found clipboard: {}", debug_text(*outcome->clipboard));
            found_.clipboards.push_back(std::move(outcome->clipboard));
            found_.contents.push_back(std::move(outcome->content));
            return;
        }
        const MyError& error = outcome.error();
        switch (classify(error)) {
        case ProbeFailure::nothing_listening:
            break;
        case ProbeFailure::no_data_control:
            QF_WARN(
                "{} does not support {}. If you are running gnome in wayland, that's OK because "
                "it provides an x11 clipboard, which will be used instead.",
                display, wlclip::manager_interface_name);
            break;
        case ProbeFailure::x11_connection:
            failed_.push_back(number);
            last_failure_ = std::get<MyError::TerminalClipboard>(error.value).error.inner;
            break;
        case ProbeFailure::another_user:
            foreign_.push_back(number);
            break;
        case ProbeFailure::unexpected:
            QF_ERROR("unexpected error while attempting to setup clipboard {}: {}", number,
                     display_text(error));
            break;
        }
    }

    void report_failures() const {
        if (!failed_.empty()) {
            const std::string numbers = concise_numbers(failed_);
            QF_WARN("Issue connecting to some x11 clipboards. This is expected when hooking up to "
                    "gnome wayland, and not a problem in that context. Details: '{}' for x11 "
                    "displays: {}",
                    display_text(*last_failure_), numbers);
        }
        if (!foreign_.empty()) {
            const std::string numbers = concise_numbers(foreign_);
            QF_WARN("Not using {} {}: they are served by another user, who must not receive this "
                    "user's clipboard",
                    kind_, numbers);
        }
    }

    Found take_found() { return std::move(found_); }

  private:
    std::string_view kind_;
    Found found_;
    std::vector<std::uint8_t> failed_;
    std::vector<std::uint8_t> foreign_;
    std::optional<x11clip::ClipboardError> last_failure_;
};

// A clipboard that answered a read, with a text or with a selection without text; a failed read is
// the probe's outcome. Discovery reads each clipboard this once: a copy that serves one paste
// (`wl-copy --paste-once`) is not used up by a second read.
std::expected<Answered, MyError> read_once(std::unique_ptr<Clipboard> clipboard) {
    auto content = clipboard->read();
    if (!content)
        return std::unexpected(std::move(content.error()));
    return Answered{std::move(clipboard), std::move(*content)};
}

Found probe_wayland(const Probes& probes) {
    Probe probe("wayland sockets");
    for (unsigned n = 0; n < display_count; ++n) {
        const std::string display = "wayland-" + std::to_string(n);
        probe.record(static_cast<std::uint8_t>(n), display, read_once(probes.wayland(display)));
    }
    probe.report_failures();
    return probe.take_found();
}

Found probe_x11(const Probes& probes) {
    Probe probe("x11 displays");
    for (unsigned n = 0; n < display_count; ++n) {
        const std::string display = ":" + std::to_string(n);
        auto created = probes.x11(display);
        probe.record(static_cast<std::uint8_t>(n), display,
                     created ? read_once(std::move(*created))
                             : std::unexpected(std::move(created.error())));
    }
    probe.report_failures();
    return probe.take_found();
}

// The entries of `values` at the positions not in `duplicates`.
std::vector<bool> without_duplicates(const std::vector<bool>& values,
                                     const DuplicateSet& duplicates) {
    std::vector<bool> kept;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!duplicates.contains(i))
            kept.push_back(values[i]);
    return kept;
}

// De-duplication writes display names into the clipboards. Which ones it wrote is kept so that a
// failure can put the start text back: otherwise a display name would be the first text the next
// discovery finds, and it would replace the user's text everywhere. A clipboard that holds a
// selection without text, or one that offers more than text, takes no part: a display name written
// there would replace what the user copied.
class Deduplication {
  public:
    Deduplication(ClipboardList& clipboards, std::vector<bool> testable,
                  const std::string& start_text)
        : clipboards_(clipboards), testable_(std::move(testable)), start_text_(start_text),
          written_(clipboards.size(), false) {}

    // Marks every later name of an earlier clipboard. Each pair is tested in both directions.
    std::expected<DuplicateSet, MyError> run() {
        DuplicateSet duplicates;
        for (std::size_t i = 0; i < clipboards_.size(); ++i) {
            if (duplicates.contains(i) || !testable_[i])
                continue;
            for (std::size_t j = i + 1; j < clipboards_.size(); ++j) {
                if (!testable_[j])
                    continue;
                auto same = same_clipboard(i, j);
                if (!same)
                    return std::unexpected(std::move(same.error()));
                if (!*same)
                    continue;
                QF_DEBUG("{} is the same as {}, removing {}", debug_text(*clipboards_[i]),
                         debug_text(*clipboards_[j]), debug_text(*clipboards_[j]));
                duplicates.insert(j);
            }
        }
        return duplicates;
    }

    // Whether each kept position was written by a pair test, in the order of the kept list.
    std::vector<bool> written_among(const DuplicateSet& duplicates) const {
        return without_duplicates(written_, duplicates);
    }

    // Best effort: the caller is already returning an error, so further errors are dropped.
    void restore_written() {
        for (std::size_t i = 0; i < clipboards_.size(); ++i)
            if (written_[i])
                (void)clipboards_[i]->set(start_text_);
    }

  private:
    std::expected<bool, MyError> same_clipboard(std::size_t i, std::size_t j) {
        Clipboard& a = *clipboards_[i];
        Clipboard& b = *clipboards_[j];
        const std::string name_a = a.display();
        const std::string name_b = b.display();
        if (auto shows = write_then_read(i, name_a, b); !shows || !*shows)
            return shows;
        return write_then_read(j, name_b, a);
    }

    // Writes `name` into clipboard `writer` and tells whether `reader` then shows it.
    std::expected<bool, MyError> write_then_read(std::size_t writer, const std::string& name,
                                                 Clipboard& reader) {
        if (auto written = clipboards_[writer]->set(name); !written)
            return std::unexpected(std::move(written.error()));
        written_[writer] = true;
        auto text = reader.get();
        if (!text)
            return std::unexpected(std::move(text.error()));
        return *text == name;
    }

    ClipboardList& clipboards_;
    std::vector<bool> testable_;
    const std::string& start_text_;
    std::vector<bool> written_;
};

// What the clipboards held when the probe read them, before discovery writes anything: the start
// text, and which of them may be written: not one that holds a selection without text, nor one
// that offers more than its text, which would lose the rest. The text of a selection that offers
// more may still be the start text. A busy display (one that did not answer in time) is written,
// for it to have the text once it answers, but not tested: it cannot show anything now.
struct Holdings {
    std::string start_text;
    std::vector<bool> writable;
    std::vector<bool> testable;
};

// Whether a clipboard of `held` for the display of `found` still serves what it wrote there.
bool served_by(const ClipboardList& held, const Clipboard& found) {
    if (held.empty())
        return false;
    const std::string display = found.display();
    for (const auto& clipboard : held)
        if (clipboard->display() == display) {
            auto own = clipboard->holds_own_text();
            return own && *own;
        }
    return false;
}

Holdings holdings_of(const ClipboardList& clipboards, std::vector<Content> contents,
                     const ClipboardList& held) {
    Holdings holdings;
    std::optional<std::string> first_text;
    for (std::size_t i = 0; i < clipboards.size(); ++i) {
        Content& content = contents[i];
        // Asked after the read: a copy of the user's made in between is then read as theirs.
        if (content.text && !content.text->empty() && !first_text &&
            served_by(held, *clipboards[i]))
            content.text->clear();
        const bool keep = !content.busy && (!content.text || content.more_than_text);
        holdings.writable.push_back(!keep);
        holdings.testable.push_back(!keep && !content.busy);
        if (!first_text && content.text && !content.text->empty())
            first_text = std::move(*content.text);
    }
    if (first_text)
        holdings.start_text = std::move(*first_text);
    return holdings;
}

// Writes the start text into every clipboard that `writable` names, all of them even when one
// fails, so that none keeps an older text; one that fails while holding a display name of the
// pair test gets one more try. The first error is returned.
std::expected<void, MyError> write_start_text(const ClipboardList& clipboards,
                                              const std::vector<bool>& writable,
                                              const std::vector<bool>& holds_display_name,
                                              const std::string& text) {
    std::optional<MyError> first_error;
    for (std::size_t i = 0; i < clipboards.size(); ++i) {
        if (!writable[i])
            continue;
        auto written = clipboards[i]->set(text);
        if (written)
            continue;
        if (holds_display_name[i])
            (void)clipboards[i]->set(text);
        if (!first_error)
            first_error = std::move(written.error());
    }
    if (first_error)
        return std::unexpected(std::move(*first_error));
    return {};
}

} // namespace

std::string first_nonempty_content(const ClipboardList& clipboards) {
    for (const auto& clipboard : clipboards) {
        auto content = clipboard->read();
        if (content && content->text && !content->text->empty())
            return std::move(*content->text);
    }
    return {};
}

ClipboardList retain_unique(ClipboardList clipboards, const DuplicateSet& duplicates) {
    ClipboardList kept;
    for (std::size_t i = 0; i < clipboards.size(); ++i)
        if (!duplicates.contains(i))
            kept.push_back(std::move(clipboards[i]));
    return kept;
}

std::expected<ClipboardList, MyError> get_clipboards(const Probes& probes) {
    auto discovered =
        discover(probes, KeptText{.load = [] { return std::string(); }, .store = [](auto) {}});
    if (!discovered)
        return std::unexpected(std::move(discovered.error()));
    return std::move(discovered->clipboards);
}

std::expected<Discovered, MyError> discover(const Probes& probes, const KeptText& kept,
                                            const ClipboardList& held) {
    QF_DEBUG("identifying unique clipboards...");
    Found found = probe_wayland(probes);
    found.append(probe_x11(probes));
    ClipboardList clipboards = std::move(found.clipboards);

    // Read before any display name is written, so it is what the user had copied. When nothing
    // holds a text, the selections most likely went away with the worker that owned them.
    Holdings holdings = holdings_of(clipboards, std::move(found.contents), held);
    std::string start_text = std::move(holdings.start_text);
    if (start_text.empty())
        start_text = kept.load();
    QF_SENSITIVE("Clipboard contents at the start: '{}'", start_text);
    // Kept before the pair test puts display names in its place: a worker that ends during the
    // test leaves this text for the next one.
    kept.store(start_text);

    Deduplication deduplication(clipboards, holdings.testable, start_text);
    auto duplicates = deduplication.run();
    if (!duplicates) {
        deduplication.restore_written();
        return std::unexpected(std::move(duplicates.error()));
    }
    const std::vector<bool> writable = without_duplicates(holdings.writable, *duplicates);
    const std::vector<bool> holds_display_name = deduplication.written_among(*duplicates);
    ClipboardList unique = retain_unique(std::move(clipboards), *duplicates);

    if (auto restored = write_start_text(unique, writable, holds_display_name, start_text);
        !restored)
        return std::unexpected(std::move(restored.error()));

    QF_INFO("Using clipboards: {}", debug_text(unique));
    return Discovered{std::move(unique), std::move(start_text)};
}

} // namespace quillfen
