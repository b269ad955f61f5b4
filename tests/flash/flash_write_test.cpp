#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

#include "tests/support/flash_board.h"

namespace {

constexpr uint32_t kPiecesPerSector = kSector / 1024;

struct WriteCase {
    const char* name;
    uint32_t offset;
    uint32_t length;
    const char* out;
    uint32_t sectors;
};

class FlashWrite : public testing::TestWithParam<WriteCase> {};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

// Every touched sector is read, erased and written back whole: the new bytes land in place and the
// rest of those sectors, and the sectors around them, keep what they held.
TEST_P(FlashWrite, ReplacesTheRangeAndKeepsTheRestOfItsSectors)
{
    const WriteCase& c = GetParam();
    const uint32_t first = c.offset & ~(kSector - 1);
    const uint32_t from = first >= kSector ? first - kSector : 0;
    const uint32_t to = first + (std::max<uint32_t>(c.sectors, 1) + 1) * kSector;
    sim::Board board;
    preload(board, from, to);
    const std::vector<uint8_t> data = pattern(c.length, kWrittenSeed);
    const sim::Run r =
        run_with_flash(board, [&] { return api_flash_write(data.data(), flash_fd, c.offset, c.length); });
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, c.out);
    const sim::FlashCounters counters = board.flash.counters();
    EXPECT_EQ(counters.reads, c.sectors);
    EXPECT_EQ(counters.erases, c.sectors);
    EXPECT_EQ(counters.writes, c.sectors * kPiecesPerSector);
    EXPECT_EQ(counters.bytes_written, uint64_t{c.sectors} * kSector);
    EXPECT_EQ(flash_mismatch(board, from, to,
                             [&](uint32_t a) {
                                 return a >= c.offset && a - c.offset < c.length ? data_at(a - c.offset)
                                                                                 : pattern_at(a);
                             }),
              "");
}

INSTANTIATE_TEST_SUITE_P(Ranges, FlashWrite,
                         testing::Values(WriteCase{"OneSector", 0x800000, 16, ".\n", 1},
                                         WriteCase{"TwoSectorsAcrossABoundary", 0x1FFF0, 0x20, "..\n", 2},
                                         WriteCase{"ThreeWholeSectors", 0x40000, 3 * kSector, "...\n", 3},
                                         WriteCase{"EmptyAtABoundary", 0x40000, 0, "\n", 0},
                                         WriteCase{"EmptyInsideASector", 0x40010, 0, ".\n", 1}),
                         [](const testing::TestParamInfo<WriteCase>& info) {
                             return std::string(info.param.name);
                         });

struct WriteFailure {
    const char* name;
    sim::FlashFault injected;
    const char* out;
    uint32_t sectors_written;  // sectors at the start of the range that hold the new data
    uint32_t untouched_from;   // first sector of the range that keeps its old contents
};

class FlashWriteFailure : public testing::TestWithParam<WriteFailure> {};
void PrintTo(const WriteFailure& c, std::ostream* os) { *os << c.name; }

// A three-sector write that fails part-way: the finished sectors hold the new data, the ones not
// reached keep the old, and the operator sees which step failed after the dots.
TEST_P(FlashWriteFailure, StopsAtTheFailedStepAndSaysWhich)
{
    const WriteFailure& c = GetParam();
    constexpr uint32_t offset = 2 * kSector;
    sim::Board board;
    preload(board, offset - kSector, offset + 4 * kSector);
    board.flash.faults.push_back(c.injected);
    const std::vector<uint8_t> data = pattern(3 * kSector, kWrittenSeed);
    const sim::Run r =
        run_with_flash(board, [&] { return api_flash_write(data.data(), flash_fd, offset, 3 * kSector); });
    EXPECT_EQ(r.value, -1);
    EXPECT_EQ(r.out, c.out);
    const uint32_t new_end = offset + c.sectors_written * kSector;
    const uint32_t old_from = offset + c.untouched_from * kSector;
    EXPECT_EQ(flash_mismatch(board, offset - kSector, offset, pattern_at), "");
    EXPECT_EQ(flash_mismatch(board, offset, new_end, [](uint32_t a) { return data_at(a - offset); }), "");
    EXPECT_EQ(flash_mismatch(board, old_from, offset + 4 * kSector, pattern_at), "");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashWriteFailure,
    testing::Values(
        WriteFailure{"ReadOfTheSecondSector", sim::FlashFault(sim::FlashOp::Read, 2),
                     ".Flash Write mtd read failed.\n\n", 1, 1},
        WriteFailure{"EraseOfTheSecondSector", sim::FlashFault(sim::FlashOp::Erase, 2),
                     ".Flash Write mtd erase failed.\n\n", 1, 2},
        WriteFailure{"PieceOfTheSecondSector", sim::FlashFault(sim::FlashOp::Write, kPiecesPerSector + 5),
                     ".Flash Write mtd write failed.\n\n", 1, 2},
        WriteFailure{"EraseAtTheThirdSector", sim::FlashFault(sim::FlashOp::Erase, 0, 4 * kSector + 0x100),
                     "..Flash Write mtd erase failed.\n\n", 2, 3},
        // Half a sector read back would be written back with the rest lost: nothing may be erased.
        WriteFailure{"ShortReadOfTheFirstSector", sim::FlashFault(sim::FlashOp::Read, 1, std::nullopt, true),
                     "Flash Write mtd read failed.\n\n", 0, 0},
        WriteFailure{"ShortFirstPiece", sim::FlashFault(sim::FlashOp::Write, 1, std::nullopt, true),
                     "Flash Write mtd write failed.\n\n", 0, 1}),
    [](const testing::TestParamInfo<WriteFailure>& info) { return std::string(info.param.name); });

// The operator watches the dots to see that the board still works: at a power cut during the third
// sector the console shows the dots of the two finished ones.
TEST(FlashWriteProgress, EachDotShowsAsItsSectorIsDone)
{
    sim::Board board;
    board.flash.power_cut_after_erase = 3;
    const std::vector<uint8_t> data = pattern(3 * kSector, kWrittenSeed);
    const sim::Run r =
        run_with_flash(board, [&] { return api_flash_write(data.data(), flash_fd, 0, 3 * kSector); });
    EXPECT_EQ(r.end, sim::End::PowerCut);
    EXPECT_EQ(r.out, "..");
}

struct EraseCase {
    const char* name;
    uint32_t offset;
    uint32_t length;
    uint32_t erased_from;
    uint32_t erased_to;
};

class FlashErase : public testing::TestWithParam<EraseCase> {};
void PrintTo(const EraseCase& c, std::ostream* os) { *os << c.name; }

TEST_P(FlashErase, ErasesEveryTouchedSectorOneRequestEach)
{
    const EraseCase& c = GetParam();
    sim::Board board;
    preload(board, c.erased_from - kSector, c.erased_to + kSector);
    const sim::Run r = run_with_flash(board, [&] { return api_flash_erase(flash_fd, c.offset, c.length); });
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(board.flash.counters().erases, (c.erased_to - c.erased_from) / kSector);
    EXPECT_EQ(board.flash.counters().bytes_erased, c.erased_to - c.erased_from);
    EXPECT_EQ(flash_mismatch(board, c.erased_from - kSector, c.erased_to + kSector,
                             [&](uint32_t a) {
                                 return a >= c.erased_from && a < c.erased_to ? uint8_t{0xFF} : pattern_at(a);
                             }),
              "");
}

INSTANTIATE_TEST_SUITE_P(Ranges, FlashErase,
                         testing::Values(EraseCase{"Slot2", 0x800000, 0x800000, 0x800000, 0x1000000},
                                         EraseCase{"UnalignedRange", 0x40010, kSector, 0x40000, 0x80000},
                                         EraseCase{"EmptyAtABoundary", 0x40000, 0, 0x40000, 0x40000}),
                         [](const testing::TestParamInfo<EraseCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(FlashErase, StopsAtTheFirstFailedSector)
{
    sim::Board board;
    preload(board, kSector, 5 * kSector);
    board.flash.faults.push_back(sim::FlashFault(sim::FlashOp::Erase, 2));
    const sim::Run r =
        run_with_flash(board, [] { return api_flash_erase(flash_fd, 2 * kSector, 3 * kSector); });
    EXPECT_EQ(r.value, -1);
    EXPECT_EQ(r.out, "Flash Erase mtd erase failed.\n");
    EXPECT_EQ(board.flash.counters().erases, 2u);
    EXPECT_EQ(flash_mismatch(board, 2 * kSector, 3 * kSector, [](uint32_t) { return uint8_t{0xFF}; }), "");
    EXPECT_EQ(flash_mismatch(board, 4 * kSector, 5 * kSector, pattern_at), "");
}

}  // namespace
