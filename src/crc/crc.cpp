// CRC-32 over braided lanes.  A bit at a time costs about a second per 8 MiB slot on the board's core,
// and even a table lookup per byte chains every lookup on the one before it.  Here eight independent
// lanes each take every eighth 32-bit word of the input, so eight lookup chains run side by side; the
// lanes are folded into one register over the last block.  A lane's word is looked up in three chunks
// of 11, 11 and 10 bits rather than four bytes: three loads a word instead of four, for 20 KiB of
// tables.  Words are assembled from bytes in the order the register consumes them, never loaded as
// host words, so the register is the same on hosts of either byte order, and 32-bit words suit the
// board's 32-bit core.
//
// The lanes are written out, one step per lane, not looped over: a loop over an array of lanes is
// what optimisers turn into vector code that gathers the table entries slowly (GCC at -O2) or leave
// in memory, and one step function called eight times stays eight calls when optimising for size,
// where a function called once is always inlined.
#include "crc/crc.h"

#include <array>
#include <cstddef>
#include <utility>

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;

constexpr size_t kWordBytes = 4;
constexpr size_t kLanes = 8;
constexpr size_t kBlockBytes = kLanes * kWordBytes;

// kByteTable[b] is the register after byte b entered a zero register.
constexpr std::array<uint32_t, 256> make_byte_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t r = b;
        for (int bit = 0; bit < 8; ++bit)
            r = (r >> 1) ^ ((r & 1) != 0 ? kPolynomial : 0);
        table[b] = r;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kByteTable = make_byte_table();

uint32_t byte_step(uint32_t r, uint8_t byte) { return (r >> 8) ^ kByteTable[(r ^ byte) & 0xFF]; }

uint32_t crc_of_bytes(const uint8_t* data, size_t length, uint32_t r)
{
    for (; length > 0; --length, ++data)
        r = byte_step(r, *data);
    return r;
}

// A chunk table: entry v is what a lane's register holding v at bit `shift` (its word entered, the
// rest zero) becomes at the lane's next word, once the block's other bytes have passed as zeros.
template <size_t Entries>
constexpr std::array<uint32_t, Entries> make_chunk_table(unsigned shift)
{
    std::array<uint32_t, Entries> table{};
    for (uint32_t v = 0; v < Entries; ++v) {
        uint32_t r = v << shift;
        for (size_t zeros = 0; zeros < kBlockBytes; ++zeros)
            r = (r >> 8) ^ kByteTable[r & 0xFF];
        table[v] = r;
    }
    return table;
}

constexpr std::array<uint32_t, 2048> kLowChunk = make_chunk_table<2048>(0);
constexpr std::array<uint32_t, 2048> kMiddleChunk = make_chunk_table<2048>(11);
constexpr std::array<uint32_t, 1024> kHighChunk = make_chunk_table<1024>(22);

// Lane J's register at its next word: its word of the block entered, then the block's other bytes.
template <size_t J>
uint32_t lane_step(uint32_t lane, const uint8_t* block)
{
    const uint8_t* word = block + J * kWordBytes;
    const uint32_t x = lane ^ (uint32_t{word[0]} | uint32_t{word[1]} << 8 | uint32_t{word[2]} << 16 |
                               uint32_t{word[3]} << 24);
    return kLowChunk[x & 0x7FF] ^ kMiddleChunk[(x >> 11) & 0x7FF] ^ kHighChunk[x >> 22];
}

template <size_t... J>
void block_step(std::array<uint32_t, kLanes>& lanes, const uint8_t* block, std::index_sequence<J...>)
{
    ((lanes[J] = lane_step<J>(lanes[J], block)), ...);
}

// The lanes folded into one register over the last block: each lane's register joins the register
// as its word enters, byte by byte.
template <size_t... J>
uint32_t fold(const std::array<uint32_t, kLanes>& lanes, const uint8_t* block, std::index_sequence<J...>)
{
    uint32_t r = 0;
    ((r = crc_of_bytes(block + J * kWordBytes, kWordBytes, r ^ lanes[J])), ...);
    return r;
}

// Runs the lanes over all whole blocks but the last, then folds them into one register over the
// last, so that the register leaves in step with the bytes consumed.
uint32_t crc_of_blocks(const uint8_t* data, size_t blocks, uint32_t start)
{
    std::array<uint32_t, kLanes> lanes{};
    lanes[0] = start;
    for (; blocks > 1; --blocks, data += kBlockBytes)
        block_step(lanes, data, std::make_index_sequence<kLanes>());
    return fold(lanes, data, std::make_index_sequence<kLanes>());
}

}  // namespace

uint32_t gen_crc(const uint8_t* data, uint32_t length, uint32_t start)
{
    uint32_t r = start;
    // Below two blocks the fold costs more than the lanes save.
    if (length >= 2 * kBlockBytes) {
        const size_t blocks = length / kBlockBytes;
        r = crc_of_blocks(data, blocks, r);
        data += blocks * kBlockBytes;
        length -= static_cast<uint32_t>(blocks * kBlockBytes);
    }
    return crc_of_bytes(data, length, r);
}

uint32_t swapw(uint32_t word)
{
    return (word >> 24) | ((word >> 8) & 0x0000FF00) | ((word << 8) & 0x00FF0000) | (word << 24);
}
