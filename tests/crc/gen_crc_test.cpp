#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "crc/crc.h"
#include "tests/support/bytes.h"
#include "tests/support/crc_reference.h"

namespace {

uint32_t crc_of(const std::string& text, uint32_t start)
{
    const Bytes bytes = bytes_of(text);
    return gen_crc(bytes.data(), static_cast<uint32_t>(bytes.size()), start);
}

struct CheckValue {
    std::string text;
    uint32_t start;
    uint32_t crc;
};

class GenCrcCheckValues : public testing::TestWithParam<CheckValue> {};
void PrintTo(const CheckValue& c, std::ostream* os)
{
    *os << '"' << c.text << "\" from " << std::hex << c.start;
}

TEST_P(GenCrcCheckValues, GivesTheKnownRegister)
{
    EXPECT_EQ(crc_of(GetParam().text, GetParam().start), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(Known, GenCrcCheckValues,
                         testing::Values(CheckValue{"123456789", 0xFFFFFFFF, 0x340BC6D9},
                                         CheckValue{"abc", 0xFFFFFFFF, 0xCADBBE3D},
                                         CheckValue{"", 0xFFFFFFFF, 0xFFFFFFFF},
                                         CheckValue{"", 0x12345678, 0x12345678}));

TEST(GenCrc, ContinuesOverASplitBufferAtAnyPoint)
{
    EXPECT_EQ(crc_of("56789", crc_of("1234", 0xFFFFFFFF)), 0x340BC6D9u);
    const std::vector<uint8_t> buffer = random_bytes(3001);
    const uint32_t whole = gen_crc(buffer.data(), 3001, 0xFFFFFFFF);
    for (uint32_t split = 0; split <= 3001; split += 37) {
        const uint32_t head = gen_crc(buffer.data(), split, 0xFFFFFFFF);
        ASSERT_EQ(gen_crc(buffer.data() + split, 3001 - split, head), whole) << "split at " << split;
    }
}

TEST(Swapw, ReversesTheFourBytes)
{
    EXPECT_EQ(swapw(0x12345678), 0x78563412u);
    EXPECT_EQ(swapw(0xFF000080), 0x800000FFu);
}

// Against an independent register: lengths across the word, lane and block boundaries up to several
// KiB, starts at every offset in a word and beyond, random start values.
TEST(GenCrcAgainstReference, EqualOnRandomLengthsAlignmentsAndStarts)
{
    const std::vector<uint8_t> buffer = random_bytes(9000 + 64);
    std::mt19937 random(20261207);
    for (int round = 0; round < 4000; ++round) {
        const uint32_t length = round < 300 ? round : random() % 9000;
        const uint32_t skew = random() % 64;
        const uint32_t start = random();
        const uint8_t* data = buffer.data() + skew;
        ASSERT_EQ(gen_crc(data, length, start), crc_reference(data, length, start))
            << "length " << length << " skew " << skew << " start " << start;
    }
}

struct BigBuffer {
    uint32_t length;
    uint32_t skew;
    uint32_t start;
};

class GenCrcOnBigBuffers : public testing::TestWithParam<BigBuffer> {};

TEST_P(GenCrcOnBigBuffers, EqualsTheReference)
{
    const BigBuffer& big = GetParam();
    const std::vector<uint8_t> buffer = random_bytes(big.length + big.skew);
    const uint8_t* data = buffer.data() + big.skew;
    EXPECT_EQ(gen_crc(data, big.length, big.start), crc_reference(data, big.length, big.start));
}

INSTANTIATE_TEST_SUITE_P(Sizes, GenCrcOnBigBuffers,
                         testing::Values(BigBuffer{1048576, 0, 0xFFFFFFFF},
                                         BigBuffer{1048576 + 31, 3, 0x00000000},
                                         BigBuffer{2097152 - 1, 1, 0x9E3779B9},
                                         BigBuffer{3000001, 6, 0xFFFFFFFF}));

// A slot of all 0xFF bytes (erased flash) and of all zeros, where every lane sees the same word.
TEST(GenCrcAgainstReference, EqualOnUniformBuffers)
{
    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> buffer(65536 + 5, fill);
        EXPECT_EQ(gen_crc(buffer.data(), 65536 + 5, 0xFFFFFFFF),
                  crc_reference(buffer.data(), 65536 + 5, 0xFFFFFFFF))
            << "fill " << int{fill};
    }
}

}  // namespace
