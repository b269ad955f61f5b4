// The host's XMODEM-1K sender without a line: the check value, how a file is cut into blocks, and the
// bytes of a block on the wire.
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "imgtool/send/xmodem_send.h"
#include "tests/support/bytes.h"

namespace {

std::vector<uint8_t> counting(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

struct CrcCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint16_t crc;
};

void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }

const CrcCase kCrcCases[] = {
    {"NoBytes", {}, 0x0000},
    {"CheckString", bytes_of("123456789"), 0x31C3},
    {"OneLetter", bytes_of("A"), 0x58E5},
    {"CountingBlockOf128", counting(128), 0xE80A},
    {"PaddingBlockOf128", std::vector<uint8_t>(128, 0x1A), 0xF8B0},
    {"OnesBlockOf1024", std::vector<uint8_t>(1024, 0xFF), 0xC084},
};

class Crc16 : public testing::TestWithParam<CrcCase> {};

TEST_P(Crc16, MatchesTheKnownValue) { EXPECT_EQ(xmodem::crc16(GetParam().bytes), GetParam().crc); }

INSTANTIATE_TEST_SUITE_P(Values, Crc16, testing::ValuesIn(kCrcCases),
                         [](const auto& info) { return info.param.name; });

struct PlanCase {
    uint64_t file_size;
    std::vector<std::pair<uint64_t, size_t>> blocks;  // offset, size
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.file_size << " bytes"; }

const PlanCase kPlans[] = {
    {0, {}},
    {1, {{0, 128}}},
    {128, {{0, 128}}},
    {896, {{0, 128}, {128, 128}, {256, 128}, {384, 128}, {512, 128}, {640, 128}, {768, 128}}},
    {897, {{0, 1024}}},
    {1023, {{0, 1024}}},
    {1024, {{0, 1024}}},
    {1025, {{0, 1024}, {1024, 128}}},
    {1920,
     {{0, 1024}, {1024, 128}, {1152, 128}, {1280, 128}, {1408, 128}, {1536, 128}, {1664, 128}, {1792, 128}}},
    {1921, {{0, 1024}, {1024, 1024}}},
    {2048, {{0, 1024}, {1024, 1024}}},
    {2049, {{0, 1024}, {1024, 1024}, {2048, 128}}},
};

class PlanBlocks : public testing::TestWithParam<PlanCase> {};

TEST_P(PlanBlocks, LargeBlocksWhileMoreThan896BytesAreLeftThenSmallOnes)
{
    std::vector<std::pair<uint64_t, size_t>> planned;
    for (const xmodem::BlockPlan& block : xmodem::plan_blocks(GetParam().file_size))
        planned.emplace_back(block.offset, block.size);
    EXPECT_EQ(planned, GetParam().blocks);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlanBlocks, testing::ValuesIn(kPlans),
                         [](const auto& info) { return std::to_string(info.param.file_size) + "Bytes"; });

struct FrameCase {
    const char* name;
    uint8_t number;
    std::vector<uint8_t> data;
    size_t size;
    std::vector<uint8_t> head;   // header, number, complement
    std::vector<uint8_t> body;   // data as sent, padding included
    std::vector<uint8_t> check;  // CRC, high byte first
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> join(std::vector<uint8_t> front, const std::vector<uint8_t>& back)
{
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

const FrameCase kFrames[] = {
    {"ShortTailOf128",
     1,
     bytes_of("AB"),
     128,
     {0x01, 0x01, 0xFE},
     join(bytes_of("AB"), std::vector<uint8_t>(126, 0x1A)),
     {0x68, 0x52}},
    {"Full128", 0x80, counting(128), 128, {0x01, 0x80, 0x7F}, counting(128), {0xE8, 0x0A}},
    {"ShortLast1024",
     0xFF,
     {0x00, 0x01, 0x02},
     1024,
     {0x02, 0xFF, 0x00},
     join({0x00, 0x01, 0x02}, std::vector<uint8_t>(1021, 0x1A)),
     {0xEF, 0xFA}},
    {"Full1024AfterTheNumberWraps",
     0x00,
     std::vector<uint8_t>(1024, 0xFF),
     1024,
     {0x02, 0x00, 0xFF},
     std::vector<uint8_t>(1024, 0xFF),
     {0xC0, 0x84}},
};

class FrameBlock : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameBlock, IsHeaderNumberComplementPaddedDataAndCrcHighByteFirst)
{
    const FrameCase& c = GetParam();
    EXPECT_EQ(xmodem::frame_block(c.number, c.data, c.size), join(join(c.head, c.body), c.check));
}

INSTANTIATE_TEST_SUITE_P(Blocks, FrameBlock, testing::ValuesIn(kFrames),
                         [](const auto& info) { return info.param.name; });

}  // namespace
