// Bytes the tests make for themselves: a pattern that shows a byte moved, lost, repeated or taken
// from the wrong place, and random bytes for the peers on a real line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
inline Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Byte index of the tests' pattern: neighbours differ, the pattern repeats only every 32 MiB, and
// the patterns of two seeds differ at every index.
inline uint8_t pattern_byte(size_t index, uint8_t seed = 0)
{
    return static_cast<uint8_t>(((index * 7) ^ (index >> 9) ^ (index >> 17)) + seed * 37);
}

// The first size bytes of the pattern, as bytes and as text (a record's payload, a file).
Bytes pattern(size_t size, uint8_t seed = 0);
std::string pattern_text(size_t size, uint8_t seed = 0);

// size bytes from a generator seeded with the size, the same on every run.
Bytes random_bytes(size_t size);

// A record or block spoilt after its check was taken: the lowest bit of its last byte (a record's
// last payload byte, a block's CRC low byte) turned over.
template <typename Sequence>
Sequence corrupted(Sequence bytes)
{
    bytes.back() = static_cast<typename Sequence::value_type>(bytes.back() ^ 0x01);
    return bytes;
}

// The first count bytes of a record or block, as a transfer or a file cut short leaves them.
template <typename Sequence>
Sequence cut_short(const Sequence& bytes, size_t count)
{
    return Sequence(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}
