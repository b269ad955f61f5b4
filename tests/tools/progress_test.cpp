// The transfer's progress line: what it says, and a time left that holds on a steady line.
#include <gtest/gtest.h>

#include "imgtool/send/progress.h"

namespace {

struct TextCase {
    const char* name;
    uint64_t total;
    std::vector<std::pair<double, uint64_t>> updates;  // seconds, bytes acknowledged
    std::string text;
};

const TextCase kTexts[] = {
    {"BeforeTheFirstBlock", 1049600, {{0.0, 0}}, "0 % 0/1049600 bytes"},
    // One acknowledgement gives no rate yet: the wait for the board does not count as a slow line
    {"FirstBlock", 1049600, {{5.0, 1024}}, "0 % 1024/1049600 bytes"},
    {"AtFortyPerCent",
     1049600,
     {{1.0, 1024}, {37.5, 419840}},
     "40 % 419840/1049600 bytes 11.2 KiB/s 0:55 left"},
    {"Done", 2048, {{0.0, 1024}, {0.5, 2048}}, "100 % 2048/2048 bytes 2.0 KiB/s 0:00 left"},
    {"EmptyFile", 0, {{0.0, 0}}, "100 % 0/0 bytes"},
    {"PastTheHour",
     100 * 1024 * 1024,
     {{0.0, 1024}, {10.0, 11264}},
     "0 % 11264/104857600 bytes 1.0 KiB/s 28:26:29 left"},
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class ProgressText : public testing::TestWithParam<TextCase> {};

TEST_P(ProgressText, SaysBytesPerCentRateAndTimeLeft)
{
    const TextCase& c = GetParam();
    TransferProgress progress(c.total);
    for (const auto& [seconds, bytes] : c.updates)
        progress.update(seconds, bytes);
    EXPECT_EQ(progress_text(progress), c.text);
}

INSTANTIATE_TEST_SUITE_P(Transfers, ProgressText, testing::ValuesIn(kTexts),
                         [](const auto& info) { return info.param.name; });

// The paced line at 115200 bit/s carries a 1029-byte block in 1029 * 10 / 115200 s; the estimate
// after the first tenth must be within 5 % of the time the rest really takes, however long the
// board took to ask for the file.
TEST(ProgressEstimate, HoldsWithinFivePerCentAfterTheFirstTenthOnAPacedLine)
{
    const uint64_t blocks = 1024;
    const double block_seconds = 1029.0 * 10 / 115200;
    const double start = 7.0;
    TransferProgress progress(blocks * 1024);
    for (uint64_t block = 1; block <= blocks; ++block) {
        const double now = start + static_cast<double>(block) * block_seconds;
        progress.update(now, block * 1024);
        if (block < blocks / 10 || block == blocks)
            continue;
        const double really_left = static_cast<double>(blocks - block) * block_seconds;
        ASSERT_NEAR(*progress.seconds_left(), really_left, 0.05 * really_left + 0.01)
            << "after block " << block;
    }
}

}  // namespace
