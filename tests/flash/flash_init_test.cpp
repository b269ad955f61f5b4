#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

#include "flash/mtd.h"
#include "tests/support/flash_board.h"

namespace {

TEST(FlashInit, ReadsTheGeometryOfThe64MiBDevice)
{
    sim::Board board;
    const sim::Run r = run_with_flash(board, [] {
        uint32_t size = 0;
        const int got_size = mtd_get_size(flash_fd, &size);
        char text[80];
        std::snprintf(text, sizeof text, "%u %u %u %d %u", theFlash.sector_size, theFlash.sector_shift,
                      theFlash.total_size, got_size, size);
        sim::Board::note(text);
        return 0;
    });
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.steps({sim::Event::Kind::Note}),
              std::vector<std::string>{"note:131072 17 67108864 1 67108864"});
}

// Twice the board's erase block, and the smallest erase size the module accepts: one write piece.
TEST(FlashInit, SectorsFollowTheReportedEraseSize)
{
    for (const uint32_t erase_size : {2 * kSector, 1024u}) {
        sim::Board board;
        board.flash.reported_erase_size = erase_size;
        preload(board, 0x800000, 0x800000 + 4 * kSector);
        const std::vector<uint8_t> data(16, 0x5A);
        const sim::Run r =
            run_with_flash(board, [&] { return api_flash_write(data.data(), flash_fd, 0x800020, 16); });
        EXPECT_EQ(r.value, 0) << erase_size;
        EXPECT_EQ(r.out, ".\n") << erase_size;
        EXPECT_EQ(board.flash.counters().writes, erase_size / 1024);
        EXPECT_EQ(board.flash.counters().bytes_erased, erase_size);
        EXPECT_EQ(
            flash_mismatch(board, 0x800000, 0x800000 + 4 * kSector,
                           [](uint32_t a) { return a >= 0x800020 && a < 0x800030 ? 0x5A : pattern_at(a); }),
            "")
            << erase_size;
    }
}

// A flash that the kernel offers only for reading (a read-only partition) is still read, so that
// the board boots; a write or an erase is refused by the device and changes no byte.
TEST(FlashInit, AReadOnlyFlashIsReadAndRefusesChanges)
{
    sim::Board board;
    preload(board, 0, 2 * kSector);
    board.flash.read_only = true;
    const sim::Run r = board.run([] {
        uint8_t buffer[16] = {};
        const int init = api_flash_init();
        const int read = api_flash_read(buffer, flash_fd, 0, 16);
        const int write = api_flash_write(buffer, flash_fd, 0, 16);
        const int erase = api_flash_erase(flash_fd, 0, kSector);
        char text[80];
        std::snprintf(text, sizeof text, "%d %d %d %d %02x%02x", init, read, write, erase, buffer[0],
                      buffer[1]);
        sim::Board::note(text);
        return 0;
    });
    EXPECT_EQ(r.open_flags("/dev/mtd0"), std::vector<int>{0});
    EXPECT_EQ(r.steps({sim::Event::Kind::Note}), std::vector<std::string>{"note:0 0 -1 -1 4047"});
    EXPECT_EQ(r.out, "Flash Write mtd erase failed.\n\nFlash Erase mtd erase failed.\n");
    EXPECT_EQ(flash_mismatch(board, 0, 2 * kSector, pattern_at), "");
}

struct InitFailure {
    const char* name;
    std::function<void(sim::Flash&)> setup;
    const char* out;
};

class FlashInitFailure : public testing::TestWithParam<InitFailure> {};
void PrintTo(const InitFailure& c, std::ostream* os) { *os << c.name; }

// After a failed start-up no public operation may reach the device, not even an empty write.
TEST_P(FlashInitFailure, SaysWhyAndLeavesEveryOperationRefused)
{
    sim::Board board;
    preload(board, 0, 2 * kSector);
    GetParam().setup(board.flash);
    const sim::Run r = board.run([] {
        uint8_t buffer[16] = {};
        const int results[] = {api_flash_init(), api_flash_read(buffer, flash_fd, 0, 16),
                               api_flash_write(buffer, flash_fd, 0, 16),
                               api_flash_write(buffer, flash_fd, 0, 0),
                               api_flash_erase(flash_fd, 0, kSector)};
        int not_refused = 0;
        for (int result : results)
            not_refused += result != -1;
        return not_refused;
    });
    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, GetParam().out);
    const sim::FlashCounters counters = board.flash.counters();
    EXPECT_EQ(counters.reads + counters.erases + counters.writes, 0u);
    EXPECT_EQ(flash_mismatch(board, 0, 2 * kSector, pattern_at), "");
}

INSTANTIATE_TEST_SUITE_P(
    Devices, FlashInitFailure,
    testing::Values(InitFailure{"Missing", [](sim::Flash& f) { f.missing = true; },
                                "Could not get MTD device info \n"},
                    InitFailure{"InfoQueryFails", [](sim::Flash& f) { f.info_fails = true; },
                                "Could not get MTD device info \n"},
                    InitFailure{"SizeZero", [](sim::Flash& f) { f.reported_size = 0; }, "NO FLASH !\n"},
                    InitFailure{"EraseSizeZero", [](sim::Flash& f) { f.reported_erase_size = 0; },
                                "Unsupported MTD erase size 0\n"},
                    InitFailure{"EraseSizeNotPowerOfTwo", [](sim::Flash& f) { f.reported_erase_size = 3000; },
                                "Unsupported MTD erase size 3000\n"},
                    InitFailure{"EraseSizeBelowOnePiece", [](sim::Flash& f) { f.reported_erase_size = 512; },
                                "Unsupported MTD erase size 512\n"}),
    [](const testing::TestParamInfo<InitFailure>& info) { return std::string(info.param.name); });

enum class Op { Read, Write, Erase };

struct RangeCase {
    const char* name;
    Op op;
    uint32_t offset;
    uint32_t length;
    int result;
    const char* out;
};

class FlashRange : public testing::TestWithParam<RangeCase> {};
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

// Ranges are taken up to the last byte of the device; anything beyond, or wrapping past 4 GiB onto
// its start, is refused before the device is touched.
TEST_P(FlashRange, IsServedOnlyWithinTheDevice)
{
    const RangeCase& c = GetParam();
    sim::Board board;
    preload(board, 0, 2 * kSector);
    preload(board, kDeviceSize - 2 * kSector, kDeviceSize);
    const sim::Run r = run_with_flash(board, [&] {
        Bytes buffer = pattern(std::min<uint32_t>(c.length, 4096), kWrittenSeed);
        if (c.op == Op::Write)
            return api_flash_write(buffer.data(), flash_fd, c.offset, c.length);
        if (c.op == Op::Erase)
            return api_flash_erase(flash_fd, c.offset, c.length);
        const int result = api_flash_read(buffer.data(), flash_fd, c.offset, c.length);
        for (uint32_t i = 0; result == 0 && i < c.length; ++i)
            if (buffer[i] != pattern_at(c.offset + i))
                return 77;
        return result;
    });
    EXPECT_EQ(r.value, c.result);
    EXPECT_EQ(r.out, c.out);
    if (c.result != 0) {
        const sim::FlashCounters counters = board.flash.counters();
        EXPECT_EQ(counters.reads + counters.erases + counters.writes, 0u);
    }
    const auto expected = [&](uint32_t a) {
        const bool written = c.op == Op::Write && c.result == 0 && a >= c.offset && a - c.offset < c.length;
        return written ? data_at(a - c.offset) : pattern_at(a);
    };
    EXPECT_EQ(flash_mismatch(board, 0, 2 * kSector, expected), "");
    EXPECT_EQ(flash_mismatch(board, kDeviceSize - 2 * kSector, kDeviceSize, expected), "");
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, FlashRange,
    testing::Values(RangeCase{"ReadLastBytes", Op::Read, kDeviceSize - 16, 16, 0, ""},
                    RangeCase{"ReadPastTheEnd", Op::Read, kDeviceSize - 8, 16, -1, ""},
                    RangeCase{"ReadWrappingPast4GiB", Op::Read, 0x10, 0xFFFFFFF8, -1, ""},
                    RangeCase{"WriteLastBytes", Op::Write, kDeviceSize - 16, 16, 0, ".\n"},
                    RangeCase{"WritePastTheEnd", Op::Write, kDeviceSize - 8, 16, -1, ""},
                    RangeCase{"WriteWrappingOntoTheStart", Op::Write, 0xFFFFFFF0, 0x20, -1, ""},
                    RangeCase{"EraseBeyondTheEnd", Op::Erase, kDeviceSize, kSector, -1, ""},
                    RangeCase{"EraseWrappingOntoTheStart", Op::Erase, 0xFFFE0000, 2 * kSector, -1, ""}),
    [](const testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

TEST(FlashRead, ShortTransferIsAFailure)
{
    sim::Board board;
    board.flash.faults.push_back(sim::FlashFault(sim::FlashOp::Read, 1, std::nullopt, true));
    const sim::Run r = run_with_flash(board, [] {
        uint8_t buffer[512];
        return api_flash_read(buffer, flash_fd, 0x03FE0004, sizeof buffer);
    });
    EXPECT_EQ(r.value, -1);
}

}  // namespace
