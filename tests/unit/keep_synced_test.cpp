// The sync loop on scripted clipboards: which clipboard is the source of a change, what is
// written where, the pauses, the log lines and the errors that end the loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "keep_synced.hpp"
#include "log.hpp"
#include "scripted_clipboard.hpp"
#include "tests/servers/captured_output.hpp"

namespace quillfen::test {
namespace {

using Journal = std::vector<std::string>;

class KeepSynced : public ::testing::Test {
  protected:
    void SetUp() override {
        log::level::set(Level::info);
        log::timestamp::set(false);
        log::log_sensitive_information::set(false);
    }

    ScriptedClipboard& add(const std::string& name, std::string text = {}) {
        held[name] = selection(std::move(text));
        auto clipboard = scripted(name, world, held[name]);
        ScriptedClipboard& ref = *clipboard;
        clipboards.push_back(std::move(clipboard));
        return ref;
    }

    // A user copies `text` into clipboard `name` when the journal reaches `entry`.
    void user_copies(const std::string& name, std::string text, const std::string& entry,
                     unsigned occurrence = 1) {
        world.on(
            entry, [this, name, text] { held.at(name)->text = text; }, occurrence);
    }

    // A user copies something that is not text (an image) into clipboard `name`.
    void user_copies_image(const std::string& name, const std::string& entry,
                           unsigned occurrence = 1) {
        world.on(
            entry,
            [this, name] {
                *held.at(name) = Selection{{}, false};
            },
            occurrence);
    }

    // Ends the loop: every read after `entry` fails with `stop_error`.
    void stop_after(const std::string& entry, unsigned occurrence = 1) {
        world.on(
            entry, [this] { world.stop_with(stop_error); }, occurrence);
    }

    MyError run() {
        CapturedOutput output;
        MyError error = keep_synced(clipboards, world.pause());
        lines = output.lines();
        return error;
    }

    // A user copies `text` beside other types (files, formatted text) into clipboard `name`.
    void user_copies_rich(const std::string& name, std::string text, const std::string& entry,
                          unsigned occurrence = 1) {
        world.on(
            entry, [this, name, text] { *held.at(name) = *rich(text); }, occurrence);
    }

    // What each clipboard holds; "<image>" for a selection without text, "rich:" before the text
    // of one that offers more.
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& name : names(clipboards)) {
            const Selection& selection = *held.at(name);
            result.push_back(!selection.offers_text     ? "<image>"
                             : selection.more_than_text ? "rich:" + selection.text
                                                        : selection.text);
        }
        return result;
    }

    // The writes of the journal, in order.
    Journal writes() const {
        Journal result;
        for (const auto& entry : world.journal)
            if (entry.starts_with("set "))
                result.push_back(entry);
        return result;
    }

    const MyError stop_error = MyError::Io{wlclip::IoError{EIO}};
    World world;
    std::map<std::string, std::shared_ptr<Selection>> held;
    ClipboardList clipboards;
    std::vector<std::string> lines;
};

TEST_F(KeepSynced, EmptyListFailsAtOnceWithoutPauseOrRead) {
    EXPECT_EQ(debug_text(run()), "NoClipboards");
    EXPECT_TRUE(world.journal.empty());
    EXPECT_TRUE(lines.empty());
}

TEST_F(KeepSynced, UnchangedClipboardsArePolledBackToBackWithTheFirstReadTwice) {
    add("a", "x");
    add("b", "x");
    add("c", "x");
    stop_after("pause 200ms", 2);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(world.journal,
              (Journal{"pause 100ms", "get a", "get a", "get b", "get c", "pause 200ms", "get a",
                       "get b", "get c", "pause 200ms", "get a"}));
    EXPECT_TRUE(lines.empty());
}

// One change, made by a user during the first 200 ms pause: the first clipboard in list order
// that differs is the source, and its text goes to every clipboard, the source included.
struct SourceCase {
    const char* name;
    std::vector<std::string> before;            // texts of a, b, c, ... at the start
    std::map<std::string, std::string> changes; // copied by users during the pause
    std::string source;
    std::string text;
    Journal pass; // the pass that finds the change, up to the first differing read
};

void PrintTo(const SourceCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepSyncedSource : public KeepSynced, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(KeepSyncedSource, FirstDifferingClipboardIsWrittenToAll) {
    const SourceCase& c = GetParam();
    for (std::size_t i = 0; i < c.before.size(); ++i)
        add(std::string(1, static_cast<char>('a' + i)), c.before[i]);
    for (const auto& [name, text] : c.changes)
        user_copies(name, text, "pause 200ms");
    stop_after("pause 100ms", 2);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));

    Journal expected{"pause 100ms", "get a"};
    for (const auto& name : names(clipboards))
        expected.push_back("get " + name);
    expected.push_back("pause 200ms");
    expected.insert(expected.end(), c.pass.begin(), c.pass.end());
    expected.push_back("display " + c.source);
    for (const auto& name : names(clipboards))
        expected.push_back("set " + name + " '" + c.text + "'");
    expected.insert(expected.end(), {"pause 100ms", "get a"});
    EXPECT_EQ(world.journal, expected);
    EXPECT_EQ(texts(), std::vector<std::string>(c.before.size(), c.text));
    EXPECT_EQ(lines,
              (std::vector<std::string>{" INFO - clipboard updated from display " + c.source}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepSyncedSource,
    ::testing::Values(
        SourceCase{"OneClipboardIsWrittenBackIntoItself", {"x"}, {{"a", "y"}}, "a", "y", {"get a"}},
        SourceCase{"EarlierOfTwoChangesWinsAndOverwritesTheLater",
                   {"x", "x", "x"},
                   {{"b", "from b"}, {"c", "from c"}},
                   "b",
                   "from b",
                   {"get a", "get b"}},
        SourceCase{"WithEmptyBaselineFirstNonEmptyIsTheSource",
                   {"", "", ""},
                   {{"c", "y"}},
                   "c",
                   "y",
                   {"get a", "get b", "get c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeepSynced, ChangeMadeBeforeItsTurnInTheWritesIsLost) {
    add("a", "x");
    add("b", "x");
    add("c", "x");
    user_copies("a", "new", "pause 200ms");
    user_copies("c", "user", "set a 'new'");
    stop_after("pause 200ms", 2);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(texts(), (std::vector<std::string>{"new", "new", "new"}));
    EXPECT_EQ(lines, (std::vector<std::string>{" INFO - clipboard updated from display a"}));
}

TEST_F(KeepSynced, ChangeAfterItsWriteIsPropagatedByTheNextPass) {
    add("a", "x");
    add("b", "x");
    add("c", "x");
    user_copies("a", "new", "pause 200ms");
    user_copies("b", "later", "set b 'new'");
    stop_after("pause 100ms", 3);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(texts(), (std::vector<std::string>{"later", "later", "later"}));
    EXPECT_EQ(lines, (std::vector<std::string>{" INFO - clipboard updated from display a",
                                               " INFO - clipboard updated from display b"}));
}

// What the first clipboard reports 100 ms after "new" was written to all over "x": the text
// written, a copy or a clear the user made meanwhile (the text from before copied again among
// them), or a selection without text.
struct SettleCase {
    const char* name;
    std::function<void(Selection&)> meanwhile; // what becomes of a's selection during the pause
    std::vector<std::string> texts;            // of a, b, c in the end
    Journal writes;                            // every write, in order
    std::vector<std::string> sources;          // of the "clipboard updated" lines
};

void PrintTo(const SettleCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepSyncedSettle : public KeepSynced, public ::testing::WithParamInterface<SettleCase> {};

TEST_P(KeepSyncedSettle, ReReadOfTheFirstClipboardAfterAChange) {
    const SettleCase& c = GetParam();
    add("a", "x");
    add("b", "x");
    add("c", "x");
    user_copies("b", "new", "pause 200ms");
    world.on(
        "pause 100ms", [this, &c] { c.meanwhile(*held.at("a")); }, 2);
    stop_after("pause 200ms", 2);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(texts(), c.texts);
    Journal writes;
    for (const auto& entry : world.journal)
        if (entry.starts_with("set "))
            writes.push_back(entry);
    EXPECT_EQ(writes, c.writes);
    std::vector<std::string> expected_lines;
    for (const auto& source : c.sources)
        expected_lines.push_back(" INFO - clipboard updated from display " + source);
    EXPECT_EQ(lines, expected_lines);
}

const Journal new_written{"set a 'new'", "set b 'new'", "set c 'new'"};

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepSyncedSettle,
    ::testing::Values(SettleCase{"WrittenTextIsTheBaseline",
                                 [](Selection&) {},
                                 {"new", "new", "new"},
                                 new_written,
                                 {"b"}},
                      SettleCase{"CopyOnTheFirstIsPropagatedNotReverted",
                                 [](Selection& a) { a.text = "mine"; },
                                 {"mine", "mine", "mine"},
                                 {"set a 'new'", "set b 'new'", "set c 'new'", "set a 'mine'",
                                  "set b 'mine'", "set c 'mine'"},
                                 {"b", "a"}},
                      SettleCase{"ClearOnTheFirstIsPropagated",
                                 [](Selection& a) { a.text.clear(); },
                                 {"", "", ""},
                                 {"set a 'new'", "set b 'new'", "set c 'new'", "set a ''",
                                  "set b ''", "set c ''"},
                                 {"b", "a"}},
                      SettleCase{"NoTextOnTheFirstIsNoBaselineAndStaysUnwritten",
                                 [](Selection& a) {
                                     a = Selection{{}, false};
                                 },
                                 {"<image>", "new", "new"},
                                 new_written,
                                 {"b"}},
                      // A write that succeeded took: the text from before, shown again, was
                      // copied again since.
                      SettleCase{"TextFromBeforeCopiedAgainIsPropagatedNotReverted",
                                 [](Selection& a) { a.text = "x"; },
                                 {"x", "x", "x"},
                                 {"set a 'new'", "set b 'new'", "set c 'new'", "set a 'x'",
                                  "set b 'x'", "set c 'x'"},
                                 {"b", "a"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A selection without text (an image, an owner that does not answer) is never a source and is
// not written, until a text or a clear is made somewhere.
TEST_F(KeepSynced, ClipboardsWithoutTextArePassedOver) {
    add("a", "x");
    add("b", "x");
    add("c", "x");
    user_copies_image("a", "pause 200ms");
    user_copies_image("c", "pause 200ms");
    stop_after("pause 200ms", 3);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(texts(), (std::vector<std::string>{"<image>", "x", "<image>"}));
    EXPECT_EQ(world.journal, (Journal{"pause 100ms", "get a", "get a", "get b", "get c",
                                      "pause 200ms", "get a", "get b", "get c", "pause 200ms",
                                      "get a", "get b", "get c", "pause 200ms", "get a"}));
    EXPECT_TRUE(lines.empty());
}

// A text or a clear made after an image was copied reaches the image's clipboard too.
TEST_F(KeepSynced, ChangeMadeLaterReachesTheClipboardsWithoutText) {
    for (const std::string later : {"y", ""}) {
        SCOPED_TRACE(later);
        world = World{};
        clipboards.clear();
        add("a", "x");
        add("b", "x");
        add("c", "x");
        user_copies_image("b", "pause 200ms");
        user_copies("c", later, "pause 200ms", 2);
        stop_after("pause 200ms", 3);

        EXPECT_EQ(debug_text(run()), debug_text(stop_error));
        EXPECT_EQ(texts(), (std::vector<std::string>{later, later, later}));
        EXPECT_EQ(lines, (std::vector<std::string>{" INFO - clipboard updated from display c"}));
    }
}

// The empty text is a change like any other: a clear travels, wherever it is made.
TEST_F(KeepSynced, ClearTravelsLikeACopy) {
    for (const std::string source : {"a", "b", "c"}) {
        SCOPED_TRACE(source);
        world = World{};
        clipboards.clear();
        add("a", "secret");
        add("b", "secret");
        add("c", "secret");
        user_copies(source, "", "pause 200ms");
        stop_after("pause 200ms", 2);

        EXPECT_EQ(debug_text(run()), debug_text(stop_error));
        EXPECT_EQ(texts(), (std::vector<std::string>{"", "", ""}));
        EXPECT_EQ(lines,
                  (std::vector<std::string>{" INFO - clipboard updated from display " + source}));
    }
}

// A copy that offers more than text (files from a file manager, formatted text) keeps its
// selection where it was made, and wherever else the same copy shows; its text goes to the
// others. What users do after it replaces it like any copy.
struct RichCase {
    const char* name;
    std::size_t clipboards;
    // Before the first pass: who shows the rich copy "files" (the source first).
    std::vector<std::string> rich;
    // During the second unchanged pass's pause: a later change made by a user, if any: a plain
    // copy "later" in the named clipboard, or its program's exit ("exits") from the source.
    std::string later;
    std::vector<std::string> after_first; // the texts once the rich copy was spread
    Journal first_writes;
    std::vector<std::string> after_later;
};

void PrintTo(const RichCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepSyncedRich : public KeepSynced, public ::testing::WithParamInterface<RichCase> {};

TEST_P(KeepSyncedRich, SourceKeepsItsCopy) {
    const RichCase& c = GetParam();
    for (std::size_t i = 0; i < c.clipboards; ++i)
        add(std::string(1, static_cast<char>('a' + i)), "x");
    for (const auto& name : c.rich)
        user_copies_rich(name, "files", "pause 200ms");
    std::vector<std::string> after_first;
    world.on(
        "pause 200ms", [&] { after_first = texts(); }, 3);
    if (c.later == "exits")
        world.on(
            "pause 200ms", [&] { *held.at(c.rich.front()) = Selection{}; }, 3);
    else if (!c.later.empty())
        world.on(
            "pause 200ms", [&] { *held.at(c.later) = Selection{"later"}; }, 3);
    stop_after("pause 200ms", 5);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(after_first, c.after_first);
    Journal first_writes = writes();
    first_writes.resize(std::min(first_writes.size(), c.first_writes.size()));
    EXPECT_EQ(first_writes, c.first_writes);
    EXPECT_EQ(texts(), c.after_later);
    EXPECT_EQ(lines.front(), " INFO - clipboard updated from display " + c.rich.front());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepSyncedRich,
    ::testing::Values(
        RichCase{"OthersGetTheText",
                 3,
                 {"b"},
                 "",
                 {"files", "rich:files", "files"},
                 {"set a 'files'", "set c 'files'"},
                 {"files", "rich:files", "files"}},
        RichCase{"FirstClipboardAsSource",
                 2,
                 {"a"},
                 "",
                 {"rich:files", "files"},
                 {"set b 'files'"},
                 {"rich:files", "files"}},
        RichCase{"OnlyClipboardIsNotWritten", 1, {"a"}, "", {"rich:files"}, {}, {"rich:files"}},
        RichCase{"AnotherClipboardShowingTheSameCopyKeepsItToo",
                 3,
                 {"a", "c"},
                 "",
                 {"rich:files", "files", "rich:files"},
                 {"set b 'files'"},
                 {"rich:files", "files", "rich:files"}},
        RichCase{"LaterCopyElsewhereReplacesIt",
                 3,
                 {"b"},
                 "c",
                 {"files", "rich:files", "files"},
                 {"set a 'files'", "set c 'files'"},
                 {"later", "later", "later"}},
        RichCase{"LaterCopyInTheSourceReplacesIt",
                 2,
                 {"a"},
                 "a",
                 {"rich:files", "files"},
                 {"set b 'files'"},
                 {"later", "later"}},
        RichCase{"ItsProgramsExitIsAClear",
                 3,
                 {"b"},
                 "exits",
                 {"files", "rich:files", "files"},
                 {"set a 'files'", "set c 'files'"},
                 {"", "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeepSynced, FirstClipboardThatNeverTakesAWriteAndReadsNoTextIsNoBaseline) {
    // a's writes do not take: it keeps holding an image.
    held["a"] = image();
    clipboards.push_back(std::make_unique<ScriptedClipboard>(
        "a", world, held["a"], std::vector<std::shared_ptr<Selection>>{}));
    add("b");
    user_copies("b", "x", "pause 200ms");
    stop_after("pause 200ms", 2);
    stop_after("pause 100ms", 3); // ends a loop that would write "x" again and again

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(world.journal,
              (Journal{"pause 100ms", "get a", "get a", "get b", "pause 200ms", "get a", "get b",
                       "display b", "set a 'x'", "set b 'x'", "pause 100ms", "get a", "get a",
                       "get b", "pause 200ms", "get a"}));
}

// Right after a discovery the loop knows the text discovery gave every clipboard; its first read
// of the first clipboard follows the same rule as a re-read after a change.
struct StartCase {
    const char* name;
    std::string first_read; // what a holds at the loop's first read; "<image>": no text
    std::vector<std::string> texts;
    Journal writes;
    std::vector<std::string> shared; // texts handed to the record
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepSyncedStart : public KeepSynced, public ::testing::WithParamInterface<StartCase> {};

TEST_P(KeepSyncedStart, FirstReadAgainstTheStartText) {
    const StartCase& c = GetParam();
    add("a", "start");
    add("b", "start");
    if (c.first_read == "<image>")
        user_copies_image("a", "pause 100ms");
    else if (c.first_read.starts_with("rich:"))
        user_copies_rich("a", c.first_read.substr(5), "pause 100ms");
    else
        user_copies("a", c.first_read, "pause 100ms");
    stop_after("pause 200ms");
    std::vector<std::string> shared;

    CapturedOutput output;
    const MyError error =
        keep_synced(clipboards, world.pause(),
                    SyncStart{.written = "start",
                              .shared = [&](std::string_view text) { shared.emplace_back(text); }});
    lines = output.lines();

    EXPECT_EQ(debug_text(error), debug_text(stop_error));
    EXPECT_EQ(texts(), c.texts);
    EXPECT_EQ(writes(), c.writes);
    EXPECT_EQ(shared, c.shared);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepSyncedStart,
    ::testing::Values(
        StartCase{"StartTextIsTheBaseline", "start", {"start", "start"}, {}, {}},
        StartCase{"CopyBeforeTheFirstReadIsPropagated",
                  "mine",
                  {"mine", "mine"},
                  {"set a 'mine'", "set b 'mine'"},
                  {"mine"}},
        StartCase{
            "ClearBeforeTheFirstReadIsPropagated", "", {"", ""}, {"set a ''", "set b ''"}, {""}},
        StartCase{"NoTextBeforeTheFirstReadIsNoBaseline", "<image>", {"<image>", "start"}, {}, {}},
        StartCase{"RichCopyBeforeTheFirstReadStaysWhole",
                  "rich:mine",
                  {"rich:mine", "mine"},
                  {"set b 'mine'"},
                  {"mine"}},
        StartCase{
            "RichCopyOfTheStartTextIsTheBaseline", "rich:start", {"rich:start", "start"}, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Asked to end, the loop reads every clipboard once more before the worker ends, so that a change
// made since the last pass (a clear right before the worker is replaced) is kept and spread.
TEST_F(KeepSynced, AskedToEndReadsEveryClipboardOnceMoreAndKeepsTheLastChange) {
    struct Case {
        const char* what;
        std::string source; // where the user copies "", if anywhere
        Journal last_pass;
        std::vector<std::string> shared;
    };
    const Case cases[] = {
        {"a clear",
         "b",
         {"get a", "get b", "display b", "set a ''", "set b ''", "set c ''", "end"},
         {""}},
        {"nothing new", "", {"get a", "get b", "get c", "end"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        world = World{};
        clipboards.clear();
        add("a", "secret");
        add("b", "secret");
        add("c", "secret");
        if (!c.source.empty())
            user_copies(c.source, "", "pause 200ms");
        world.on("pause 200ms", [&] { world.ask_to_end(); });
        std::vector<std::string> shared;
        CapturedOutput output;
        const MyError error = keep_synced(
            clipboards, world.pause(),
            SyncStart{.written = "secret",
                      .shared = [&](std::string_view text) { shared.emplace_back(text); },
                      .end =
                          [&] {
                              world.record("end");
                              world.stop_with(stop_error);
                          }});

        EXPECT_EQ(debug_text(error), debug_text(stop_error));
        const auto pause = std::ranges::find(world.journal, "pause 200ms");
        ASSERT_NE(pause, world.journal.end());
        Journal after(pause + 1, world.journal.end());
        after.resize(std::min(after.size(), c.last_pass.size()));
        EXPECT_EQ(after, c.last_pass);
        EXPECT_EQ(shared, c.shared);
    }
}

TEST_F(KeepSynced, EveryPropagatedTextIsSharedBeforeItIsWritten) {
    add("a", "s");
    add("b", "s");
    user_copies("b", "one", "pause 200ms");
    user_copies("a", "two", "pause 200ms", 2);
    stop_after("pause 200ms", 3);

    const MyError error = keep_synced(
        clipboards, world.pause(), SyncStart{.written = "s", .shared = [&](std::string_view text) {
                                                 world.record("shared '" + std::string(text) + "'");
                                             }});

    EXPECT_EQ(debug_text(error), debug_text(stop_error));
    Journal events;
    for (const auto& entry : world.journal)
        if (entry.starts_with("set ") || entry.starts_with("shared "))
            events.push_back(entry);
    EXPECT_EQ(events, (Journal{"shared 'one'", "set a 'one'", "set b 'one'", "shared 'two'",
                               "set a 'two'", "set b 'two'"}));
}

// After a propagation every clipboard was written with the baseline by the loop: a clipboard
// that still holds its own text stands for a read of it, any other is read as before.
class KeepSyncedOwnText;

struct OwnTextCase {
    const char* name;
    std::function<void(KeepSyncedOwnText&)> meanwhile; // copies by users, and where the loop ends
    Journal after; // the journal after the settling read of "new"
    std::vector<std::string> texts;
};

void PrintTo(const OwnTextCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepSyncedOwnText : public KeepSynced, public ::testing::WithParamInterface<OwnTextCase> {
  public:
    using KeepSynced::stop_after;
    using KeepSynced::user_copies;
    using KeepSynced::user_copies_image;
};

TEST_P(KeepSyncedOwnText, PassAfterAPropagation) {
    const OwnTextCase& c = GetParam();
    add("a", "x").check_own_text();
    add("b", "x").check_own_text();
    add("c", "x").check_own_text();
    user_copies("b", "new", "pause 200ms");
    c.meanwhile(*this);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    // Before its first write the loop knows no clipboard's text but by reading it.
    Journal expected{"pause 100ms", "get a",       "get a",       "get b",     "get c",
                     "pause 200ms", "get a",       "get b",       "display b", "set a 'new'",
                     "set b 'new'", "set c 'new'", "pause 100ms", "get a"};
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(world.journal, expected);
    EXPECT_EQ(texts(), c.texts);
}

const std::vector<std::string> all_new{"new", "new", "new"};

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepSyncedOwnText,
    ::testing::Values(OwnTextCase{"UnchangedPassReadsNothing",
                                  [](KeepSyncedOwnText& t) { t.stop_after("pause 200ms", 3); },
                                  {"holds a", "holds b", "holds c", "pause 200ms", "holds a",
                                   "holds b", "holds c", "pause 200ms", "holds a"},
                                  all_new},
                      OwnTextCase{"CopyOnTheLastIsFoundByTheNextPass",
                                  [](KeepSyncedOwnText& t) {
                                      t.user_copies("c", "mine", "pause 200ms", 2);
                                      t.stop_after("pause 100ms", 3);
                                  },
                                  {"holds a", "holds b", "holds c", "pause 200ms", "holds a",
                                   "holds b", "holds c", "get c", "display c", "set a 'mine'",
                                   "set b 'mine'", "set c 'mine'", "pause 100ms", "get a"},
                                  {"mine", "mine", "mine"}},
                      OwnTextCase{"CopyOnTheFirstIsFoundByTheNextPass",
                                  [](KeepSyncedOwnText& t) {
                                      t.user_copies("a", "mine", "pause 200ms", 2);
                                      t.stop_after("pause 100ms", 3);
                                  },
                                  {"holds a", "holds b", "holds c", "pause 200ms", "holds a",
                                   "get a", "display a", "set a 'mine'", "set b 'mine'",
                                   "set c 'mine'", "pause 100ms", "get a"},
                                  {"mine", "mine", "mine"}},
                      OwnTextCase{"ClipboardWithoutTextIsReadOnEveryPass",
                                  [](KeepSyncedOwnText& t) {
                                      t.user_copies_image("b", "pause 200ms", 2);
                                      t.stop_after("pause 200ms", 4);
                                  },
                                  {"holds a", "holds b", "holds c", "pause 200ms", "holds a",
                                   "holds b", "get b", "holds c", "pause 200ms", "holds a",
                                   "holds b", "get b", "holds c", "pause 200ms", "holds a"},
                                  {"new", "<image>", "new"}},
                      // The text from before, copied again on the first right after the
                      // propagation, is propagated in turn; then every clipboard holds our text.
                      OwnTextCase{"TextFromBeforeCopiedAgainOnTheFirstIsPropagated",
                                  [](KeepSyncedOwnText& t) {
                                      t.user_copies("a", "x", "pause 100ms", 2);
                                      t.stop_after("pause 200ms", 2);
                                  },
                                  {"display a", "set a 'x'", "set b 'x'", "set c 'x'",
                                   "pause 100ms", "get a", "holds a", "holds b", "holds c",
                                   "pause 200ms", "holds a"},
                                  {"x", "x", "x"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeepSynced, StartTextThatDiscoveryWroteIsNotReadAgain) {
    add("a").check_own_text();
    add("b").check_own_text();
    for (const auto& clipboard : clipboards)
        ASSERT_TRUE(clipboard->set("start"));
    world.journal.clear();
    user_copies("b", "mine", "pause 200ms");
    stop_after("pause 100ms", 2);

    const MyError error =
        keep_synced(clipboards, world.pause(), SyncStart{.written = "start", .shared = {}});

    EXPECT_EQ(debug_text(error), debug_text(stop_error));
    EXPECT_EQ(world.journal, (Journal{"pause 100ms", "get a", "holds a", "holds b", "pause 200ms",
                                      "holds a", "holds b", "get b", "display b", "set a 'mine'",
                                      "set b 'mine'", "pause 100ms", "get a"}));
    EXPECT_EQ(texts(), (std::vector<std::string>{"mine", "mine"}));
}

TEST_F(KeepSynced, OwnTextCheckErrorEndsTheLoopAndNothingIsWritten) {
    add("a", "x").check_own_text();
    add("b", "x").check_own_text();
    add("c", "x").check_own_text();
    dynamic_cast<ScriptedClipboard&>(*clipboards[1]).fail_own_text(0, MyError::BorrowError{});
    user_copies("a", "new", "pause 200ms");
    user_copies("c", "later", "pause 100ms", 2);
    stop_after("pause 200ms", 2); // a loop that never asks would run on

    EXPECT_EQ(debug_text(run()), "BorrowError(BorrowError)");
    EXPECT_EQ(world.journal.back(), "holds b");
    EXPECT_EQ(texts(), (std::vector<std::string>{"new", "new", "later"}));
}

struct LoggingCase {
    const char* name;
    Level level;
    bool contents;
    std::string text;
    std::vector<std::string> lines;
};

void PrintTo(const LoggingCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepSyncedLogging : public KeepSynced, public ::testing::WithParamInterface<LoggingCase> {};

TEST_P(KeepSyncedLogging, ChangeIsPropagatedAlikeAndLoggedAsTheSettingsAdmit) {
    const LoggingCase& c = GetParam();
    log::level::set(c.level);
    log::log_sensitive_information::set(c.contents);
    add("a", "x");
    add("b", "x");
    user_copies("b", c.text, "pause 200ms");
    stop_after("pause 100ms", 2);

    EXPECT_EQ(debug_text(run()), debug_text(stop_error));
    EXPECT_EQ(texts(), (std::vector<std::string>{c.text, c.text}));
    EXPECT_EQ(lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepSyncedLogging,
    ::testing::Values(LoggingCase{"WarnWithContents", Level::warn, true, "abc", {}},
                      LoggingCase{"ErrorWithoutContents", Level::error, false, "abc", {}},
                      LoggingCase{"InfoWithoutContents",
                                  Level::info,
                                  false,
                                  "abc",
                                  {" INFO - clipboard updated from display b"}},
                      LoggingCase{"InfoWithContents",
                                  Level::info,
                                  true,
                                  "abc",
                                  {" INFO - clipboard updated from display b",
                                   " INFO - Sensitive: clipboard contents: 'abc'"}},
                      LoggingCase{"DebugWithContents",
                                  Level::debug,
                                  true,
                                  "abc",
                                  {" INFO - clipboard updated from display b",
                                   " INFO - Sensitive: clipboard contents: 'abc'"}},
                      LoggingCase{"ContentsWithALineBreakStayOnOneLine",
                                  Level::info,
                                  true,
                                  "ab\n'c",
                                  {" INFO - clipboard updated from display b",
                                   R"( INFO - Sensitive: clipboard contents: 'ab\n'c')"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every failed read or write ends the loop with that very error, and nothing is written after it.
TEST_F(KeepSynced, ReadErrorAtTheFirstBaseliningIsReturned) {
    add("a", "x").script_get(0, std::unexpected(MyError::BorrowError{}));
    add("b", "x");

    EXPECT_EQ(debug_text(run()), "BorrowError(BorrowError)");
    EXPECT_EQ(world.journal, (Journal{"pause 100ms", "get a"}));
}

TEST_F(KeepSynced, ReadErrorInThePassIsReturnedAndNothingIsWritten) {
    const MyError failure = MyError::Io{wlclip::IoError{EPIPE}};
    add("a", "x");
    add("b", "y").script_get(0, std::unexpected(failure));
    add("c", "z");

    EXPECT_EQ(debug_text(run()), debug_text(failure));
    EXPECT_EQ(world.journal, (Journal{"pause 100ms", "get a", "get a", "get b"}));
    EXPECT_EQ(texts(), (std::vector<std::string>{"x", "y", "z"}));
}

TEST_F(KeepSynced, ReadErrorAtRebaseliningIsReturned) {
    const MyError failure = MyError::WlcrsPaste{
        wlclip::paste::WaylandConnection{wlclip::ConnectError::NoCompositorListening}};
    // a's reads: baseline, first pass, second pass, then the re-baselining one.
    add("a", "x").script_get(3, std::unexpected(failure));
    add("b", "x");
    user_copies("b", "y", "pause 200ms");

    EXPECT_EQ(debug_text(run()), debug_text(failure));
    EXPECT_EQ(world.journal,
              (Journal{"pause 100ms", "get a", "get a", "get b", "pause 200ms", "get a", "get b",
                       "display b", "set a 'y'", "set b 'y'", "pause 100ms", "get a"}));
}

// A failed write keeps no other clipboard from the new text: one left with the older text would
// bring it back at the next discovery.
TEST_F(KeepSynced, WriteErrorOnTheThirdOfFourStillWritesTheFourthAndIsReturned) {
    const MyError failure = MyError::TerminalClipboard{
        {x11clip::ClipboardError{.kind = x11clip::ClipboardError::Kind::not_owner}, std::nullopt}};
    add("a", "x");
    add("b", "x");
    add("c", "x").fail_set(0, failure);
    add("d", "x");
    user_copies("b", "new", "pause 200ms");

    EXPECT_EQ(debug_text(run()), debug_text(failure));
    EXPECT_EQ(Journal(world.journal.end() - 4, world.journal.end()),
              (Journal{"set a 'new'", "set b 'new'", "set c 'new' fails", "set d 'new'"}));
    EXPECT_EQ(texts(), (std::vector<std::string>{"new", "new", "x", "new"}));
}

} // namespace
} // namespace quillfen::test
