// The boot options as the launcher reads them from the environment's text area, with where each
// key stands: a pure function over the bytes, so that a host tool shows an integrator exactly what
// the board will act on, traps included.
#pragma once

#include <cstdint>

#include "flash/flash_layout.h"

enum BootOptionKey {
    BOOT_GDB,
    BOOT_GDBSERVER,
    BOOT_GDBSERVER_IP,
    BOOT_GDBPORT,
    BOOT_SHELL,
    BOOT_MEMCHK,
    BOOT_DIAGNOSTICS,
    BOOT_OPTION_COUNT
};

// The keys searched for, "=" included, in BootOptionKey order.
extern const char* const BOOT_OPTION_KEYS[BOOT_OPTION_COUNT];

struct BootOptionFound {
    bool found = false;            // the key stands in the text
    uint32_t key_offset = 0;       // its first occurrence, from the start of the text area
    uint32_t variable_offset = 0;  // the start of the NUL-separated string that occurrence stands in
    bool taken = false;            // its value was read: any switch value, a number that converted
    uint32_t value = 0;            // a switch 0 or 1, the address, or the port as read (%d)
};

struct BootOptionReading {
    BootOptionFound options[BOOT_OPTION_COUNT];
};

// Each key's first occurrence in the text (NULs read as spaces) and the value behind it.  An option
// that is not taken leaves the launcher's option as it was; the debug server's forcing of the
// debugger mode is the caller's, as it spans two options.
BootOptionReading read_boot_options(const uint8_t (&text)[ENV_TEXT_SIZE]);
