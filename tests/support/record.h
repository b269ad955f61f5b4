// Image records made by the tests themselves, independent of the code under test, so that a wrong
// constant, header layout or CRC in the product shows.
#pragma once

#include <cstdint>
#include <string>

// The word as four bytes, most significant first.
std::string be32(uint32_t word);
// A record as the board expects it: header words crc, len, magic, id, then the payload, with the
// CRC computed by the tests' own bitwise routine.
std::string make_record(uint32_t magic, const std::string& payload, uint32_t id = 0);
// The standard CRC-32 (with its final inversion) of the bytes, by the same routine.
uint32_t standard_crc32(const std::string& bytes);
