// An independent CRC-32 register to hold gen_crc against: zlib's crc32 where the build machine has it,
// the bit-at-a-time loop in the cross build, whose sysroot carries no zlib.
#pragma once

#include <cstdint>

uint32_t crc_reference(const uint8_t* data, uint32_t length, uint32_t start);
