// Helpers shared by the files of module launch.
#pragma once

#include <cstdint>

#include "flash/flash_layout.h"

// Flushes the console streams, so that nothing printed so far is lost or overtaken when another
// program writes to the console or takes over the process.
void flush_console();
// Runs a command line through the shell once the console is flushed; -1 when no shell could run.
int run_shell(const char* command);

inline int other_slot(int slot) { return slot == 1 ? 2 : 1; }

// Slots hold application or diagnostics records only.
inline bool is_slot_magic(uint32_t magic)
{
    return magic == IMAGE_MAGIC_APPLICATION || magic == IMAGE_MAGIC_DIAGNOSTICS;
}

// Whether a record with this payload length fits its slot; computed so that it cannot wrap.
inline bool fits_slot(uint32_t len) { return len <= FLASH_SLOT_SIZE - IMAGE_HEADER_SIZE; }

// The header at the start of a slot.  A header that cannot be read reads as erased flash (all
// bits set), so it is refused by its magic instead of being judged on stale memory.
ImageHeader read_slot_header(uint32_t base);

// Takes the boot options from the text area (NUL-separated variables); an option the text does
// not name keeps its value.
void parse_env_text(const uint8_t (&block)[ENV_TEXT_SIZE]);
