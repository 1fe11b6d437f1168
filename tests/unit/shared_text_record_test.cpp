// The record that carries the shared text from one worker to the next: what a later process
// loads, and what is left when the storing process is killed at any moment.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "log.hpp"
#include "shared_text_record.hpp"
#include "tests/servers/captured_output.hpp"
#include "tests/servers/memory_file.hpp"

namespace quillfen {
namespace {

SharedTextRecord make_record() {
    auto record = SharedTextRecord::create();
    EXPECT_TRUE(record) << record.error();
    return std::move(*record);
}

TEST(SharedTextRecord, ForkedProcessesSeeTheLastStoredText) {
    SharedTextRecord record = make_record();
    EXPECT_EQ(record.load(), "");

    // Growing, shrinking and growing again, as texts come.
    const std::string texts[] = {"first", std::string(3 << 20, 'b'),         "short",
                                 "",      std::string(5 << 20, 'c') + "end", "ünïcödé\n\0x"};
    for (const std::string& text : texts) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            record.store(text);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(record.load(), text);
    }
}

// The record's memory file, reached as the test of a running service reaches it.
util::UniqueFd record_file() {
    util::UniqueFd file = test::open_memory_file(getpid(), "quillfen-shared-text");
    EXPECT_TRUE(file) << "no memory file of the record among this process's descriptors";
    return file;
}

TEST(SharedTextRecord, MemoryHoldsTheCurrentTextAndNoSupersededByte) {
    SharedTextRecord record = make_record();
    const util::UniqueFd file = record_file();
    ASSERT_TRUE(file);
    const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    // Each large text is made of one byte that neither the small text nor the header has.
    const std::string texts[] = {std::string((64 << 20) - 1, '~'), std::string(64 << 20, '^'),
                                 "small text"};
    std::string superseded;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        record.store(text);
        EXPECT_TRUE(record.load() == text);
        // The header's page and the text's pages, one more where the text starts mid-page.
        EXPECT_LE(test::allocated_bytes(file.get()), text.size() + 2 * page);
        EXPECT_EQ(test::first_of(file.get(), superseded), std::nullopt);
        superseded += text.front();
    }
}

TEST(SharedTextRecord, StoreThatCannotCompleteLeavesNoText) {
    log::level::set(Level::info);
    log::timestamp::set(false);
    SharedTextRecord record = make_record();
    record.store(std::string(3 << 12, '~'));
    {
        test::CapturedOutput output;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The file may not grow past 1 MiB in this process, so no room for the text can
            // be made.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1 << 20, 1 << 20};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(2);
            record.store(std::string(2 << 20, 'x'));
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(output.lines(), std::vector<std::string>{"ERROR - error storing the shared "
                                                           "text, keeping none: EFBIG: File too "
                                                           "large"});
    }
    const std::string loaded = record.load();
    EXPECT_TRUE(loaded.empty()) << loaded.size() << " bytes starting with '" << loaded.substr(0, 1)
                                << "'";
    const util::UniqueFd file = record_file();
    ASSERT_TRUE(file);
    EXPECT_EQ(test::first_of(file.get(), "~x"), std::nullopt);

    // Stores work again afterwards.
    record.store("later");
    EXPECT_EQ(record.load(), "later");
}

TEST(SharedTextRecord, StoreKilledAtAnyMomentLeavesAWholeText) {
    SharedTextRecord record = make_record();
    // Large texts placed before and after the held one, and a short one in the header's page,
    // so that kills land in copies, switches and releases of every kind.
    const std::string texts[] = {std::string(6 << 20, 'a'), std::string(2 << 20, 'b'),
                                 std::string(9 << 20, 'c'), std::string(1 << 20, 'd'),
                                 std::string(100, 'e')};
    record.store(texts[0]);
    for (int round = 0; round < 40; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            (void)!write(ready[1], "x", 1);
            for (unsigned i = 0;; ++i)
                record.store(texts[i % std::size(texts)]);
        }
        close(ready[1]);
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        usleep(static_cast<useconds_t>(1000 + round * 997 % 20000));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        const std::string loaded = record.load();
        bool whole = false;
        for (const std::string& text : texts)
            whole = whole || loaded == text;
        ASSERT_TRUE(whole) << "round " << round << ": " << loaded.size() << " bytes starting with '"
                           << loaded.substr(0, 1) << "'";
    }
}

} // namespace
} // namespace quillfen
