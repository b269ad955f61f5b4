#include <cstring>

#include "flash/flash.h"
#include "flash/flash_layout.h"
#include "launch/boot_option_reading.h"
#include "launch/launch.h"
#include "launch/launch_internal.h"

int gdb_enable = 0;
int gdbserver_enable = 0;
uint32_t gdbserver = 0;
int gdbport = 0;
uint8_t shell_enable = 0;
uint8_t memchk_enable = 0;
int rescue_enable = 0;

namespace {

// The environment block starts with its CRC word, which is neither read nor checked.
constexpr uint32_t ENV_TEXT_OFFSET = FLASH_ENV_BASE + 4;

}  // namespace

int parse_uboot_env()
{
    // A block that cannot be read is an empty environment, so that every option keeps its default.
    uint8_t block[ENV_TEXT_SIZE];
    if (api_flash_read(block, flash_fd, ENV_TEXT_OFFSET, ENV_TEXT_SIZE) < 0)
        memset(block, 0, sizeof block);
    parse_env_text(block);
    return 0;
}

void parse_env_text(const uint8_t (&block)[ENV_TEXT_SIZE])
{
    const BootOptionReading reading = read_boot_options(block);
    const BootOptionFound* options = reading.options;
    if (options[BOOT_GDB].taken)
        gdb_enable = static_cast<int>(options[BOOT_GDB].value);
    // A debug server needs the debugger mode, whatever "gdb=" said.
    if (options[BOOT_GDBSERVER].taken) {
        gdbserver_enable = static_cast<int>(options[BOOT_GDBSERVER].value);
        if (gdbserver_enable)
            gdb_enable = 1;
    }
    if (options[BOOT_GDBSERVER_IP].taken)
        gdbserver = options[BOOT_GDBSERVER_IP].value;
    if (options[BOOT_GDBPORT].taken)
        gdbport = static_cast<int>(options[BOOT_GDBPORT].value);
    if (options[BOOT_SHELL].taken)
        shell_enable = static_cast<uint8_t>(options[BOOT_SHELL].value);
    if (options[BOOT_MEMCHK].taken)
        memchk_enable = static_cast<uint8_t>(options[BOOT_MEMCHK].value);
    if (options[BOOT_DIAGNOSTICS].taken)
        rescue_enable = static_cast<int>(options[BOOT_DIAGNOSTICS].value);
}
