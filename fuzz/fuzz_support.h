// What the fuzz targets share: one simulated board per fuzzing process whose runs hand their
// coverage back to the fuzzer, and checks that turn a broken property into a crash the fuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "sim/board.h"

namespace fuzz {

// The board of this process, made on first use.  Each target sets the knobs it needs before every
// run: knobs and flash contents carry over from the input before.
sim::Board& board();

// Runs body on the board.  A run that crashed (a signal, a sanitizer report or a leak in the child)
// aborts here, and so does a hung one unless the caller accepts that the road waits for ever.
sim::Run run(const std::function<int()>& body, bool hang_allowed = false);

// Aborts with what failed when the property does not hold; the run's output helps to see why.
void require(bool holds, const char* property, const sim::Run* run = nullptr);

// The input read front to back; past its end every read gives zeros.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte();
    uint32_t be16();
    uint32_t be32();
    // Up to count bytes, fewer at the end of the input.
    std::string bytes(size_t count);
    std::string rest() { return bytes(size_ - at_); }
    bool empty() const { return at_ >= size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace fuzz
