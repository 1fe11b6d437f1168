// An in-memory clipboard for testing discovery and the sync loop. Every call goes into one
// journal shared by all clipboards of a test, so the order of calls across clipboards shows.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clipboard.hpp"
#include "debug_text.hpp"
#include "error.hpp"
#include "tests/servers/discovery_report.hpp"

namespace quillfen::test {

// What one or more clipboard names hold: a text, or, while `offers_text` is false, a selection
// without text (an image), which `get` reads as the empty text and `read` as no text. With
// `more_than_text`, the text is offered beside other types (files, formatted text). A write makes
// it a text alone again.
struct Selection {
    std::string text;
    bool offers_text = true;
    bool more_than_text = false;
};

// What a test's clipboards share: the journal, actions that stand for a user between calls, and
// the error that ends a loop that otherwise never returns.
class World {
  public:
    std::vector<std::string> journal;

    // Runs `action` right after the `occurrence`-th (from 1) journal entry equal to `entry`.
    void on(std::string entry, std::function<void()> action, unsigned occurrence = 1) {
        actions_.push_back({std::move(entry), occurrence, std::move(action)});
    }

    // From now on every read fails with `error`.
    void stop_with(MyError error) { stop_ = std::move(error); }
    const std::optional<MyError>& stop() const { return stop_; }

    void record(std::string entry) {
        journal.push_back(entry);
        unsigned seen = 0;
        for (const auto& recorded : journal)
            seen += recorded == entry;
        for (auto& action : actions_)
            if (action.entry == entry && action.occurrence == seen)
                action.run();
    }

    // From now on every pause reports that the worker was asked to end.
    void ask_to_end() { end_asked_ = true; }

    // A pause that only leaves its trace in the journal.
    std::function<bool(std::chrono::nanoseconds)> pause() {
        return [this](std::chrono::nanoseconds d) {
            record(
                "pause " +
                std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) +
                "ms");
            return !end_asked_;
        };
    }

  private:
    struct Action {
        std::string entry;
        unsigned occurrence;
        std::function<void()> run;
    };
    std::vector<Action> actions_;
    std::optional<MyError> stop_;
    bool end_asked_ = false;
};

class ScriptedClipboard final : public Clipboard {
  public:
    // Reads `reads`; a write goes into every selection of `writes`.
    ScriptedClipboard(std::string name, World& world, std::shared_ptr<Selection> reads,
                      std::vector<std::shared_ptr<Selection>> writes)
        : name_(std::move(name)), world_(world), reads_(std::move(reads)),
          writes_(std::move(writes)) {}

    // The `n`-th read (from 0, `get` and `read` alike) of this clipboard returns `outcome`
    // instead of the selection.
    void script_get(unsigned n, std::expected<std::string, MyError> outcome) {
        if (outcome)
            get_script_.insert_or_assign(n, Content{std::move(*outcome)});
        else
            get_script_.insert_or_assign(n, std::unexpected(std::move(outcome.error())));
    }
    // The `n`-th read finds a selection without text.
    void script_no_text(unsigned n) { get_script_.insert_or_assign(n, Content{}); }
    // The `n`-th write (from 0) of this clipboard fails with `error` and changes nothing.
    void fail_set(unsigned n, MyError error) {
        set_failures_.insert_or_assign(n, std::move(error));
    }

    // From now on holds_own_text answers as a real clipboard does: whether the selection still
    // holds the text this clipboard wrote last. Until then it keeps the default, without a trace.
    void check_own_text() { checks_own_text_ = true; }
    // The `n`-th own-text check (from 0) fails with `error`.
    void fail_own_text(unsigned n, MyError error) {
        own_text_failures_.insert_or_assign(n, std::move(error));
    }

    // The display name, without a trace in the journal.
    const std::string& name() const { return name_; }

    void debug_fmt(Formatter& f) const override {
        f.debug_struct("Scripted").field("display", name_).finish();
    }
    std::string display() const override {
        world_.record("display " + name_);
        return name_;
    }
    std::expected<std::string, MyError> get() override {
        auto content = read();
        if (!content)
            return std::unexpected(std::move(content.error()));
        return std::move(content->text).value_or(std::string{});
    }
    // Journaled as "get", like `get`: the two read the same selection.
    std::expected<Content, MyError> read() override {
        const unsigned n = gets_++;
        std::expected<Content, MyError> outcome =
            reads_->offers_text ? Content{reads_->text, reads_->more_than_text} : Content{};
        if (world_.stop())
            outcome = std::unexpected(*world_.stop());
        else if (auto scripted = get_script_.find(n); scripted != get_script_.end())
            outcome = scripted->second;
        world_.record("get " + name_);
        return outcome;
    }
    std::expected<void, MyError> set(std::string_view text) override {
        const unsigned n = sets_++;
        if (auto failure = set_failures_.find(n); failure != set_failures_.end()) {
            world_.record("set " + name_ + " '" + std::string(text) + "' fails");
            return std::unexpected(failure->second);
        }
        for (auto& selection : writes_)
            *selection = Selection{std::string(text)};
        last_written_ = std::string(text);
        world_.record("set " + name_ + " '" + std::string(text) + "'");
        return {};
    }
    std::expected<bool, MyError> holds_own_text() override {
        if (!checks_own_text_)
            return Clipboard::holds_own_text();
        const unsigned n = own_checks_++;
        std::expected<bool, MyError> outcome = last_written_ && reads_->offers_text &&
                                               !reads_->more_than_text &&
                                               reads_->text == *last_written_;
        if (world_.stop())
            outcome = std::unexpected(*world_.stop());
        else if (auto failure = own_text_failures_.find(n); failure != own_text_failures_.end())
            outcome = std::unexpected(failure->second);
        world_.record("holds " + name_);
        return outcome;
    }

  private:
    std::string name_;
    World& world_;
    std::shared_ptr<Selection> reads_;
    std::vector<std::shared_ptr<Selection>> writes_;
    std::map<unsigned, std::expected<Content, MyError>> get_script_;
    std::map<unsigned, MyError> set_failures_;
    std::map<unsigned, MyError> own_text_failures_;
    std::optional<std::string> last_written_;
    bool checks_own_text_ = false;
    unsigned gets_ = 0;
    unsigned sets_ = 0;
    unsigned own_checks_ = 0;
};

// The names of a list of scripted clipboards, without a trace in the journal.
inline std::vector<std::string> names(const ClipboardList& clipboards) {
    return names(
        clipboards,
        [](const Clipboard& clipboard) {
            return dynamic_cast<const ScriptedClipboard&>(clipboard).name();
        });
}

inline std::shared_ptr<Selection> selection(std::string text = {}) {
    return std::make_shared<Selection>(Selection{std::move(text)});
}

// A selection without text, such as an image.
inline std::shared_ptr<Selection> image() {
    return std::make_shared<Selection>(Selection{{}, false});
}

// A selection that offers `text` beside other types, such as files copied in a file manager.
inline std::shared_ptr<Selection> rich(std::string text) {
    return std::make_shared<Selection>(Selection{std::move(text), true, true});
}

// A clipboard that reads and writes `held` alone.
inline std::unique_ptr<ScriptedClipboard> scripted(std::string name, World& world,
                                                   std::shared_ptr<Selection> held) {
    return std::make_unique<ScriptedClipboard>(std::move(name), world, held, std::vector{held});
}

} // namespace quillfen::test
