// The launcher's flash-heavy roads on the simulated board, each side by side with the least a program
// could do for the same result:
//   boot_path      an 8 MiB slot brought to the point of unpacking (header, record read, CRC, payload
//                  written to the archive) against one read of the record from the flash image, one
//                  gen_crc pass and one write of the payload to a file in the same directory;
//   gdb_extraction a 4 MiB payload copied out of the other slot against a plain copy in 64 KiB chunks
//                  from the flash image to a file;
//   installer      a download of four records (11 MiB) installed against the same records checked and
//                  written with the flash module alone.
// Every side runs in a fresh simulated boot (a forked child) and is timed there in the child's CPU
// time, which the other users of a shared machine disturb less than the wall clock.  Each iteration
// runs both sides; the counter "ratio" is the launcher's time over the reference's.  The mandated
// sleeps cost nothing on the board's virtual clock.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "crc/crc.h"
#include "flash/flash.h"
#include "i2c/i2c.h"
#include "image/image.h"
#include "launch/launch.h"
#include "platform/os.h"
#include "sim/board.h"
#include "tests/support/launch_support.h"

namespace {

constexpr uint32_t kSlotRecordBytes = 8u << 20;
constexpr uint32_t kGdbPayloadBytes = 4u << 20;
constexpr uint32_t kCopyChunk = 64u << 10;
constexpr uint32_t kRootFsBase = 0x01000000;
constexpr uint32_t kKernelBase = 0x01E00000;
constexpr uint32_t kBootCodeBase = 0x03F00000;

// In the child: its CPU time and resident set when the measured work began.
double g_started = 0;
long g_started_kib = 0;

double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

long resident_kib()
{
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A run starts with whatever the fork copied of the benchmark process, free heap included, which
// the program would reuse without it showing.  That heap is given back and the peak restarted here,
// so the run's peak (wait4's) over the resident set at this point is what the measured work added.
void start_clock()
{
    malloc_trim(0);
    const int clear_refs = ::open("/proc/self/clear_refs", O_WRONLY);
    benchmark::DoNotOptimize(::write(clear_refs, "5", 1));
    ::close(clear_refs);
    g_started_kib = resident_kib();
    g_started = cpu_seconds();
}

// Hands the time since start_clock, and the resident set then, back to the benchmark as a note.
void stop_clock()
{
    const double seconds = cpu_seconds() - g_started;
    sim::Board::note("cpu " + std::to_string(seconds) + " " + std::to_string(g_started_kib));
}

struct Measure {
    double seconds = 0;
    long started_kib = 0;
};

Measure measure_of(const sim::Run& run)
{
    Measure m;
    for (const sim::Event& e : run.events) {
        const bool ours = e.kind == sim::Event::Kind::Note;
        if (ours && std::sscanf(e.text.c_str(), "cpu %lf %ld", &m.seconds, &m.started_kib) == 2)
            return m;
    }
    return m;
}

std::string payload_of(uint32_t length, uint32_t seed)
{
    std::string payload(length, '\0');
    uint32_t x = seed;
    for (char& c : payload) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return payload;
}

// The reference's way of putting bytes in a file: one plain write.
void write_whole_file(const std::string& path, const uint8_t* bytes, uint32_t length)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    benchmark::DoNotOptimize(::write(fd, bytes, length));
    ::close(fd);
}

struct SideBySide {
    double launcher = 0;
    double reference = 0;
    sim::FlashCounters launcher_flash;
    long launcher_peak_kib = 0;  // over the resident set when the measured work began
};

// Runs both sides once, in alternating order so that neither always finds the caches warm.
SideBySide run_both(sim::Board& board, const std::function<int()>& launcher,
                    const std::function<int()>& reference, bool launcher_first)
{
    SideBySide times;
    if (!launcher_first)
        times.reference = measure_of(board.run(reference)).seconds;
    const sim::Run run = board.run(launcher);
    const Measure m = measure_of(run);
    times.launcher = m.seconds;
    times.launcher_flash = board.flash.counters();
    times.launcher_peak_kib = run.max_resident_kib - m.started_kib;
    if (launcher_first)
        times.reference = measure_of(board.run(reference)).seconds;
    return times;
}

struct Totals {
    double launcher = 0;
    double reference = 0;
    long peak_kib = 0;
    uint32_t flash_reads = 0;
};

// The benchmark's iterations, each timed by the launcher's side; the reference's time, the peak and
// the flash reads are kept alongside.
Totals run_iterations(benchmark::State& state, sim::Board& board, const std::function<int()>& launcher,
                      const std::function<int()>& reference)
{
    Totals totals;
    for (auto _ : state) {
        const SideBySide once = run_both(board, launcher, reference, state.iterations() % 2 == 0);
        state.SetIterationTime(once.launcher);
        totals.launcher += once.launcher;
        totals.reference += once.reference;
        totals.peak_kib = std::max(totals.peak_kib, once.launcher_peak_kib);
        totals.flash_reads = std::max(totals.flash_reads, once.launcher_flash.reads);
    }
    return totals;
}

void report(benchmark::State& state, const Totals& totals, double record_kib)
{
    state.counters["ratio"] = totals.launcher / totals.reference;
    state.counters["launcher_ms"] =
        benchmark::Counter(totals.launcher * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["reference_ms"] =
        benchmark::Counter(totals.reference * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["peak_over_record_KiB"] = static_cast<double>(totals.peak_kib) - record_kib;
}

void BM_boot_path(benchmark::State& state)
{
    sim::Board board;
    const std::vector<uint8_t> record = record_bytes(kMagicApplication, payload_of(kSlotRecordBytes - 16, 1));
    board.flash.load(kSlot1Base, record);
    board.i2c.eeprom()[1] = 1;
    // The unpacking is where the launcher's own work on the slot ends.
    board.shell.on_prefix("cd /tmp", [](sim::Board&, const std::string&) {
        stop_clock();
        os::exit(0);
        return 0;
    });
    const std::string archive = board.host_path("/tmp/reference.tar.gz");
    const uint8_t* image = board.flash.data();
    auto launcher = [] {
        api_i2c_init();
        api_flash_init();
        start_clock();
        extract_image(1);
        return 0;
    };
    auto reference = [&] {
        start_clock();
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[kSlotRecordBytes]);
        std::memcpy(bytes.get(), image + kSlot1Base, kSlotRecordBytes);
        benchmark::DoNotOptimize(gen_crc(bytes.get() + 4, kSlotRecordBytes - 4, 0xFFFFFFFF));
        write_whole_file(archive, bytes.get() + 16, kSlotRecordBytes - 16);
        stop_clock();
        return 0;
    };
    // A launcher that took another road would make the figure meaningless.
    board.run(launcher);
    if (board.read_file("/tmp/zarelimage.tar.gz") != std::string(record.begin() + 16, record.end())) {
        state.SkipWithError("the boot did not write the payload to the archive");
        return;
    }
    const Totals totals = run_iterations(state, board, launcher, reference);
    report(state, totals, kSlotRecordBytes / 1024.0);
}

void BM_gdb_extraction(benchmark::State& state)
{
    sim::Board board;
    board.flash.load(kSlot2Base, record_bytes(kMagicApplication, payload_of(kGdbPayloadBytes, 2)));
    const std::string copy = board.host_path("/tmp/reference.gz");
    const uint8_t* image = board.flash.data();
    auto launcher = [] {
        api_flash_init();
        start_clock();
        extract_gdb(1);
        stop_clock();
        return 0;
    };
    auto reference = [&] {
        start_clock();
        static uint8_t chunk[kCopyChunk];
        const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (uint32_t done = 0; done < kGdbPayloadBytes; done += kCopyChunk) {
            std::memcpy(chunk, image + kSlot2Base + 16 + done, kCopyChunk);
            benchmark::DoNotOptimize(::write(fd, chunk, kCopyChunk));
        }
        ::close(fd);
        stop_clock();
        return 0;
    };
    if (board.run(launcher).out.find("Found GDB image 2 of length = 4194304.") == std::string::npos) {
        state.SkipWithError("the extraction did not find the debugger's record");
        return;
    }
    const Totals totals = run_iterations(state, board, launcher, reference);
    report(state, totals, 0);
    state.counters["flash_reads"] = totals.flash_reads;
    state.counters["flash_read_limit"] = kGdbPayloadBytes / 65536 + 2;
}

// Boot code, kernel, root file system and an application for slot 1: 11 MiB in all.
std::vector<std::vector<uint8_t>> download_records()
{
    return {
        record_bytes(kMagicBootCode, payload_of((256u << 10) - 16, 3)),
        record_bytes(kMagicKernel, payload_of((1u << 20) - 16, 4)),
        record_bytes(kMagicRootFs, payload_of((4u << 20) - 16, 5)),
        record_bytes(kMagicApplication, payload_of((5u << 20) + (768u << 10) - 16, 6)),
    };
}

void BM_installer(benchmark::State& state)
{
    sim::Board board;
    const std::vector<std::vector<uint8_t>> records = download_records();
    const uint32_t bases[] = {kBootCodeBase, kKernelBase, kRootFsBase, kSlot1Base};
    std::string download;
    size_t largest = 0;
    for (const std::vector<uint8_t>& record : records) {
        download += std::string(record.begin(), record.end());
        largest = std::max(largest, record.size());
    }
    board.write_file("/tmp/image", download);
    board.console.keys("1\n");
    auto launcher = [] {
        api_i2c_init();
        api_flash_init();
        start_clock();
        processTavikImage("/tmp/image");
        stop_clock();
        return 0;
    };
    auto reference = [&] {
        api_flash_init();
        start_clock();
        for (size_t i = 0; i < records.size(); ++i) {
            const std::vector<uint8_t>& record = records[i];
            const auto total = static_cast<uint32_t>(record.size());
            benchmark::DoNotOptimize(gen_crc(record.data() + 4, total - 4, 0xFFFFFFFF));
            api_flash_write(record.data(), flash_fd, bases[i], total);
        }
        stop_clock();
        return 0;
    };
    if (board.run(launcher).out.find("Image1 updated succeeded") == std::string::npos ||
        board.flash.bytes(kRootFsBase, 16) !=
            std::vector<uint8_t>(records[2].begin(), records[2].begin() + 16)) {
        state.SkipWithError("the installer did not install the download");
        return;
    }
    const Totals totals = run_iterations(state, board, launcher, reference);
    report(state, totals, static_cast<double>(largest) / 1024.0);
    state.counters["bytes"] = static_cast<double>(download.size());
}

}  // namespace

BENCHMARK(BM_boot_path)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gdb_extraction)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_installer)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
