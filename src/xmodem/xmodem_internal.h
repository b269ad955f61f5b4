// The byte primitives on the serial port, shared by the files of module xmodem.
#pragma once

#include <cstdint>

// Bytes the 115200 bit/s line carries in a second (8N1: ten bits a byte).  The waits that take
// bytes as they come read at most this many per second of their length, so that a line that never
// falls silent cannot hold the receiver for ever.
constexpr uint32_t LINE_BYTES_PER_SECOND = 11520;

// Writes one byte to the port; what the write returned.
int putByte(uint8_t byte, int port);
// Waits up to seconds for one byte, polling every millisecond: 1 with the byte stored, or -1 with
// byte unchanged.
int getByte(uint32_t seconds, uint8_t* byte, int port);
// Discards the bytes already waiting on the port.
void flushRX(int port);
// Discards bytes until the line has been silent for seconds.
void drain(uint32_t seconds, int port);
// Reads up to wanted data bytes into dest, giving up once a whole second passes without one; stores
// the CRC-16 of the bytes read in crc and gives their count.
uint32_t readData(uint8_t* dest, uint32_t wanted, uint16_t* crc, int port);
