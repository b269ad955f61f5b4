// The XMODEM-1K receiver (CRC-16 mode) on the serial port "/dev/ttyS0".
#pragma once

#include <cstdint>

// Receives one file into path: the count of data bytes accepted after a completed transfer (0 when
// the sender ended at once), 0 after an aborted one (the sender is told with five CANs; a file that
// cannot take a block aborts too), -1 when the port or the file cannot be opened.
int32_t Xmodem1K(const char* path);

// Opens the port, switches it to raw 8N1 at 115200 bit/s and waits for the operator's carriage
// return; the descriptor, or -1 when the port cannot be opened.
int init_serial();
// Puts back the port's settings as init_serial found them, if it could read them, and waits for the
// operator's Enter (carriage return or line feed); does not close the port.
void reset_serial(int fd);

// CRC-16 of each single byte for the polynomial 0x1021, most significant bit first.
extern const uint16_t crctab[256];
