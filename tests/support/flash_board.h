// The flash tests' board: flash carrying a recognisable pattern, and runs that bring the flash up
// first, as start-up does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "bytes.h"
#include "flash/flash.h"
#include "sim/board.h"

constexpr uint32_t kSector = sim::Flash::kBlockSize;
constexpr uint32_t kDeviceSize = sim::Flash::kArraySize;
constexpr int kInitFailed = 99;

// What the flash holds before a test, address for address (0x40 0x47 ... from address 0), and what
// the tests write, counted from the start of what they write: another seed's pattern, never equal
// to the first at the same place.
constexpr uint8_t kHeldSeed = 0x40;
constexpr uint8_t kWrittenSeed = 0xBF;
inline uint8_t pattern_at(uint32_t address) { return pattern_byte(address, kHeldSeed); }
inline uint8_t data_at(uint32_t index) { return pattern_byte(index, kWrittenSeed); }

inline void preload(sim::Board& board, uint32_t from, uint32_t to)
{
    for (uint32_t a = from; a < to; ++a)
        board.flash.data()[a] = pattern_at(a);
}

// "" when every byte of flash in [from, to) is what expected says, else the first one that is not.
inline std::string flash_mismatch(sim::Board& board, uint32_t from, uint32_t to,
                                  const std::function<uint8_t(uint32_t)>& expected)
{
    for (uint32_t a = from; a < to; ++a) {
        const uint8_t got = board.flash.data()[a];
        if (got != expected(a)) {
            char text[64];
            std::snprintf(text, sizeof text, "0x%08X holds 0x%02X, not 0x%02X", a, got, expected(a));
            return text;
        }
    }
    return "";
}

inline sim::Run run_with_flash(sim::Board& board, const std::function<int()>& op)
{
    return board.run([&] { return api_flash_init() == 0 ? op() : kInitFailed; });
}
