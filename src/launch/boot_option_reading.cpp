#include "launch/boot_option_reading.h"

#include <cstdio>
#include <cstring>

const char* const BOOT_OPTION_KEYS[BOOT_OPTION_COUNT] = {
    "gdb=", "gdbserver=", "gdbserver_ip=", "gdbport=", "shell=", "memchk=", "diagnostics=",
};

namespace {

uint32_t begins_with(const char* value, const char* prefix)
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

bool scan_number(const char* value, uint32_t* number)
{
    int read;
    if (sscanf(value, "%d", &read) != 1)
        return false;
    *number = static_cast<uint32_t>(read);
    return true;
}

bool take_value(BootOptionKey key, const char* value, uint32_t* taken)
{
    switch (key) {
    case BOOT_GDBSERVER_IP:
        return scan_address(value, taken);
    case BOOT_GDBPORT:
        return scan_number(value, taken);
    case BOOT_DIAGNOSTICS:
        *taken = begins_with(value, "rescue");
        return true;
    default:
        *taken = begins_with(value, "on");
        return true;
    }
}

}  // namespace

BootOptionReading read_boot_options(const uint8_t (&block)[ENV_TEXT_SIZE])
{
    // The block as one text: variables separated by spaces instead of NULs.
    char text[ENV_TEXT_SIZE + 1];
    for (uint32_t i = 0; i < ENV_TEXT_SIZE; i++)
        text[i] = block[i] == '\0' ? ' ' : static_cast<char>(block[i]);
    text[ENV_TEXT_SIZE] = '\0';

    BootOptionReading reading;
    for (int key = 0; key < BOOT_OPTION_COUNT; key++) {
        // The search is not anchored at the start of a variable: a name that ends in a key, or a
        // value that holds one, counts as that key when it comes first.
        const char* at = strstr(text, BOOT_OPTION_KEYS[key]);
        if (at == nullptr)
            continue;
        BootOptionFound& option = reading.options[key];
        option.found = true;
        option.key_offset = static_cast<uint32_t>(at - text);
        option.variable_offset = option.key_offset;
        while (option.variable_offset > 0 && block[option.variable_offset - 1] != '\0')
            option.variable_offset--;
        option.taken =
            take_value(static_cast<BootOptionKey>(key), at + strlen(BOOT_OPTION_KEYS[key]), &option.value);
    }
    return reading;
}
