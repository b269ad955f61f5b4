// CRC-32 eight bytes per step.  A bit at a time costs about a second per 8 MiB slot on the board's
// core; eight table lookups per eight bytes give the same register.  Input bytes are taken one at a
// time, never as loaded words, so the register is the same on hosts of either byte order.
#include "crc/crc.h"

#include <array>
#include <cstddef>

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;

using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

// tables[0][b] is the register after byte b entered a zero register; tables[k][b] is that register
// after k more zero bytes, which is what byte b contributes when k bytes follow it in a step.
constexpr CrcTables make_tables() {
    CrcTables tables{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t r = b;
        for (int bit = 0; bit < 8; ++bit)
            r = (r >> 1) ^ ((r & 1) != 0 ? kPolynomial : 0);
        tables[0][b] = r;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (uint32_t b = 0; b < 256; ++b) {
            const uint32_t previous = tables[k - 1][b];
            tables[k][b] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}

constexpr CrcTables kTables = make_tables();

}  // namespace

uint32_t gen_crc(const uint8_t* data, uint32_t length, uint32_t start) {
    const CrcTables& t = kTables;
    uint32_t r = start;
    for (; length >= 8; length -= 8, data += 8) {
        r = t[7][(r ^ data[0]) & 0xFF] ^ t[6][((r >> 8) ^ data[1]) & 0xFF] ^
            t[5][((r >> 16) ^ data[2]) & 0xFF] ^ t[4][(r >> 24) ^ data[3]] ^
            t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    }
    for (; length > 0; --length, ++data)
        r = (r >> 8) ^ t[0][(r ^ *data) & 0xFF];
    return r;
}

uint32_t swapw(uint32_t word) {
    return (word >> 24) | ((word >> 8) & 0x0000FF00) | ((word << 8) & 0x00FF0000) | (word << 24);
}
