// The emulated I2C bus with the VPD EEPROM at 0x54, and the CPLD register file that gates it.
#include <cerrno>
#include <cstdio>
#include <string>

#include "sim/emulated_system.h"

namespace sim {

namespace {

bool gate_open() { return (state().cpld[I2c::kCpldGateRegister] & I2c::kCpldGateBit) != 0; }

}  // namespace

// A write the EEPROM has stored; the power may go off right after it.
void eeprom_write_stored()
{
    uint32_t n = ++state().eeprom_writes;
    if (n != board().i2c.power_cut_after_write)
        return;
    record(Event::Kind::PowerCut, "");
    finish(End::PowerCut, 0);
}

// One transfer with the EEPROM; false with errno set when it does not take place.
bool eeprom_answers(const Handle& bus)
{
    I2c& i2c = board().i2c;
    uint32_t n = ++state().i2c_transfers;
    if (i2c.fail_transfer_nth == n)
        return fail(EIO), false;
    if (bus.slave != I2c::kEepromAddress || i2c.eeprom_missing)
        return fail(ENXIO), false;
    if (!gate_open()) {
        ++state().gate_refusals;
        return fail(ENXIO), false;
    }
    return true;
}

void record_formatted(Event::Kind kind, const char* format, int a, int b)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    record(kind, text);
}

ssize_t bus_write(Handle& bus, const void* buf, size_t count)
{
    if (!eeprom_answers(bus))
        return -1;
    const auto* bytes = static_cast<const uint8_t*>(buf);
    std::string text = "0x54 write";
    for (size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02x", bytes[i]);
        text += byte;
    }
    record(Event::Kind::I2c, text);
    // The EEPROM takes one address byte, then stores the rest from there on.
    if (count > 0)
        bus.position = bytes[0];
    for (size_t i = 1; i < count; ++i)
        state().eeprom[(bus.position++) & 0xFF] = bytes[i];
    if (count > 1)
        eeprom_write_stored();
    return static_cast<ssize_t>(count);
}

ssize_t bus_read(Handle& bus, void* buf, size_t count)
{
    if (!eeprom_answers(bus))
        return -1;
    auto* bytes = static_cast<uint8_t*>(buf);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = state().eeprom[(bus.position++) & 0xFF];
    record(Event::Kind::I2c, "0x54 read " + std::to_string(count));
    return static_cast<ssize_t>(count);
}

ssize_t cpld_transfer(Handle& h, void* buf, size_t count, bool writing)
{
    I2c& i2c = board().i2c;
    if (writing ? i2c.cpld_write_fails : i2c.cpld_read_fails)
        return fail(EIO);
    if (count == 0)
        return 0;
    if (h.position < 0 || h.position >= 256)
        return 0;
    uint8_t& reg = state().cpld[h.position];
    if (writing) {
        reg = *static_cast<const uint8_t*>(buf);
        record_formatted(Event::Kind::Cpld, "%d=%02x", static_cast<int>(h.position), reg);
    } else {
        *static_cast<uint8_t*>(buf) = reg;
    }
    ++h.position;
    return 1;
}

}  // namespace sim
