#include "bytes.h"

#include <random>

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = pattern_byte(i, seed);
    return bytes;
}

std::string pattern_text(size_t size, uint8_t seed)
{
    const Bytes bytes = pattern(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

Bytes random_bytes(size_t size)
{
    std::mt19937 generator(static_cast<unsigned>(size));
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(generator());
    return bytes;
}
