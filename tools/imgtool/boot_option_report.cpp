#include "imgtool/boot_option_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/env_block.h"
#include "launch/boot_option_reading.h"

namespace {

constexpr size_t VARIABLE_SHOWN = 40;

// A flash address of a byte of the data area, which follows the block's CRC word.
std::string address(uint32_t data_offset) { return hex_offset(FLASH_ENV_BASE + 4 + data_offset); }

// The NUL-ended string that starts at offset, as text a reader can take in: bytes that are not
// printable escaped, a long one cut.
std::string variable_at(const uint8_t* data, uint32_t offset)
{
    std::string text;
    for (uint32_t i = offset; i < ENV_DATA_SIZE && data[i] != 0; i++) {
        if (text.size() >= VARIABLE_SHOWN)
            return '"' + text + "...\"";
        char escaped[5];
        if (data[i] >= 0x20 && data[i] < 0x7F)
            text += static_cast<char>(data[i]);
        else if (snprintf(escaped, sizeof escaped, "\\x%02x", data[i]) > 0)
            text += escaped;
    }
    return '"' + text + '"';
}

std::string value_text(BootOptionKey key, uint32_t value)
{
    char text[16];
    switch (key) {
    case BOOT_GDBSERVER_IP:
        snprintf(text, sizeof text, "%u.%u.%u.%u", value >> 24, (value >> 16) & 0xFF, (value >> 8) & 0xFF,
                 value & 0xFF);
        return text;
    case BOOT_GDBPORT:
        return std::to_string(static_cast<int>(value));
    case BOOT_DIAGNOSTICS:
        return value ? "rescue" : "off";
    default:
        return value ? "on" : "off";
    }
}

// Where the variable list ends: the offset of its closing empty string, or the whole data area when
// it has none.
uint32_t list_end(const uint8_t* data)
{
    for (uint32_t at = 0; at < ENV_DATA_SIZE; at++) {
        if (data[at] == 0 && (at == 0 || data[at - 1] == 0))
            return at;
    }
    return ENV_DATA_SIZE;
}

std::vector<uint32_t> occurrences(const uint8_t* data, uint32_t end, const char* key)
{
    std::vector<uint32_t> found;
    const size_t length = strlen(key);
    for (uint32_t at = 0; at + length <= end; at++) {
        if (memcmp(data + at, key, length) == 0)
            found.push_back(at);
    }
    return found;
}

class Report {
public:
    Report(const uint8_t* data, std::ostream& out) : data_(data), out_(out) {}

    void warn(const std::string& text)
    {
        out_ << "warning: " << text << '\n';
        warned_ = true;
    }
    bool warned() const { return warned_; }

    void option_line(BootOptionKey key, uint32_t value, const BootOptionFound& found, const std::string& note)
    {
        std::string name = BOOT_OPTION_KEYS[key];
        name.pop_back();
        std::string where =
            found.found ? address(found.key_offset) + " in " + variable_at(data_, found.variable_offset)
                        : "not set";
        out_ << pad(name, 14) << pad(value_text(key, value) + ' ', 16) << where << note << '\n';
    }

    // The traps around the key the launcher takes, and the other places the key stands.
    void check_key(BootOptionKey key, const BootOptionFound& found, uint32_t list_end)
    {
        const std::string name = BOOT_OPTION_KEYS[key];
        if (found.found)
            check_taken_place(key, found, list_end);
        // Past the 512 bytes only the list itself matters: leftovers there are read by no one.
        for (uint32_t at : occurrences(data_, std::max(list_end, ENV_TEXT_SIZE), name.c_str())) {
            if (at + name.size() > ENV_TEXT_SIZE)
                warn(name + " at " + address(at) +
                     " lies past the 512 bytes the launcher reads: it is not seen");
            else if (at != found.key_offset)
                warn(name + " at " + address(at) + " comes after the one at " + address(found.key_offset) +
                     ": its value is ignored");
        }
        if (found.found && found.key_offset >= list_end && found.key_offset + name.size() <= ENV_TEXT_SIZE)
            warn(name + " at " + address(found.key_offset) +
                 " lies after the end of the variable list: the launcher reads it all the same");
    }

private:
    void check_taken_place(BootOptionKey key, const BootOptionFound& found, uint32_t list_end)
    {
        const std::string name = BOOT_OPTION_KEYS[key];
        const std::string place = name + " at " + address(found.key_offset);
        if (found.key_offset != found.variable_offset)
            warn(place + " stands inside the variable " + variable_at(data_, found.variable_offset) +
                 ": the launcher takes it for its option");
        if (key != BOOT_GDBPORT && key != BOOT_GDBSERVER_IP)
            return;
        const uint32_t value_at = found.key_offset + static_cast<uint32_t>(name.size());
        if (!found.taken)
            warn(place + " has no number the launcher can read: its value is ignored");
        else if (value_at < list_end && data_[value_at] == 0)
            warn(place + " is empty: the launcher reads " + value_text(key, found.value) +
                 " from the next variable " + variable_at(data_, value_at + 1));
    }

    const uint8_t* data_;
    std::ostream& out_;
    bool warned_ = false;
};

}  // namespace

bool report_boot_options(const uint8_t* block, std::ostream& out)
{
    const uint8_t* data = block + 4;
    uint8_t text[ENV_TEXT_SIZE];
    std::copy(data, data + ENV_TEXT_SIZE, text);
    const BootOptionReading reading = read_boot_options(text);
    const BootOptionFound* options = reading.options;

    // The launcher's defaults, then what it takes, as it applies them.
    uint32_t values[BOOT_OPTION_COUNT] = {};
    for (int key = 0; key < BOOT_OPTION_COUNT; key++) {
        if (options[key].taken)
            values[key] = options[key].value;
    }
    const bool forced = values[BOOT_GDBSERVER] != 0 && values[BOOT_GDB] == 0;
    if (forced)
        values[BOOT_GDB] = 1;

    Report report(data, out);
    for (int key = 0; key < BOOT_OPTION_COUNT; key++) {
        const std::string note = key == BOOT_GDB && forced ? " (on by gdbserver)" : "";
        report.option_line(static_cast<BootOptionKey>(key), values[key], options[key], note);
    }
    if (std::all_of(block, block + FLASH_ENV_SIZE, [](uint8_t b) { return b == 0xFF; })) {
        out << "the block is erased: no option is set\n";
        return false;
    }
    const uint32_t end = list_end(data);
    for (int key = 0; key < BOOT_OPTION_COUNT; key++)
        report.check_key(static_cast<BootOptionKey>(key), options[key], end);
    const uint32_t stored = get_be32(block);
    if (stored != env_data_crc(data))
        report.warn("the CRC word " + hex32(stored) + " does not match the block's data (" +
                    hex32(env_data_crc(data)) +
                    "): the boot loader rejects the block, the launcher reads it all the same");
    return report.warned();
}
