// The board's I2C bus: the VPD EEPROM behind the CPLD gate and the image slot byte in it.
#pragma once

#include <cstdint>

int api_i2c_init();
int api_i2c_close();
// The slot byte at EEPROM offset 1; 0xFF when it could not be read.
unsigned api_get_image();
int api_set_image(uint8_t slot);
int api_set_booted_image(uint8_t slot);
int api_eeprom_read(uint8_t* buffer, uint16_t offset, int length);
int api_ubootenv_read(void* buffer, uint16_t offset, int length);
