#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "worker.hpp"

namespace {

using namespace std::chrono_literals;
using quillfen::error_score;
using quillfen::WallTime;

// A wall-clock time with a fraction of a second, as real readings have.
const WallTime base = WallTime{} + 1'765'000'000s + 123'456'789ns;

// Scores after each of `count` errors spaced `spacing` apart, each computed when it is recorded.
std::vector<double> scores_with_spacing(std::chrono::nanoseconds spacing, int count) {
    std::vector<WallTime> times;
    std::vector<double> scores;
    for (int i = 0; i < count; ++i) {
        const WallTime now = base + i * spacing;
        times.push_back(now);
        scores.push_back(error_score(times, now));
    }
    return scores;
}

TEST(ErrorScore, ErrorsOneSecondApartMatchTheTableToTheLastDigit) {
    const std::vector<double> expected{1.0,
                                       1.9885140203528962,
                                       2.965673988787142,
                                       3.9316103177119874,
                                       4.886451921622404,
                                       5.830326234304097};
    const auto scores = scores_with_spacing(1s, 6);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(scores[i], expected[i]) << "error " << i + 1;
}

TEST(ErrorScore, NineteenSecondsApartGivesUpAtTheTwentiethError) {
    const auto scores = scores_with_spacing(19s, 20);
    for (std::size_t i = 0; i < 19; ++i)
        EXPECT_LE(scores[i], 5.0) << "error " << i + 1;
    EXPECT_EQ(scores[19], 5.011228287785529);
}

TEST(ErrorScore, TwentySecondsApartNeverGivesUp) {
    const auto scores = scores_with_spacing(20s, 3000);
    for (std::size_t i = 0; i < scores.size(); ++i)
        ASSERT_LE(scores[i], 5.0) << "error " << i + 1;
    EXPECT_DOUBLE_EQ(scores.back(), 4.847322101863073);
}

TEST(ErrorScore, AnySpacingUpToSixSecondsGivesUpAtTheSixthError) {
    for (const std::chrono::milliseconds spacing :
         {0ms, 400ms, 1000ms, 2000ms, 3500ms, 5999ms, 6000ms}) {
        const auto scores = scores_with_spacing(spacing, 6);
        for (std::size_t i = 0; i < 5; ++i)
            EXPECT_LE(scores[i], 5.0) << spacing.count() << " ms, error " << i + 1;
        EXPECT_GT(scores[5], 5.0) << spacing.count() << " ms";
    }
}

TEST(ErrorScore, OnlyWholeSecondsOfAnAgeCount) {
    const std::vector<WallTime> just_now{base};
    EXPECT_EQ(error_score(just_now, base + 999'999'999ns), 1.0);
    EXPECT_EQ(error_score(just_now, base + 59'900ms),
              std::pow(2.718281828459045, 59.0 / -86.5617024533378));
    EXPECT_EQ(error_score(just_now, base + 60s), 0.5);
    EXPECT_EQ(error_score({}, base), 0.0);
}

TEST(ErrorScore, ErrorsRecordedAfterNowCountAsJustRecorded) {
    // The wall clock was set back an hour after these two errors.
    const std::vector<WallTime> times{base, base + 1s};
    EXPECT_EQ(error_score(times, base - 1h), 2.0);
}

} // namespace
