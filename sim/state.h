// The simulated board's state that outlives a run: it lives in shared memory, written by the
// forked child that runs the program and read by the test in the parent.
#pragma once

#include <cstdint>

#include "sim/board.h"

namespace sim {

struct SharedState {
    // The board: kept across runs.
    uint8_t eeprom[256];
    uint8_t cpld[256];

    // The run: reset before each.
    FlashCounters flash_counters;
    uint32_t i2c_transfers;
    uint32_t gate_refusals;
    uint32_t eeprom_writes;
    uint32_t allocations;
    uint64_t now_us;
    int end;  // End, or -1 while the run goes on
    int value;

    // The event log: records of {EventRecord, text} packed one after the other.
    static constexpr uint32_t kLogCapacity = 16u << 20;
    uint32_t log_used;
    uint32_t last_record;  // offset of the newest record, for merging
    alignas(8) char log[kLogCapacity];
};

struct EventRecord {
    uint32_t kind;
    uint32_t length;
    uint64_t at_us;
};

// Inside a run: the board the child works on.  Set once in the child right after the fork.
Board& active_board();
SharedState& active_state();

// Puts the emulated operating system of the child into its state at process start.
void begin_run_in_child();

// Event recording, in the child.
void record(Event::Kind kind, const void* text, uint32_t length);
void record(Event::Kind kind, const std::string& text);
void record_sleep(uint64_t microseconds);

// Ends the run: stores how it ended and leaves the child process at once.
[[noreturn]] void finish(End end, int value);

}  // namespace sim
