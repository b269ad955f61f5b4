#include <cstdio>
#include <cstring>

#include "flash/flash.h"
#include "flash/flash_layout.h"
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

// The value behind the first occurrence of key anywhere in the text; nullptr when it is absent.
// The search is not anchored at the start of a variable: a name that ends in a key, or a value
// that holds one, counts as that key when it comes first.
const char* find_value(const char* text, const char* key)
{
    const char* found = strstr(text, key);
    return found == nullptr ? nullptr : found + strlen(key);
}

int begins_with(const char* value, const char* prefix)
{
    return strncmp(value, prefix, strlen(prefix)) == 0 ? 1 : 0;
}

// A value is taken only when every component converts; a partial scan leaves the rest undefined.
bool scan_address(const char* value, uint32_t* address)
{
    int a, b, c, d;
    if (sscanf(value, "%d.%d.%d.%d", &a, &b, &c, &d) != 4)
        return false;
    // Components above 255 carry into the next byte, modulo 2^32.
    *address = static_cast<uint32_t>(a) * 0x1000000u + static_cast<uint32_t>(b) * 0x10000u +
               static_cast<uint32_t>(c) * 0x100u + static_cast<uint32_t>(d);
    return true;
}

bool scan_number(const char* value, int* number) { return sscanf(value, "%d", number) == 1; }

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
    // The block as one text: variables separated by spaces instead of NULs.
    char text[ENV_TEXT_SIZE + 1];
    for (uint32_t i = 0; i < ENV_TEXT_SIZE; i++)
        text[i] = block[i] == '\0' ? ' ' : static_cast<char>(block[i]);
    text[ENV_TEXT_SIZE] = '\0';

    const char* value;
    if ((value = find_value(text, "gdb=")))
        gdb_enable = begins_with(value, "on");
    // A debug server needs the debugger mode, whatever "gdb=" said.
    if ((value = find_value(text, "gdbserver="))) {
        gdbserver_enable = begins_with(value, "on");
        if (gdbserver_enable)
            gdb_enable = 1;
    }
    uint32_t address;
    if ((value = find_value(text, "gdbserver_ip=")) && scan_address(value, &address))
        gdbserver = address;
    int port;
    if ((value = find_value(text, "gdbport=")) && scan_number(value, &port))
        gdbport = port;
    if ((value = find_value(text, "shell=")))
        shell_enable = static_cast<uint8_t>(begins_with(value, "on"));
    if ((value = find_value(text, "memchk=")))
        memchk_enable = static_cast<uint8_t>(begins_with(value, "on"));
    if ((value = find_value(text, "diagnostics=")))
        rescue_enable = begins_with(value, "rescue");
}
