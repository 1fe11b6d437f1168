// Discovery on scripted probes: how each probe outcome is sorted and logged, the lines of a whole
// discovery in order, de-duplication in both directions, the start text, and what is left in
// the clipboards when de-duplication or the restore fails.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "discovery.hpp"
#include "log.hpp"
#include "scripted_clipboard.hpp"
#include "tests/servers/captured_output.hpp"
#include "tests/servers/discovery_report.hpp"

namespace quillfen::test {
namespace {

using Journal = std::vector<std::string>;
using Lines = std::vector<std::string>;

using X11Kind = x11clip::ClipboardError::Kind;
const x11clip::ClipboardError connection_failure{.kind = X11Kind::connection,
                                                 .code = XCB_CONN_ERROR};

MyError nothing_listening() {
    return MyError::WlcrsPaste{
        wlclip::paste::WaylandConnection{wlclip::ConnectError::NoCompositorListening}};
}
MyError missing_protocol(std::string name, unsigned version) {
    return MyError::WlcrsPaste{wlclip::paste::MissingProtocol{std::move(name), version}};
}
MyError x11_error(x11clip::ClipboardError error, std::optional<StdIo> stdio = std::nullopt) {
    return MyError::TerminalClipboard{{std::move(error), stdio}};
}
MyError x11_connection_failure() {
    return x11_error(connection_failure);
}

// A Wayland socket that fails its probe read.
class FailingClipboard final : public Clipboard {
  public:
    FailingClipboard(std::string name, MyError error)
        : name_(std::move(name)), error_(std::move(error)) {}
    void debug_fmt(Formatter& f) const override {
        f.debug_struct("Failing").field("display", name_).finish();
    }
    std::string display() const override { return name_; }
    std::expected<std::string, MyError> get() override { return std::unexpected(error_); }
    std::expected<void, MyError> set(std::string_view) override { return std::unexpected(error_); }

  private:
    std::string name_;
    MyError error_;
};

// A machine of scripted displays: every name not given here has nothing listening (Wayland) or
// refuses the connection (X11).
class Discovery : public ::testing::Test {
  protected:
    void SetUp() override {
        log::level::set(Level::debug);
        log::timestamp::set(false);
        log::log_sensitive_information::set(false);
    }

    // A clipboard that answers on `display`, reading `reads` and writing into `writes`.
    ScriptedClipboard& answer(const std::string& display, std::shared_ptr<Selection> reads,
                              std::vector<std::shared_ptr<Selection>> writes = {}) {
        if (writes.empty())
            writes.push_back(reads);
        auto clipboard = std::make_unique<ScriptedClipboard>(display, world, std::move(reads),
                                                             std::move(writes));
        ScriptedClipboard& ref = *clipboard;
        answering[display] = std::move(clipboard);
        return ref;
    }

    Probes probes() {
        return Probes{
            .wayland = [this](std::string display) -> std::unique_ptr<Clipboard> {
                probed.push_back(display);
                if (auto found = answering.find(display); found != answering.end())
                    return std::move(found->second);
                auto failure = failures.find(display);
                return std::make_unique<FailingClipboard>(
                    display, failure != failures.end() ? failure->second : nothing_listening());
            },
            .x11 =
                [this](std::string display) -> std::expected<std::unique_ptr<Clipboard>, MyError> {
                probed.push_back(display);
                if (auto found = answering.find(display); found != answering.end())
                    return std::move(found->second);
                if (auto failure = failures.find(display); failure != failures.end())
                    return std::unexpected(failure->second);
                return std::unexpected(x11_connection_failure());
            },
        };
    }

    std::expected<ClipboardList, MyError> discover() {
        CapturedOutput output;
        auto result = get_clipboards(probes());
        lines = output.lines();
        return result;
    }

    // Journal entries from the first one equal to `from` on.
    Journal journal_from(const std::string& from) const {
        auto start = std::find(world.journal.begin(), world.journal.end(), from);
        return Journal(start, world.journal.end());
    }

    Lines lines_containing(const std::string& part) const {
        Lines result;
        for (const auto& line : lines)
            if (line.find(part) != std::string::npos)
                result.push_back(line);
        return result;
    }

    World world;
    std::map<std::string, std::unique_ptr<ScriptedClipboard>> answering;
    std::map<std::string, MyError> failures;
    std::vector<std::string> probed;
    Lines lines;
};

TEST_F(Discovery, ProbesEveryWaylandNameThenEveryX11NameButNever255) {
    ASSERT_TRUE(discover());
    std::vector<std::string> expected;
    for (int n = 0; n <= 254; ++n)
        expected.push_back("wayland-" + std::to_string(n));
    for (int n = 0; n <= 254; ++n)
        expected.push_back(":" + std::to_string(n));
    EXPECT_EQ(probed, expected);
}

TEST_F(Discovery, NothingAnyWhereLogsTheReportAndAnEmptyList) {
    log::log_sensitive_information::set(true);
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(lines, (Lines{"DEBUG - identifying unique clipboards...", x11_report("[0..254]"),
                            " INFO - Sensitive: Clipboard contents at the start: ''",
                            " INFO - Using clipboards: []"}));
}

TEST_F(Discovery, CompositorWithoutDataControlAndOneXServer) {
    failures.emplace("wayland-0", missing_protocol("zwlr_data_control_manager_v1", 1));
    answer(":0", selection());
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_EQ(names(*found), (std::vector<std::string>{":0"}));
    EXPECT_EQ(
        lines,
        (Lines{"DEBUG - identifying unique clipboards...",
               " WARN - wayland-0 does not support zwlr_data_control_manager_v1. If you are "
               "running gnome in wayland, that's OK because it provides an x11 clipboard, "
               "which will be used instead.",
               "DEBUG - Found clipboard: Scripted { display: \":0\" }", x11_report("[1..254]"),
               " INFO - Using clipboards: [Scripted { display: \":0\" }]"}));
}

// How one failed probe of display number 3 is sorted, seen in the warn and error lines.
struct ProbeCase {
    const char* name;
    std::string display; // "wayland-3": its read fails; ":3": its creation fails
    MyError error;
    Lines lines;
};

class DiscoveryProbe : public Discovery, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(DiscoveryProbe, FailureIsSortedByKind) {
    const ProbeCase& c = GetParam();
    log::level::set(Level::warn);
    failures.emplace(c.display, c.error);
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(lines, c.lines);
}

const std::string unexpected_3 = "ERROR - unexpected error while attempting to setup clipboard 3: ";

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryProbe,
    ::testing::Values(
        ProbeCase{
            "NothingListeningIsSilent", "wayland-3", nothing_listening(), {x11_report("[0..254]")}},
        ProbeCase{"NoDataControlIsWarned",
                  "wayland-3",
                  missing_protocol("zwlr_data_control_manager_v1", 1),
                  {" WARN - wayland-3 does not support zwlr_data_control_manager_v1. If you are "
                   "running gnome in wayland, that's OK because it provides an x11 clipboard, "
                   "which will be used instead.",
                   x11_report("[0..254]")}},
        ProbeCase{"OtherProtocolVersionIsUnexpected",
                  "wayland-3",
                  missing_protocol("zwlr_data_control_manager_v1", 2),
                  {unexpected_3 + "failed to get wlr clipboard: A required Wayland protocol "
                                  "(zwlr_data_control_manager_v1 version 2) is not supported by "
                                  "the compositor",
                   x11_report("[0..254]")}},
        ProbeCase{"OtherProtocolNameIsUnexpected",
                  "wayland-3",
                  missing_protocol("zwlr_data_control_manager_v2", 1),
                  {unexpected_3 + "failed to get wlr clipboard: A required Wayland protocol "
                                  "(zwlr_data_control_manager_v2 version 1) is not supported by "
                                  "the compositor",
                   x11_report("[0..254]")}},
        ProbeCase{"MissingRuntimeDirIsUnexpected",
                  "wayland-3",
                  MyError::WlcrsPaste{
                      wlclip::paste::WaylandConnection{wlclip::ConnectError::XdgRuntimeDirNotSet}},
                  {unexpected_3 + "failed to get wlr clipboard: Couldn't connect to the Wayland "
                                  "compositor",
                   x11_report("[0..254]")}},
        ProbeCase{"IoErrorIsUnexpected",
                  "wayland-3",
                  MyError::Io{wlclip::IoError{EPIPE}},
                  {unexpected_3 + "Broken pipe (os error 32)", x11_report("[0..254]")}},
        // The connection failure is collected by whichever probe meets it and reported at its end.
        ProbeCase{"X11ConnectionFailureOnWaylandIsReportedAfterThatProbe",
                  "wayland-3",
                  x11_connection_failure(),
                  {x11_report("[3]"), x11_report("[0..254]")}},
        ProbeCase{"X11ServerOfAnotherUserIsWarnedAboutApart",
                  ":3",
                  x11_error({.kind = X11Kind::another_user}),
                  {x11_report("[0..2, 4..254]"),
                   " WARN - Not using x11 displays [3]: they are served by another user, who "
                   "must not receive this user's clipboard"}},
        ProbeCase{"OtherX11ErrorIsUnexpected",
                  ":3",
                  x11_error({.kind = X11Kind::connection, .code = XCB_CONN_CLOSED_PARSE_ERR}),
                  {unexpected_3 +
                       "StandardizedError { inner: ClipboardError { message: \"X11 clipboard "
                       "error : XCB connection error: ClosedParseErr\" }, stdio: None }",
                   x11_report("[0..2, 4..254]")}},
        ProbeCase{"ConnectionFailureWithCapturedOutputIsUnexpected",
                  ":3",
                  x11_error(connection_failure, StdIo{}),
                  {unexpected_3 + display_text(x11_error(connection_failure, StdIo{})),
                   x11_report("[0..2, 4..254]")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Discovery, X11ClipboardWhoseFirstReadFailsIsDropped) {
    log::level::set(Level::warn);
    answer(":3", selection()).script_get(0, std::unexpected(MyError::BorrowError{}));
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(lines,
              (Lines{unexpected_3 + "already mutably borrowed", x11_report("[0..2, 4..254]")}));
}

TEST_F(Discovery, ThreeNamesForOneClipboardKeepTheFirst) {
    auto one = selection("hello");
    answer("wayland-0", one);
    answer("wayland-1", one);
    answer(":0", one);
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_EQ(names(*found), (std::vector<std::string>{"wayland-0"}));
    EXPECT_EQ(one->text, "hello");
    // Every clipboard is read once before any name is written, as it is probed; that read gives
    // the start text and whether it holds a text at all. 1 and 2 are never first members.
    EXPECT_EQ(world.journal,
              (Journal{"get wayland-0", "get wayland-1", "get :0", "display wayland-0",
                       "display wayland-1", "set wayland-0 'wayland-0'", "get wayland-1",
                       "set wayland-1 'wayland-1'", "get wayland-0", "display wayland-0",
                       "display :0", "set wayland-0 'wayland-0'", "get :0", "set :0 ':0'",
                       "get wayland-0", "set wayland-0 'hello'"}));
    EXPECT_EQ(lines_containing(" is the same as "),
              (Lines{"DEBUG - Scripted { display: \"wayland-0\" } is the same as Scripted { "
                     "display: \"wayland-1\" }, removing Scripted { display: \"wayland-1\" }",
                     "DEBUG - Scripted { display: \"wayland-0\" } is the same as Scripted { "
                     "display: \":0\" }, removing Scripted { display: \":0\" }"}));
}

TEST_F(Discovery, SecondMemberAlreadyMarkedIsTestedAgain) {
    // :0 sees what either Wayland clipboard holds, and each of them sees what :0 holds; the two
    // Wayland clipboards do not see each other.
    auto w0 = selection(), w1 = selection(), x0 = selection();
    answer("wayland-0", w0, {w0, x0});
    answer("wayland-1", w1, {w1, x0});
    answer(":0", x0, {x0, w0, w1});
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_EQ(names(*found), (std::vector<std::string>{"wayland-0", "wayland-1"}));
    EXPECT_EQ(lines_containing(" is the same as ").size(), 2u);
    EXPECT_EQ(journal_from("set wayland-1 'wayland-1'"),
              (Journal{"set wayland-1 'wayland-1'", "get :0", "set :0 ':0'", "get wayland-1",
                       "set wayland-0 ''", "set wayland-1 ''"}));
}

TEST_F(Discovery, OneWayMatchKeepsBoth) {
    // wayland-1 sees what wayland-0 holds, but its own writes stay apart.
    auto shared = selection(), apart = selection();
    answer("wayland-0", shared);
    answer("wayland-1", shared, {apart});
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_EQ(names(*found), (std::vector<std::string>{"wayland-0", "wayland-1"}));
    EXPECT_TRUE(lines_containing(" is the same as ").empty());
    EXPECT_EQ(journal_from("display wayland-0"),
              (Journal{"display wayland-0", "display wayland-1", "set wayland-0 'wayland-0'",
                       "get wayland-1", "set wayland-1 'wayland-1'", "get wayland-0",
                       "set wayland-0 ''", "set wayland-1 ''"}));
}

TEST_F(Discovery, StartTextMayComeFromAnEntryLaterRemoved) {
    log::log_sensitive_information::set(true);
    auto one = selection("hello"), other = selection("later");
    // wayland-0's read for the start text comes out empty, as an X11 read that timed out would.
    answer("wayland-0", one).script_get(0, std::string());
    answer("wayland-1", one);
    answer(":0", other);
    auto found = discover();
    ASSERT_TRUE(found);
    EXPECT_EQ(names(*found), (std::vector<std::string>{"wayland-0", ":0"}));
    EXPECT_EQ(one->text, "hello");
    EXPECT_EQ(other->text, "hello");
    EXPECT_EQ(lines_containing("Sensitive"),
              (Lines{" INFO - Sensitive: Clipboard contents at the start: 'hello'"}));
}

// After a worker ends its selections are gone: every clipboard reads empty, and the text they
// last shared is put back. A text that a clipboard still holds wins over it.
struct RememberedCase {
    const char* name;
    std::string wayland; // what wayland-0 holds at the start
    std::string x11;     // what :0 holds at the start
    std::string start_text;
    bool remembered_asked;
};

void PrintTo(const RememberedCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryRemembered : public Discovery,
                            public ::testing::WithParamInterface<RememberedCase> {};

TEST_P(DiscoveryRemembered, StartText) {
    const RememberedCase& c = GetParam();
    auto wayland = selection(c.wayland), x11 = selection(c.x11);
    answer("wayland-0", wayland);
    answer(":0", x11);
    bool asked = false;
    CapturedOutput output;
    auto found = quillfen::discover(probes(), KeptText{.load =
                                                           [&] {
                                                               asked = true;
                                                               return std::string("shared before");
                                                           },
                                                       .store = [](std::string_view) {}});
    ASSERT_TRUE(found);
    EXPECT_EQ(names(found->clipboards), (std::vector<std::string>{"wayland-0", ":0"}));
    EXPECT_EQ(found->start_text, c.start_text);
    EXPECT_EQ(wayland->text, c.start_text);
    EXPECT_EQ(x11->text, c.start_text);
    EXPECT_EQ(asked, c.remembered_asked);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryRemembered,
    ::testing::Values(RememberedCase{"EveryClipboardEmpty", "", "", "shared before", true},
                      RememberedCase{"TextOnTheSecondWins", "", "copied", "copied", false},
                      RememberedCase{"TextOnTheFirstWins", "copied", "", "copied", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FirstNonemptyContent, SkipsErrorsAndEmptyTextsAndStopsAtTheFirstText) {
    World world;
    ClipboardList clipboards;
    clipboards.push_back(scripted("a", world, selection("held")));
    static_cast<ScriptedClipboard&>(*clipboards.back())
        .script_get(0, std::unexpected(MyError::BorrowError{}));
    clipboards.push_back(scripted("b", world, selection()));
    clipboards.push_back(scripted("c", world, selection("first")));
    clipboards.push_back(scripted("d", world, selection("second")));
    EXPECT_EQ(first_nonempty_content(clipboards), "first");
    EXPECT_EQ(world.journal, (Journal{"get a", "get b", "get c"}));

    clipboards.resize(2);
    EXPECT_EQ(first_nonempty_content(clipboards), "held");
    EXPECT_EQ(first_nonempty_content(ClipboardList{}), "");
}

TEST(RetainUnique, KeepsTheOthersInOrder) {
    World world;
    ClipboardList clipboards;
    for (const char* name : {"a", "b", "c", "d"})
        clipboards.push_back(scripted(name, world, selection()));
    ClipboardList kept = retain_unique(std::move(clipboards), DuplicateSet{1, 3});
    EXPECT_EQ(names(kept), (std::vector<std::string>{"a", "c"}));
}

// A failure while de-duplicating or restoring ends discovery with that error; first the user's
// text is put back wherever a display name was written, so that no display name is left behind
// to become the next discovery's start text.
void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

struct FailureCase {
    const char* name;
    std::string clipboard;
    bool on_set;
    unsigned call; // which get or set of that clipboard fails, from 0
    Journal after; // the journal from the failing call on
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryFailure : public Discovery, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DiscoveryFailure, ReturnsTheErrorAfterPuttingTheStartTextBack) {
    const FailureCase& c = GetParam();
    const MyError failure = MyError::Io{wlclip::IoError{EIO}};
    // wayland-1 sees what wayland-0 holds, so the pair (0, 1) goes through all four steps.
    auto users = selection("user text"), apart = selection(), x11 = selection();
    std::map<std::string, ScriptedClipboard*> clipboard{
        {"wayland-0", &answer("wayland-0", users)},
        {"wayland-1", &answer("wayland-1", users, {apart})},
        {":0", &answer(":0", x11)}};
    if (c.on_set)
        clipboard.at(c.clipboard)->fail_set(c.call, failure);
    else
        clipboard.at(c.clipboard)->script_get(c.call, std::unexpected(failure));

    auto found = discover();
    ASSERT_FALSE(found);
    EXPECT_EQ(debug_text(found.error()), debug_text(failure));
    EXPECT_EQ(Journal(world.journal.end() - static_cast<std::ptrdiff_t>(c.after.size()),
                      world.journal.end()),
              c.after);
    for (const auto& held : {users, apart, x11})
        EXPECT_TRUE(held->text == "user text" || held->text.empty()) << held->text;
    EXPECT_TRUE(lines_containing("Using clipboards").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryFailure,
    ::testing::Values(
        FailureCase{"FirstWrite", "wayland-0", true, 0, {"set wayland-0 'wayland-0' fails"}},
        FailureCase{
            "FirstReadBack", "wayland-1", false, 1, {"get wayland-1", "set wayland-0 'user text'"}},
        FailureCase{"SecondWrite",
                    "wayland-1",
                    true,
                    0,
                    {"set wayland-1 'wayland-1' fails", "set wayland-0 'user text'"}},
        FailureCase{"SecondReadBack",
                    "wayland-0",
                    false,
                    1,
                    {"set wayland-1 'wayland-1'", "get wayland-0", "set wayland-0 'user text'",
                     "set wayland-1 'user text'"}},
        FailureCase{"LaterPair",
                    ":0",
                    false,
                    1,
                    {"get :0", "set wayland-0 'user text'", "set wayland-1 'user text'"}},
        // wayland-1's third write is its restore, tried once more as it holds a display name;
        // :0 is still written, so that no clipboard keeps an older text.
        FailureCase{"Restore",
                    "wayland-1",
                    true,
                    2,
                    {"set wayland-0 'user text'", "set wayland-1 'user text' fails",
                     "set wayland-1 'user text'", "set :0 'user text'"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The kept text: discovery stores its start text before the pair test writes the first display
// name, so a worker that ends during the test (or a test that fails) leaves the user's copy to
// the next worker, not an older text.
class DiscoveryKept : public Discovery {
  protected:
    std::expected<Discovered, MyError> discover_keeping(std::string before) {
        kept = std::move(before);
        CapturedOutput output;
        auto found =
            quillfen::discover(probes(), KeptText{.load = [this] { return kept; },
                                                  .store =
                                                      [this](std::string_view text) {
                                                          kept = std::string(text);
                                                          world.record("store '" + kept + "'");
                                                      }});
        lines = output.lines();
        return found;
    }

    std::string kept;
};

TEST_F(DiscoveryKept, StartTextIsStoredBeforeTheFirstDisplayNameIsWritten) {
    answer("wayland-0", selection("new copy"));
    answer(":0", selection());
    ASSERT_TRUE(discover_keeping("older text"));
    EXPECT_EQ(journal_from("get wayland-0"),
              (Journal{"get wayland-0", "get :0", "store 'new copy'", "display wayland-0",
                       "display :0", "set wayland-0 'wayland-0'", "get :0",
                       "set wayland-0 'new copy'", "set :0 'new copy'"}));
}

TEST_F(DiscoveryKept, PairTestThatFailsLeavesTheNewCopyKept) {
    answer("wayland-0", selection("new copy")).fail_set(0, MyError::Io{wlclip::IoError{EIO}});
    answer(":0", selection());
    ASSERT_FALSE(discover_keeping("older text"));
    EXPECT_EQ(kept, "new copy");
}

// At a rediscovery, a text that the clipboards still held serve is ours, not the user's copy: the
// kept text, the latest, is the start text. Here the write of "new" to :0 failed, and :0 still
// shows "old" through its old owner; wayland-0 took "new".
TEST_F(DiscoveryKept, TextThatTheHeldClipboardsStillServeIsNotTheUsersCopy) {
    struct Case {
        const char* what;
        bool old_owner_serves; // else the user copied "old" there since
        std::string start_text;
    };
    for (const Case& c : {Case{"ours", true, "new"}, Case{"the user's", false, "old"}}) {
        SCOPED_TRACE(c.what);
        world = World{};
        auto on_x = selection("old");
        auto on_wayland = selection("new");
        ClipboardList held;
        held.push_back(scripted("wayland-0", world, on_wayland));
        held.push_back(scripted(":0", world, on_x));
        for (const auto& clipboard : held)
            (void)clipboard->set(clipboard->display() == ":0" ? "old" : "new");
        for (const auto& clipboard : held)
            dynamic_cast<ScriptedClipboard&>(*clipboard).check_own_text();
        if (!c.old_owner_serves)
            *on_x = Selection{"old"}; // a copy of the same bytes, by someone else
        if (!c.old_owner_serves)
            dynamic_cast<ScriptedClipboard&>(*held[1]).fail_own_text(0, MyError::BorrowError{});
        // Read as the new discovery reads it: :0 first, as if wayland-0 had been dropped.
        answering.clear();
        answer(":0", on_x);
        kept = "new";
        CapturedOutput output;
        auto found = quillfen::discover(
            probes(),
            KeptText{.load = [this] { return kept; },
                     .store = [this](std::string_view text) { kept = std::string(text); }},
            held);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->start_text, c.start_text);
        EXPECT_EQ(on_x->text, c.start_text);
    }
}

// A clipboard that holds a selection without text (an image), or one that offers more than text
// (files), is never written by discovery: no display name, no start text. It stays in the list, as
// its own clipboard, and the text of the latter may be the start text.
struct WithoutTextCase {
    const char* name;
    std::string wayland; // "<image>": a selection without text; "rich:" before a text offered
                         // beside other types
    std::string x0;
    std::string x1;
    std::string start_text;
    Journal writes; // every set, in order
};

void PrintTo(const WithoutTextCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryWithoutText : public DiscoveryKept,
                             public ::testing::WithParamInterface<WithoutTextCase> {};

// What a selection holds, as the table writes it.
std::string texts(const Selection& selection) {
    if (!selection.offers_text)
        return "<image>";
    return selection.more_than_text ? "rich:" + selection.text : selection.text;
}

TEST_P(DiscoveryWithoutText, IsLeftAlone) {
    const WithoutTextCase& c = GetParam();
    std::map<std::string, std::shared_ptr<Selection>> held;
    for (const auto& [name, text] :
         {std::pair{"wayland-0", c.wayland}, std::pair{":0", c.x0}, std::pair{":1", c.x1}}) {
        held[name] = text == "<image>"           ? image()
                     : text.starts_with("rich:") ? rich(text.substr(5))
                                                 : selection(text);
        answer(name, held[name]);
    }
    auto found = discover_keeping("kept text");
    ASSERT_TRUE(found);
    EXPECT_EQ(names(found->clipboards), (std::vector<std::string>{"wayland-0", ":0", ":1"}));
    EXPECT_EQ(found->start_text, c.start_text);
    EXPECT_EQ(kept, c.start_text);
    Journal writes;
    for (const auto& entry : world.journal)
        if (entry.starts_with("set "))
            writes.push_back(entry);
    EXPECT_EQ(writes, c.writes);
    // What was not written is what the user had copied.
    std::vector<std::string> left_alone;
    std::vector<std::string> copied;
    for (const auto& [name, text] :
         {std::pair{"wayland-0", c.wayland}, std::pair{":0", c.x0}, std::pair{":1", c.x1}}) {
        if (text != "<image>" && !text.starts_with("rich:"))
            continue;
        left_alone.push_back(texts(*held[name]));
        copied.push_back(text);
    }
    EXPECT_EQ(left_alone, copied);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryWithoutText,
    ::testing::Values(WithoutTextCase{"ImageFirstTextElsewhere",
                                      "<image>",
                                      "copied",
                                      "",
                                      "copied",
                                      {"set :0 ':0'", "set :0 'copied'", "set :1 'copied'"}},
                      // The kept text goes to the clipboards that hold nothing.
                      WithoutTextCase{"ImageAndNothingElse",
                                      "",
                                      "<image>",
                                      "",
                                      "kept text",
                                      {"set wayland-0 'wayland-0'", "set wayland-0 'kept text'",
                                       "set :1 'kept text'"}},
                      WithoutTextCase{
                          "OnlyImages", "<image>", "<image>", "<image>", "kept text", {}},
                      WithoutTextCase{"RichCopyFirstGivesTheOthersItsText",
                                      "rich:files",
                                      "",
                                      "",
                                      "files",
                                      {"set :0 ':0'", "set :0 'files'", "set :1 'files'"}},
                      WithoutTextCase{"RichCopyAfterATextKeepsItsOwn",
                                      "copied",
                                      "rich:files",
                                      "",
                                      "copied",
                                      {"set wayland-0 'wayland-0'", "set wayland-0 'copied'",
                                       "set :1 'copied'"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FirstNonemptyContent, PassesOverSelectionsWithoutText) {
    World world;
    ClipboardList clipboards;
    clipboards.push_back(scripted("a", world, image()));
    clipboards.push_back(scripted("b", world, selection("text")));
    EXPECT_EQ(first_nonempty_content(clipboards), "text");
}

} // namespace
} // namespace quillfen::test
