// CRC-32 of image records and byte reversal of words.
#pragma once

#include <cstdint>

// CRC-32 over the reflected polynomial 0xEDB88320 without final inversion: the value over A then B
// equals the value over B started from the value over A.  Callers start from 0xFFFFFFFF.
uint32_t gen_crc(const uint8_t* data, uint32_t length, uint32_t start);

// The word with its four bytes in reverse order.
uint32_t swapw(uint32_t word);
