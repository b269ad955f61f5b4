// Operations and constants shared by the files of module i2c; nothing outside the module uses them.
#pragma once

#include <cstdint>

// Only bus 0 is wired on this board.
constexpr int I2C_BUS_COUNT = 1;

// CPLD register whose bit CPLD_SMS_ACCESS routes the VPD EEPROM to this processor.
constexpr unsigned CPLD_SMS_REG = 20;
constexpr uint8_t CPLD_SMS_ACCESS = 0x04;

constexpr unsigned VPD_EEPROM_ADDR = 0x54;
// EEPROM offset of the byte naming the image slot to boot.
constexpr uint16_t VPD_SLOT_OFFSET = 1;

// The open descriptor of the bus, or -1 when there is none: a bus outside the table, never
// opened, failed to open or closed again.  It may be 0: a launcher started without standard
// input gets 0 for the first device it opens.
int i2c_bus_fd(int bus);

// Sets (on nonzero) or clears the EEPROM access gate: 0, or -1 after printing what failed.
int set_sms_access(int on);

// One EEPROM byte at offset & 0xFF into *out (0xFF when the read failed); length is not used.
// 0, or the negative result of selecting the EEPROM.
int get_vpd_offset(uint16_t offset, int length, uint8_t* out);

// Writes one EEPROM byte at offset & 0xFF: the SMBus write result, negative on failure.
int set_vpd_offset(uint16_t offset, uint8_t value);

// Reads length bytes from device (8-bit address form) on bus after writing the offset in
// offset_width bytes (0, 1 or 2; high byte first).  The count read, or 0 after any failure.
int i2c_read(int bus, int device, uint16_t offset, int length, int offset_width, uint8_t* buffer);
