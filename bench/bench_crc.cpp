// The CRC over a whole image slot, as the slot reader checks it at every boot, against the
// bit-at-a-time loop that defines it.
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "crc/crc.h"
#include "crc_bitwise.h"

namespace {

constexpr uint32_t kSlotBytes = 8u << 20;

using CrcFunction = uint32_t (*)(const uint8_t*, uint32_t, uint32_t);

const std::vector<uint8_t>& slot_bytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kSlotBytes);
        std::mt19937 random(1);
        for (uint8_t& x : b)
            x = static_cast<uint8_t>(random());
        return b;
    }();
    return bytes;
}

void BM_crc_over_a_slot(benchmark::State& state, CrcFunction crc) {
    const std::vector<uint8_t>& bytes = slot_bytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(bytes.data(), kSlotBytes, 0xFFFFFFFF));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlotBytes);
}

}  // namespace

BENCHMARK_CAPTURE(BM_crc_over_a_slot, gen_crc, gen_crc)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_crc_over_a_slot, bitwise, crc_bitwise)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
