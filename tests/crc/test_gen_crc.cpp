#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crc/crc.h"
#include "crc_bitwise.h"

namespace {

const uint8_t* bytes_of(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

uint32_t crc_of(const std::string& text, uint32_t start) {
    return gen_crc(bytes_of(text), static_cast<uint32_t>(text.size()), start);
}

struct CheckValue {
    std::string text;
    uint32_t start;
    uint32_t crc;
};

class GenCrcCheckValues : public testing::TestWithParam<CheckValue> {};
void PrintTo(const CheckValue& c, std::ostream* os) { *os << '"' << c.text << "\" from " << std::hex << c.start; }

TEST_P(GenCrcCheckValues, GivesTheKnownRegister) {
    EXPECT_EQ(crc_of(GetParam().text, GetParam().start), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(Known, GenCrcCheckValues, testing::Values(
    CheckValue{"123456789", 0xFFFFFFFF, 0x340BC6D9},
    CheckValue{"abc", 0xFFFFFFFF, 0xCADBBE3D},
    CheckValue{"", 0xFFFFFFFF, 0xFFFFFFFF},
    CheckValue{"", 0x12345678, 0x12345678}));

// Random lengths around the eight-byte steps, unaligned starts and random start values: the table
// version must give the bitwise register every time.
TEST(GenCrc, MatchesTheBitwiseRegisterOnRandomBuffers) {
    std::mt19937 random(20240611);
    std::vector<uint8_t> buffer(6000 + 8);
    for (uint8_t& b : buffer)
        b = static_cast<uint8_t>(random());
    for (int round = 0; round < 3000; ++round) {
        const uint32_t length = round < 64 ? round : random() % 6000;
        const uint32_t skew = random() % 8;
        const uint32_t start = random();
        const uint8_t* data = buffer.data() + skew;
        ASSERT_EQ(gen_crc(data, length, start), crc_bitwise(data, length, start))
            << "length " << length << " skew " << skew << " start " << start;
    }
}

TEST(GenCrc, ContinuesOverASplitBufferAtAnyPoint) {
    EXPECT_EQ(crc_of("56789", crc_of("1234", 0xFFFFFFFF)), 0x340BC6D9u);
    std::mt19937 random(7);
    std::vector<uint8_t> buffer(3001);
    for (uint8_t& b : buffer)
        b = static_cast<uint8_t>(random());
    const uint32_t whole = gen_crc(buffer.data(), 3001, 0xFFFFFFFF);
    for (uint32_t split = 0; split <= 3001; split += 37) {
        const uint32_t head = gen_crc(buffer.data(), split, 0xFFFFFFFF);
        ASSERT_EQ(gen_crc(buffer.data() + split, 3001 - split, head), whole) << "split at " << split;
    }
}

TEST(Swapw, ReversesTheFourBytes) {
    EXPECT_EQ(swapw(0x12345678), 0x78563412u);
    EXPECT_EQ(swapw(0xFF000080), 0x800000FFu);
}

}  // namespace
