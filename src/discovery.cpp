// Discovery: probe every Wayland socket name and every X11 display name, drop later names of a
// clipboard already found, and give the remaining clipboards one start text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "debug_text.hpp"
#include "discovery.hpp"
#include "log.hpp"

namespace quillfen {

namespace {

// Display numbers 0 to 254; 255 is never probed.
constexpr unsigned display_count = 255;

constexpr std::string_view data_control_protocol = "zwlr_data_control_manager_v1";

// What the X11 layer reports when no server accepts a connection on the display.
constexpr std::string_view x11_connection_failure =
    "clipboard error: X11 clipboard error : XCB connection error: Connection";

// What the X11 layer reports when the display's server runs as another user.
constexpr std::string_view x11_served_by_another_user =
    "clipboard error: X11 clipboard error : display served by another user";

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
            if (missing->name == data_control_protocol && missing->version == 1)
                return ProbeFailure::no_data_control;
    }
    if (const auto* x11 = std::get_if<MyError::TerminalClipboard>(&error.value))
        if (!x11->error.stdio) {
            const std::string text = display_text(x11->error.inner);
            if (text == x11_connection_failure)
                return ProbeFailure::x11_connection;
            if (text == x11_served_by_another_user)
                return ProbeFailure::another_user;
        }
    return ProbeFailure::unexpected;
}

// One pass over the display numbers of one backend: the clipboards that answered and the
// connection failures to report once at its end.
class Probe {
  public:
    // `kind` names the displays in the report, e.g. "x11 displays".
    explicit Probe(std::string_view kind) : kind_(kind) {}

    void record(std::uint8_t number, const std::string& display,
                std::expected<std::unique_ptr<Clipboard>, MyError> outcome) {
        if (outcome) {
            QF_DEBUG("Found clipboard: {}", debug_text(**outcome));
            found_.push_back(std::move(*outcome));
            return;
        }
        const MyError& error = outcome.error();
        switch (classify(error)) {
        case ProbeFailure::nothing_listening:
            break;
        case ProbeFailure::no_data_control:
            QF_WARN("{} does not support zwlr_data_control_manager_v1. If you are running gnome in "
                    "wayland, that's OK because it provides an x11 clipboard, which will be used "
                    "instead.",
                    display);
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
            QF_WARN(
                "Issue connecting to some x11 clipboards. This is expected when hooking up to "
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

    ClipboardList take_found() { return std::move(found_); }

  private:
    std::string_view kind_;
    ClipboardList found_;
    std::vector<std::uint8_t> failed_;
    std::vector<std::uint8_t> foreign_;
    std::optional<x11clip::ClipboardError> last_failure_;
};

// A clipboard that answered a read; a failed read is the probe's outcome.
std::expected<std::unique_ptr<Clipboard>, MyError> read_once(std::unique_ptr<Clipboard> clipboard) {
    if (auto text = clipboard->get(); !text)
        return std::unexpected(std::move(text.error()));
    return clipboard;
}

ClipboardList probe_wayland(const Probes& probes) {
    Probe probe("wayland sockets");
    for (unsigned n = 0; n < display_count; ++n) {
        const std::string display = "wayland-" + std::to_string(n);
        probe.record(static_cast<std::uint8_t>(n), display, read_once(probes.wayland(display)));
    }
    probe.report_failures();
    return probe.take_found();
}

ClipboardList probe_x11(const Probes& probes) {
    Probe probe("x11 displays");
    for (unsigned n = 0; n < display_count; ++n) {
        const std::string display = ":" + std::to_string(n);
        auto created = probes.x11(display);
        probe.record(static_cast<std::uint8_t>(n), display,
                     created ? read_once(std::move(*created)) : std::move(created));
    }
    probe.report_failures();
    return probe.take_found();
}

// De-duplication writes display names into the clipboards. Which ones it wrote is kept so that a
// failure can put the start text back: otherwise a display name would be the first text the next
// discovery finds, and it would replace the user's text everywhere.
class Deduplication {
  public:
    Deduplication(ClipboardList& clipboards, const std::string& start_text)
        : clipboards_(clipboards), start_text_(start_text), written_(clipboards.size(), false) {}

    // Marks every later name of an earlier clipboard. Each pair is tested in both directions.
    std::expected<DuplicateSet, MyError> run() {
        DuplicateSet duplicates;
        for (std::size_t i = 0; i < clipboards_.size(); ++i) {
            if (duplicates.contains(i))
                continue;
            for (std::size_t j = i + 1; j < clipboards_.size(); ++j) {
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
        std::vector<bool> kept;
        for (std::size_t i = 0; i < written_.size(); ++i)
            if (!duplicates.contains(i))
                kept.push_back(written_[i]);
        return kept;
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
    const std::string& start_text_;
    std::vector<bool> written_;
};

} // namespace

std::string first_nonempty_content(const ClipboardList& clipboards) {
    for (const auto& clipboard : clipboards) {
        auto text = clipboard->get();
        if (text && !text->empty())
            return std::move(*text);
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
    auto discovered = discover(probes, [] { return std::string(); });
    if (!discovered)
        return std::unexpected(std::move(discovered.error()));
    return std::move(discovered->clipboards);
}

std::expected<Discovered, MyError> discover(const Probes& probes,
                                            const std::function<std::string()>& last_shared) {
    QF_DEBUG("identifying unique clipboards...");
    ClipboardList clipboards = probe_wayland(probes);
    for (auto& clipboard : probe_x11(probes))
        clipboards.push_back(std::move(clipboard));

    // Read before any display name is written, so it is what the user had copied. When nothing
    // holds a text, the selections most likely went away with the worker that owned them.
    std::string start_text = first_nonempty_content(clipboards);
    if (start_text.empty())
        start_text = last_shared();
    QF_SENSITIVE("Clipboard contents at the start: '{}'", start_text);

    Deduplication deduplication(clipboards, start_text);
    auto duplicates = deduplication.run();
    if (!duplicates) {
        deduplication.restore_written();
        return std::unexpected(std::move(duplicates.error()));
    }
    const std::vector<bool> written = deduplication.written_among(*duplicates);
    ClipboardList unique = retain_unique(std::move(clipboards), *duplicates);

    for (std::size_t i = 0; i < unique.size(); ++i) {
        auto restored = unique[i]->set(start_text);
        if (restored)
            continue;
        // The clipboards before this one hold the start text already; of the rest, those that
        // hold a display name get one more try.
        for (std::size_t k = i; k < unique.size(); ++k)
            if (written[k])
                (void)unique[k]->set(start_text);
        return std::unexpected(std::move(restored.error()));
    }

    QF_INFO("Using clipboards: {}", debug_text(unique));
    return Discovered{std::move(unique), std::move(start_text)};
}

} // namespace quillfen
