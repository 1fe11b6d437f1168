// The X11 clipboard layer against real Xvfb servers, with xclip and small xcb clients as
// the other side.
#include <gtest/gtest.h>

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/servers/process_state.hpp"
#include "tests/servers/scoped_environment.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "tests/x11clip/slow_incr_owner.hpp"
#include "tests/x11clip/slow_link.hpp"
#include "tests/x11clip/x11_clients.hpp"
#include "x11clip/reader.hpp"
#include "x11clip/x11clip.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::expected<x11clip::Clipboard, x11clip::ClipboardError> open_on(const std::string& display) {
    return x11clip::Clipboard::create(display);
}

// A text of `size` bytes that shows misplaced or lost chunks: multi-byte characters and
// a running counter.
std::string patterned_text(std::size_t size) {
    std::string text;
    text.reserve(size + 16);
    for (std::size_t i = 0; text.size() < size; ++i)
        text += (i % 7 == 0) ? std::string("\u00e4") : std::to_string(i % 1000) + " ";
    text.resize(size, 'x');
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
        text.back() = 'y'; // never end inside a character
    if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
        text.back() = 'z';
    return text;
}

// A client that asks for CLIPBOARD as UTF8_STRING and waits a bounded time for the answer.
class Requestor {
  public:
    explicit Requestor(const std::string& display)
        : client_(display), clipboard_(client_.atom("CLIPBOARD")),
          utf8_string_(client_.atom("UTF8_STRING")), property_(client_.atom("REQUESTOR_OUT")) {}

    // The answer's bytes, or none when no SelectionNotify came within `limit`.
    std::optional<std::string> ask(std::chrono::milliseconds limit) {
        xcb_connection_t* xcb = client_.connection();
        xcb_convert_selection(xcb, client_.window(), clipboard_, utf8_string_, property_,
                              XCB_CURRENT_TIME);
        xcb_flush(xcb);
        const auto deadline = Clock::now() + limit;
        for (;;) {
            while (std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> e{
                xcb_poll_for_event(xcb), &std::free})
                if ((e->response_type & 0x7f) == XCB_SELECTION_NOTIFY)
                    return take();
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms || xcb_connection_has_error(xcb) != 0)
                return std::nullopt;
            pollfd p{xcb_get_file_descriptor(xcb), POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        }
    }

  private:
    std::string take() {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply{
            xcb_get_property_reply(client_.connection(),
                                   xcb_get_property(client_.connection(), 1, client_.window(),
                                                    property_, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                                    UINT32_MAX / 4),
                                   nullptr),
            &std::free};
        if (!reply)
            return "<no property>";
        return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
    }

    RawClient client_;
    xcb_atom_t clipboard_, utf8_string_, property_;
};

class X11ClipLayer : public ::testing::Test {
  protected:
    x11clip::Clipboard open() {
        auto clipboard = open_on(server.display());
        if (!clipboard)
            throw std::runtime_error(clipboard.error().message());
        return std::move(*clipboard);
    }

    XvfbServer server;
};

TEST(X11ClipCreate, FailuresNameTheirCause) {
    XvfbServer server;
    const std::string none = ":" + std::to_string(unused_display_number());
    struct Case {
        std::string display;
        std::string message;
    };
    const Case cases[] = {
        {none, "X11 clipboard error : XCB connection error: Connection"},
        {server.display() + ".7",
         "X11 clipboard error : XCB connection error: ClosedInvalidScreen"},
        {"no-colon", "X11 clipboard error : XCB connection error: ClosedParseErr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.display);
        const auto fds = open_fds();
        const auto threads = thread_count();
        auto clipboard = open_on(c.display);
        ASSERT_FALSE(clipboard.has_value());
        EXPECT_EQ(clipboard.error().message(), c.message);
        EXPECT_EQ(open_fds(), fds);
        EXPECT_EQ(thread_count(), threads);
    }
    // The text discovery compares byte for byte.
    auto clipboard = open_on(none);
    ASSERT_FALSE(clipboard.has_value());
    const std::string shown = "clipboard error: " + clipboard.error().message();
    EXPECT_EQ(shown, "clipboard error: X11 clipboard error : XCB connection error: Connection");
    EXPECT_EQ(shown.size(), 71u);
}

TEST_F(X11ClipLayer, ServesTheDisplayGivenWhileDisplayNamesAnother) {
    XvfbServer other;
    ScopedEnvironment environment;
    environment.set("DISPLAY", other.display());
    auto clipboard = open();
    ASSERT_TRUE(clipboard.set_string("first display"));
    EXPECT_EQ(xclip_read(server.display()).out, "first display");
    EXPECT_EQ(RawClient(other.display()).clipboard_owner(), XCB_NONE);
}

TEST_F(X11ClipLayer, NoOwnerReadsEmptyAtOnce) {
    auto clipboard = open();
    const auto start = Clock::now();
    auto text = clipboard.get_string();
    const auto took = Clock::now() - start;
    ASSERT_TRUE(text.has_value()) << text.error().message();
    EXPECT_EQ(*text, "");
    // The server tells at once that nobody owns it: the read does not wait for its time limit.
    EXPECT_LT(took, x11clip::read_timeout);
}

TEST_F(X11ClipLayer, SilentOwnerTimesOutAfterTwoSeconds) {
    ScriptedOwner owner(
        server.display(),
        {.reply = ScriptedOwner::Script::Reply::none, .type = "UTF8_STRING", .bytes = ""});
    auto clipboard = open();
    const auto start = Clock::now();
    auto text = clipboard.get_string();
    const auto took = Clock::now() - start;
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error().message(), "X11 clipboard error : Selection timed out");
    EXPECT_GE(took, 1950ms);
    EXPECT_LT(took, 5s);
}

TEST_F(X11ClipLayer, AnswersOfOtherOwners) {
    struct Case {
        const char* name;
        ScriptedOwner::Script script;
        std::optional<std::string> text; // none: the read fails with `message`
        std::string message;
    };
    using Reply = ScriptedOwner::Script::Reply;
    const Case cases[] = {
        {"utf8",
         {.reply = Reply::value, .type = "UTF8_STRING", .bytes = "gr\u00fc\u00dfe \U0001F600"},
         "gr\u00fc\u00dfe \U0001F600",
         ""},
        // An owner that refuses holds something that is not text: not the same as no owner.
        {"refusal",
         {.reply = Reply::refusal, .type = "UTF8_STRING", .bytes = ""},
         std::nullopt,
         "X11 clipboard error : Selection refused"},
        {"string only",
         {.reply = Reply::value, .type = "STRING", .bytes = "plain"},
         std::nullopt,
         "X11 clipboard error : Unexpected Reply type: 31"},
        {"invalid utf8",
         {.reply = Reply::value, .type = "UTF8_STRING", .bytes = "ab\xff\xfe"},
         std::nullopt,
         "error interpreting as UTF8"},
        {"surrogate",
         {.reply = Reply::value, .type = "UTF8_STRING", .bytes = "\xed\xa0\x80"},
         std::nullopt,
         "error interpreting as UTF8"},
        {"cut short",
         {.reply = Reply::value, .type = "UTF8_STRING", .bytes = "ok\xe2\x82"},
         std::nullopt,
         "error interpreting as UTF8"},
    };
    auto clipboard = open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedOwner owner(server.display(), c.script);
        auto text = clipboard.get_string();
        if (c.text) {
            ASSERT_TRUE(text.has_value()) << text.error().message();
            EXPECT_EQ(*text, *c.text);
        } else {
            ASSERT_FALSE(text.has_value());
            EXPECT_EQ(text.error().message(), c.message);
        }
    }
}

TEST_F(X11ClipLayer, OwnTextReadsBack) {
    auto clipboard = open();
    for (std::string text : {"one", "", "two\nlines\n", "\u00e4\u00f6\u00fc"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(clipboard.set_string(text));
        auto read = clipboard.get_string();
        ASSERT_TRUE(read.has_value()) << read.error().message();
        EXPECT_EQ(*read, text);
    }
}

TEST_F(X11ClipLayer, EmptyTextIsOwnedWithZeroBytes) {
    auto clipboard = open();
    ASSERT_TRUE(clipboard.set_string(""));
    RawClient peer(server.display());
    EXPECT_NE(peer.clipboard_owner(), XCB_NONE);
    auto answer = peer.convert("UTF8_STRING");
    EXPECT_FALSE(answer.refused);
    EXPECT_EQ(answer.type, peer.atom("UTF8_STRING"));
    EXPECT_EQ(answer.bytes, "");
}

TEST_F(X11ClipLayer, ServesTargetsAndTextInEveryTarget) {
    const std::string text = "gr\u00fc\u00dfe";
    auto clipboard = open();
    ASSERT_TRUE(clipboard.set_string(text));

    auto targets = xclip_read(server.display(), "TARGETS");
    EXPECT_TRUE(targets.succeeded());
    EXPECT_EQ(targets.out, "TARGETS\nUTF8_STRING\n");

    RawClient peer(server.display());
    auto listed = peer.convert("TARGETS");
    EXPECT_EQ(peer.atom_name(listed.type), "ATOM");
    EXPECT_EQ(listed.format, 32);

    for (const char* target : {"UTF8_STRING", "STRING", "text/plain;charset=utf-8", "TEXT"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(xclip_read(server.display(), target).out, text);
        auto answer = peer.convert(target);
        EXPECT_EQ(peer.atom_name(answer.type), "UTF8_STRING");
        EXPECT_EQ(answer.format, 8);
        EXPECT_EQ(answer.bytes, text);
    }
}

// MULTIPLE names its conversions in pairs on the requestor's property; a refusal must leave
// the pairs as they were. TIMESTAMP is the server time at which we took CLIPBOARD.
TEST_F(X11ClipLayer, RefusesMultipleAndAnswersTimestampWithTheTimeOfOwnership) {
    auto clipboard = open();
    RawClient peer(server.display());
    xcb_connection_t* xcb = peer.connection();
    const xcb_atom_t property = peer.atom("RAW_CLIENT_OUT");
    const xcb_atom_t atom_pair = peer.atom("ATOM_PAIR");
    const std::vector<xcb_atom_t> pairs{peer.atom("UTF8_STRING"), peer.atom("MULTIPLE_TEXT"),
                                        peer.atom("TIMESTAMP"), peer.atom("MULTIPLE_TIME")};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::string text = "owned " + std::to_string(round);
        const xcb_timestamp_t before = peer.server_time();
        ASSERT_TRUE(clipboard.set_string(text));
        const xcb_timestamp_t after = peer.server_time();

        auto time = peer.convert("TIMESTAMP");
        EXPECT_FALSE(time.refused);
        EXPECT_EQ(peer.atom_name(time.type), "INTEGER");
        EXPECT_EQ(time.format, 32);
        EXPECT_EQ(time.bytes.size(), sizeof(xcb_timestamp_t));
        if (time.bytes.size() == sizeof(xcb_timestamp_t)) {
            xcb_timestamp_t owned = 0;
            std::memcpy(&owned, time.bytes.data(), sizeof owned);
            EXPECT_GE(owned, before);
            EXPECT_LE(owned, after);
        }

        xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, peer.window(), property, atom_pair, 32,
                            static_cast<std::uint32_t>(pairs.size()), pairs.data());
        EXPECT_TRUE(peer.convert("MULTIPLE").refused);
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> left{
            xcb_get_property_reply(
                xcb,
                xcb_get_property(xcb, 1, peer.window(), property, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                nullptr),
            &std::free};
        ASSERT_TRUE(left);
        EXPECT_EQ(left->type, atom_pair);
        EXPECT_EQ(left->format, 32);
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(left.get()));
        EXPECT_EQ(
            std::vector<xcb_atom_t>(values, values + xcb_get_property_value_length(left.get()) /
                                                         sizeof(xcb_atom_t)),
            pairs);

        EXPECT_EQ(peer.convert("UTF8_STRING").bytes, text);
        std::this_thread::sleep_for(20ms); // the next ownership at a later server time
    }
}

// ICCCM: an owner takes a selection at a server time it learnt, never at CurrentTime, so that the
// time TIMESTAMP answers is the one the server keeps for the ownership. Through a slow link the
// server's clock moves on between the event that time comes from and the take; a take at
// CurrentTime would be stamped with that later time.
TEST_F(X11ClipLayer, TakesClipboardAtTheServerTimeThatTimestampAnswers) {
    const int number = unused_display_number();
    const SlowLink link(number, server.number(), 20ms);
    auto clipboard = open_on(":" + std::to_string(number));
    ASSERT_TRUE(clipboard) << clipboard.error().message();
    RawClient peer(server.display());
    OwnerWatch watch(server.display());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const xcb_timestamp_t before = peer.server_time();
        ASSERT_TRUE(clipboard->set_string("taken " + std::to_string(round)));
        const OwnerWatch::Taken taken = watch.next();
        EXPECT_EQ(taken.owner, peer.clipboard_owner());
        EXPECT_NE(taken.at, XCB_CURRENT_TIME);
        EXPECT_GE(taken.at, before);

        const auto answer = peer.convert("TIMESTAMP");
        ASSERT_EQ(answer.bytes.size(), sizeof(xcb_timestamp_t));
        xcb_timestamp_t answered = 0;
        std::memcpy(&answered, answer.bytes.data(), sizeof answered);
        EXPECT_EQ(taken.at, answered);
    }
}

TEST_F(X11ClipLayer, LongTextsGoIncrementallyFromTheThreshold) {
    auto clipboard = open();
    RawClient peer(server.display());
    // A one-piece answer must fit in one ChangeProperty request: 24 bytes of header, and
    // with big requests 4 more for the extended length.
    const std::size_t limit = peer.max_request_bytes();
    const bool big_requests =
        limit > std::size_t{xcb_get_setup(peer.connection())->maximum_request_length} * 4;
    const std::size_t threshold = limit - 24 - (big_requests ? 4 : 0);
    struct Case {
        std::size_t size;
        bool incremental;
    };
    const Case cases[] = {
        {threshold, true},
        {threshold - 1, false},
        {limit - 25, true}, // too long for one request once big requests are in use
        {limit - 24, true},
    };
    for (const Case c : cases) {
        SCOPED_TRACE(c.size);
        const std::string text = patterned_text(c.size);
        ASSERT_TRUE(clipboard.set_string(text));

        auto answer = peer.convert("UTF8_STRING");
        EXPECT_TRUE(answer.bytes == text);
        if (c.incremental) {
            EXPECT_EQ(peer.atom_name(answer.type), "INCR");
            ASSERT_FALSE(answer.chunks.empty());
            EXPECT_EQ(answer.chunks.back(), 0u);
            for (std::size_t chunk : answer.chunks)
                EXPECT_LE(chunk, 4000u);
        } else {
            EXPECT_EQ(peer.atom_name(answer.type), "UTF8_STRING");
            EXPECT_TRUE(answer.chunks.empty());
        }
        auto by_xclip = xclip_read(server.display());
        EXPECT_TRUE(by_xclip.succeeded());
        EXPECT_EQ(by_xclip.out.size(), text.size());
        EXPECT_TRUE(by_xclip.out == text);
        // Still serving after the transfers: the connection survived the request size.
        EXPECT_FALSE(peer.convert("TARGETS").refused);
    }
}

TEST_F(X11ClipLayer, ReadsSeveralMegabytesFromXclipIncrementally) {
    const std::string text = patterned_text(5 * 1024 * 1024 + 3);
    XclipOwner owner(server.display(), text);
    RawClient peer(server.display());
    EXPECT_EQ(peer.atom_name(peer.convert("UTF8_STRING").type), "INCR");

    auto clipboard = open();
    auto read = clipboard.get_string();
    ASSERT_TRUE(read.has_value()) << read.error().message();
    EXPECT_EQ(read->size(), text.size());
    EXPECT_TRUE(*read == text);
}

// How fast the answers come is the benchmark's; here, that none is overlooked.
TEST_F(X11ClipLayer, EveryRequestOfManySimultaneousRequestorsIsAnswered) {
    constexpr int requestors = 6;
    constexpr int rounds = 2000;
    // Far beyond any answer's time: a request the owner overlooked is never answered.
    constexpr auto limit = 10s;
    auto clipboard = open();
    ASSERT_TRUE(clipboard.set_string("served to everyone"));

    std::vector<std::unique_ptr<Requestor>> clients;
    for (int i = 0; i < requestors; ++i)
        clients.push_back(std::make_unique<Requestor>(server.display()));
    std::atomic<int> late{0};
    std::atomic<int> wrong{0};
    std::atomic<int> done_rounds{0};
    std::barrier start(requestors);
    {
        std::vector<std::jthread> threads;
        for (auto& client : clients) {
            threads.emplace_back([&, c = client.get()] {
                for (int round = 0; round < rounds; ++round) {
                    start.arrive_and_wait(); // every request of a round goes at once
                    if (late != 0)
                        return; // all threads see it after the same barrier
                    auto answer = c->ask(limit);
                    if (!answer)
                        ++late;
                    else if (*answer != "served to everyone")
                        ++wrong;
                    if (c == clients.front().get())
                        ++done_rounds;
                }
            });
        }
    }
    EXPECT_EQ(late, 0) << "a request went unanswered in round " << done_rounds;
    EXPECT_EQ(wrong, 0);
}

TEST_F(X11ClipLayer, AnIncrementalReadThatGaveUpLeavesNothingBehind) {
    // Chunks that show where a stray one came from.
    auto chunks_of = [](int count) {
        std::vector<std::string> chunks;
        for (int i = 0; i < count; ++i)
            chunks.push_back(std::string(996, '.') + "CHUNK" + (i < 10 ? "0" : "") +
                             std::to_string(i));
        return chunks;
    };
    auto clipboard = open();
    {
        // Fast enough: the whole text within the time limit.
        SlowIncrOwner owner(server.display(), chunks_of(3), 100ms);
        auto read = clipboard.get_string();
        ASSERT_TRUE(read.has_value()) << read.error().message();
        EXPECT_TRUE(*read == owner.text()) << read->size() << " bytes";
    }
    // Too slow: every read gives up, while the owner goes on sending to what it left.
    SlowIncrOwner slow(server.display(), chunks_of(12), 400ms);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        auto read = clipboard.get_string();
        ASSERT_FALSE(read.has_value())
            << "took " << read->size()
            << " bytes for the text: " << read->substr(read->size() > 7 ? read->size() - 7 : 0);
        EXPECT_EQ(read.error().message(), "X11 clipboard error : Selection timed out");
    }
    // The next owner's answer is taken, not the late chunks of the abandoned reads.
    for (const char* text : {"after the slow owner", "and again"}) {
        ScriptedOwner next(
            server.display(),
            {.reply = ScriptedOwner::Script::Reply::value, .type = "UTF8_STRING", .bytes = text});
        for (int i = 0; i < 5; ++i) {
            auto read = clipboard.get_string();
            ASSERT_TRUE(read.has_value()) << read.error().message();
            EXPECT_EQ(read->substr(0, 40), text);
            std::this_thread::sleep_for(150ms);
        }
    }
}

// An owner that never ends its transfer is given up on once the text would pass the size limit,
// so the read holds no more than that; and it is not asked again until CLIPBOARD has a new owner.
TEST_F(X11ClipLayer, AnEndlessIncrementalTransferIsGivenUpAtTheSizeLimit) {
    const std::string chunk(250000, 'e'); // as large as a request goes without BIG-REQUESTS
    auto clipboard = open();
    {
        SlowIncrOwner endless(server.display(), {chunk}, 0ms, SlowIncrOwner::Ending::never);
        std::size_t asked = 0; // by the first read: TARGETS and UTF8_STRING
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            auto read = clipboard.read_selection();
            ASSERT_FALSE(read.has_value()) << read->text.size() << " bytes";
            EXPECT_EQ(read.error().message(), "X11 clipboard error : Selection too large");
            if (i == 0)
                asked = endless.requests();
            EXPECT_EQ(endless.requests(), asked) << "asked again for the copy it gave up on";
            // Beside what was read, the owner may have sent a chunk or two after each transfer
            // was given up, the one of TARGETS included.
            EXPECT_LE(endless.sent(), x11clip::read_size_limit + 4 * chunk.size());
        }
    }
    XclipOwner next(server.display(), "after the endless owner");
    auto read = clipboard.read_selection();
    ASSERT_TRUE(read.has_value()) << read.error().message();
    EXPECT_EQ(read->text, "after the endless owner");
}

TEST_F(X11ClipLayer, AnotherClientTakingClipboardWins) {
    auto clipboard = open();
    ASSERT_TRUE(clipboard.set_string("ours"));
    {
        XclipOwner theirs(server.display(), "theirs");
        auto read = clipboard.get_string();
        ASSERT_TRUE(read.has_value()) << read.error().message();
        EXPECT_EQ(*read, "theirs");

        ASSERT_TRUE(clipboard.set_string("ours again"));
        EXPECT_EQ(xclip_read(server.display()).out, "ours again");
    }
}

// Our own text is answered without a transfer; it must read exactly as a transfer of it
// does, which another object on the display shows.
TEST_F(X11ClipLayer, OwnTextReadsAsATransferOfItReads) {
    auto ours = open();
    auto other = open();
    for (std::string text : {"", "plain", "gr\u00fc\u00dfe", "bad \xff byte", "cut \xe2\x82"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(ours.set_string(text));
        auto own = ours.get_string();
        auto transferred = other.get_string();
        ASSERT_EQ(own.has_value(), transferred.has_value());
        // Whether our text reads as itself is known without copying it.
        EXPECT_EQ(ours.holds_own_text(), own.has_value());
        EXPECT_FALSE(other.holds_own_text());
        if (own)
            EXPECT_EQ(*own, *transferred);
        else
            EXPECT_EQ(own.error().message(), transferred.error().message());
    }
}

// Reading our own text back through the server costs a transfer that grows with the text;
// one this large takes longer than a read may.
TEST_F(X11ClipLayer, OwnTextFarLongerThanOneReadCouldFetchReadsBackWhole) {
    auto clipboard = open();
    const std::string text = patterned_text(160 * 1024 * 1024);
    ASSERT_TRUE(clipboard.set_string(text));
    auto read = clipboard.get_string();
    ASSERT_TRUE(read.has_value()) << read.error().message();
    EXPECT_EQ(read->size(), text.size());
    EXPECT_TRUE(*read == text);
}

// Whatever another client answers once it has taken CLIPBOARD from us is what a read gives;
// never our own text.
TEST_F(X11ClipLayer, AfterOurOwnTextAnotherOwnersAnswerIsRead) {
    struct Case {
        const char* name;
        ScriptedOwner::Script script;
        std::optional<std::string> text; // none: the read fails
    };
    const Case cases[] = {
        {"a text", {ScriptedOwner::Script::Reply::value, "UTF8_STRING", "theirs"}, "theirs"},
        {"the empty text", {ScriptedOwner::Script::Reply::value, "UTF8_STRING", ""}, ""},
        {"a refusal", {ScriptedOwner::Script::Reply::refusal, "UTF8_STRING", ""}, std::nullopt},
        {"bytes that are not UTF-8",
         {ScriptedOwner::Script::Reply::value, "UTF8_STRING", "\xff"},
         std::nullopt},
    };
    auto clipboard = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(clipboard.set_string("ours"));
        ASSERT_EQ(clipboard.get_string().value_or("?"), "ours");
        ASSERT_TRUE(clipboard.holds_own_text());
        ScriptedOwner theirs(server.display(), c.script);
        EXPECT_FALSE(clipboard.holds_own_text());
        auto read = clipboard.get_string();
        ASSERT_EQ(read.has_value(), c.text.has_value());
        EXPECT_EQ(read ? std::optional(*read) : std::nullopt, c.text);
    }
    // And once more with xclip, several times in a row.
    for (int round = 0; round < 5; ++round) {
        const std::string ours = "ours " + std::to_string(round);
        const std::string theirs = "theirs " + std::to_string(round);
        ASSERT_TRUE(clipboard.set_string(ours));
        ASSERT_EQ(clipboard.get_string().value_or("?"), ours);
        ASSERT_TRUE(clipboard.holds_own_text());
        XclipOwner owner(server.display(), theirs);
        EXPECT_FALSE(clipboard.holds_own_text());
        EXPECT_EQ(clipboard.get_string().value_or("?"), theirs);
    }
}

// PRIMARY (a middle click's paste) is the user's own: writes and reads of CLIPBOARD leave it as
// it was, and our text is never offered there.
TEST_F(X11ClipLayer, PrimaryIsLeftAsItWas) {
    auto clipboard = open();
    RawClient peer(server.display());
    ASSERT_TRUE(clipboard.set_string("ours, on no primary"));
    EXPECT_EQ(peer.selection_owner("PRIMARY"), XCB_NONE);

    xclip_copy_primary(server.display(), "the user's primary");
    const xcb_window_t users = peer.selection_owner("PRIMARY");
    ASSERT_NE(users, XCB_NONE);
    ASSERT_TRUE(clipboard.set_string("ours, beside the user's primary"));
    EXPECT_EQ(clipboard.get_string().value_or("?"), "ours, beside the user's primary");
    {
        XclipOwner theirs(server.display(), "another client's copy");
        EXPECT_EQ(clipboard.get_string().value_or("?"), "another client's copy");
    }
    // With nobody owning CLIPBOARD, only PRIMARY holds a text: not ours to read.
    ASSERT_TRUE(eventually([&] { return peer.clipboard_owner() == XCB_NONE; }));
    EXPECT_EQ(clipboard.get_string().value_or("?"), "");
    EXPECT_EQ(peer.selection_owner("PRIMARY"), users);
    EXPECT_EQ(xclip_paste_primary(server.display()), "the user's primary");
}

TEST_F(X11ClipLayer, TwoObjectsOnOneDisplayHandOver) {
    auto first = open();
    auto second = open();
    ASSERT_TRUE(first.set_string("from first"));
    EXPECT_EQ(second.get_string().value_or("?"), "from first");
    ASSERT_TRUE(second.set_string("from second"));
    EXPECT_FALSE(first.holds_own_text());
    EXPECT_TRUE(second.holds_own_text());
    EXPECT_EQ(first.get_string().value_or("?"), "from second");
    // The first object no longer answers for CLIPBOARD once the second took it.
    second = open();
    EXPECT_EQ(first.get_string().value_or("?"), "");
}

TEST_F(X11ClipLayer, DestroyingEndsTheOwnerThreadAndClosesBothConnections) {
    const auto threads = thread_count();
    const auto fds = open_fds();
    {
        auto clipboard = open();
        ASSERT_TRUE(clipboard.set_string("served"));
        EXPECT_EQ(thread_count(), threads + 1);
        EXPECT_EQ(xclip_read(server.display()).out, "served");
    }
    EXPECT_EQ(thread_count(), threads);
    EXPECT_EQ(open_fds(), fds);
    EXPECT_EQ(RawClient(server.display()).clipboard_owner(), XCB_NONE);
}

TEST_F(X11ClipLayer, DestroyingDuringAnIncrementalTransferEndsPromptly) {
    RawClient slow_reader(server.display());
    const std::string text = patterned_text(slow_reader.max_request_bytes());
    const auto threads = thread_count();
    const auto fds = open_fds();
    auto clipboard = std::make_optional(open());
    ASSERT_TRUE(clipboard->set_string(text));
    slow_reader.stall_incremental("UTF8_STRING", 3);

    const auto start = Clock::now();
    clipboard.reset();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(thread_count(), threads);
    EXPECT_EQ(open_fds(), fds);
    EXPECT_EQ(slow_reader.clipboard_owner(), XCB_NONE);
}

TEST_F(X11ClipLayer, LostServerEndsTheOwnerThread) {
    const auto threads = thread_count();
    auto clipboard = open();
    ASSERT_TRUE(clipboard.set_string("served"));
    server.kill();

    auto read = clipboard.get_string();
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().message(), "X11 clipboard error : XCB connection error: Connection");

    eventually([&] { return thread_count() == threads; }, 5s);
    EXPECT_EQ(thread_count(), threads);
    auto written = clipboard.set_string("nobody hears");
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().message(),
              "X11 clipboard error : XCB - couldn't set atom: the owner thread has ended");
}

} // namespace
} // namespace quillfen::test
