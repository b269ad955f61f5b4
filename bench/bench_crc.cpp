// The CRC over a whole image slot, as the slot reader checks it at every boot, and over a 1 KiB
// XMODEM-sized buffer, against zlib's crc32 on the same bytes and the bit-at-a-time loop that defines
// the register.  zlib is a yardstick here only; the launcher carries its own routine.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>
#include <vector>
#include <zlib.h>

#include "crc/crc.h"
#include "crc_bitwise.h"

namespace {

constexpr uint32_t kSlotBytes = 8u << 20;

using CrcFunction = uint32_t (*)(const uint8_t*, uint32_t, uint32_t);

const std::vector<uint8_t>& random_bytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kSlotBytes);
        std::mt19937 random(1);
        for (uint8_t& x : b)
            x = static_cast<uint8_t>(random());
        return b;
    }();
    return bytes;
}

// zlib's crc32 inverts the register on the way in and out; the launcher's callers do that themselves.
uint32_t zlib_crc(const uint8_t* data, uint32_t length, uint32_t start)
{
    return ~static_cast<uint32_t>(crc32(~start & 0xFFFFFFFFu, data, length));
}

void BM_crc(benchmark::State& state, CrcFunction crc)
{
    const std::vector<uint8_t>& bytes = random_bytes();
    const auto length = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(bytes.data(), length, 0xFFFFFFFF));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}

}  // namespace

BENCHMARK_CAPTURE(BM_crc, gen_crc, gen_crc)->Arg(8 << 20)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_crc, zlib, zlib_crc)->Arg(8 << 20)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_crc, bitwise, crc_bitwise)->Arg(8 << 20)->Arg(1024)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
