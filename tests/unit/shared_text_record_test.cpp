// The record that carries the shared text from one worker to the next: what a later process
// loads, and what is left when the storing process is killed at any moment.
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "shared_text_record.hpp"

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

TEST(SharedTextRecord, StoreKilledAtAnyMomentLeavesAWholeText) {
    SharedTextRecord record = make_record();
    const std::string texts[] = {std::string(6 << 20, 'a'), std::string(2 << 20, 'b'),
                                 std::string(9 << 20, 'c'), std::string(1 << 20, 'd')};
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
                record.store(texts[i % 4]);
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
