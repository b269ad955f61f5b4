#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "crc/crc.h"
#include "crc_reference.h"

namespace {

std::vector<uint8_t> random_buffer(size_t size, uint32_t seed) {
    std::vector<uint8_t> buffer(size);
    std::mt19937 random(seed);
    for (uint8_t& b : buffer)
        b = static_cast<uint8_t>(random());
    return buffer;
}

// Lengths across the word, lane and block boundaries up to several KiB, starts at every offset in a
// word and beyond, random start values.
TEST(GenCrcAgainstReference, EqualOnRandomLengthsAlignmentsAndStarts) {
    const std::vector<uint8_t> buffer = random_buffer(9000 + 64, 1);
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

TEST_P(GenCrcOnBigBuffers, EqualsTheReference) {
    const BigBuffer& big = GetParam();
    const std::vector<uint8_t> buffer = random_buffer(big.length + big.skew, big.length);
    const uint8_t* data = buffer.data() + big.skew;
    EXPECT_EQ(gen_crc(data, big.length, big.start), crc_reference(data, big.length, big.start));
}

INSTANTIATE_TEST_SUITE_P(Sizes, GenCrcOnBigBuffers, testing::Values(
    BigBuffer{1048576, 0, 0xFFFFFFFF},
    BigBuffer{1048576 + 31, 3, 0x00000000},
    BigBuffer{2097152 - 1, 1, 0x9E3779B9},
    BigBuffer{3000001, 6, 0xFFFFFFFF}));

// A slot of all 0xFF bytes (erased flash) and of all zeros, where every lane sees the same word.
TEST(GenCrcAgainstReference, EqualOnUniformBuffers) {
    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> buffer(65536 + 5, fill);
        EXPECT_EQ(gen_crc(buffer.data(), 65536 + 5, 0xFFFFFFFF), crc_reference(buffer.data(), 65536 + 5, 0xFFFFFFFF))
            << "fill " << int{fill};
    }
}

}  // namespace
