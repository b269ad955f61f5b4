// XMODEM-1K receive efficiency on the simulated board's virtual clock: a sender on a 115200 bit/s 8N1
// line (one byte per 87 µs, the whole microsecond at or above the line's 86.8) that answers each ACK
// and NAK at once sends 1 MiB.  The figure is the payload rate from the board's first 'C' to its last
// ACK over the line's payload limit for XMODEM-1K, 11520 bytes/s * 1024 / 1029.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "sim/board.h"
#include "tests/xmodem/sender.h"

namespace {

constexpr uint32_t kBlocks = 1024;
constexpr uint64_t kByteTimeUs = 87;
constexpr double kLinePayloadLimit = 11520.0 * 1024 / 1029;

std::vector<Bytes> download_frames() {
    std::vector<Bytes> blocks;
    for (uint32_t i = 0; i < kBlocks; ++i)
        blocks.push_back(pattern(1024, static_cast<uint8_t>(i)));
    return frames_from_one(blocks);
}

void BM_xmodem_line_efficiency(benchmark::State& state) {
    const std::vector<Bytes> frames = download_frames();
    double efficiency = 0;
    int32_t received = 0;
    for (auto _ : state) {
        sim::Board board;
        auto peer = operator_ready(kByteTimeUs);
        send_frames(*peer, frames);
        end_of_file(*peer);
        const sim::Run run = receive(board, peer);
        received = run.value;
        const std::vector<uint64_t> starts = sent_at(run, kStart);
        const std::vector<uint64_t> acks = sent_at(run, kAck);
        if (starts.empty() || acks.empty())
            continue;
        const double seconds = static_cast<double>(acks.back() - starts.front()) * 1e-6;
        efficiency = kBlocks * 1024.0 / seconds / kLinePayloadLimit;
        state.SetIterationTime(seconds);
    }
    state.counters["efficiency_percent"] = efficiency * 100;
    state.counters["received_bytes"] = received;
}

}  // namespace

BENCHMARK(BM_xmodem_line_efficiency)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

BENCHMARK_MAIN();
