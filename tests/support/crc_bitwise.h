// The CRC-32 one bit at a time, as the record format defines it: the yardstick for the table-driven
// gen_crc in its tests and benchmark.
#pragma once

#include <cstdint>

inline uint32_t crc_bitwise(const uint8_t* data, uint32_t length, uint32_t start)
{
    uint32_t r = start;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t b = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool x = ((r ^ b) & 1) != 0;
            r >>= 1;
            if (x)
                r ^= 0xEDB88320;
            b >>= 1;
        }
    }
    return r;
}
