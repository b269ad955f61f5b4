// The XMODEM-1K receiver's speed.
//
// line_efficiency: on the simulated board's virtual clock, a sender on a 115200 bit/s 8N1 line (one
// byte per 87 µs, the whole microsecond at or above the line's 86.8) that answers each ACK and NAK at
// once sends 1 MiB.  The figure is the payload rate from the board's first 'C' to its last ACK over
// the line's payload limit for XMODEM-1K, 11520 bytes/s * 1024 / 1029.
//
// sx_real_time: lrzsz's sx -k sends a file over a pty to Xmodem1K on the board's port passed through
// to another pty, in real time; the figure is the payload rate.  Skipped where sx is not installed.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/support/bytes.h"
#include "tests/support/sender.h"
#include "tests/support/sx_terminal.h"
#include "xmodem/xmodem.h"

namespace {

constexpr uint32_t kBlocks = 1024;
constexpr uint64_t kByteTimeUs = 87;
constexpr double kLinePayloadLimit = 11520.0 * 1024 / 1029;

std::vector<Bytes> download_frames()
{
    std::vector<Bytes> blocks;
    for (uint32_t i = 0; i < kBlocks; ++i)
        blocks.push_back(pattern(1024, static_cast<uint8_t>(i)));
    return frames_from_one(blocks);
}

void BM_xmodem_line_efficiency(benchmark::State& state)
{
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

void BM_xmodem_sx_real_time(benchmark::State& state, uint32_t size)
{
    if (std::system("command -v sx >/dev/null 2>&1") != 0) {
        state.SkipWithError("sx is not installed");
        return;
    }
    sim::Board board;
    board.write_file("/tmp/sent.bin", as_text(random_bytes(size)));
    board.real_limit_seconds = 600;
    int32_t received = 0;
    for (auto _ : state) {
        Terminal terminal({"sx", "-q", "-k", board.host_path("/tmp/sent.bin")});
        board.serial.passthrough_path = terminal.port_path();
        const auto started = std::chrono::steady_clock::now();
        received = board.run([] { return Xmodem1K("/tmp/image"); }).value;
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
        state.SetIterationTime(seconds.count());
    }
    state.counters["received_bytes"] = received;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

}  // namespace

BENCHMARK(BM_xmodem_line_efficiency)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
// The test command's smoke run leaves out the 8 MiB transfer (a minute at today's rate).
BENCHMARK_CAPTURE(BM_xmodem_sx_real_time, 64KiB, 64u << 10)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_xmodem_sx_real_time, 8MiB, 8u << 20)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

BENCHMARK_MAIN();
