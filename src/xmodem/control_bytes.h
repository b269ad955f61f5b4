// XMODEM's control bytes on the wire, as the board's receiver and the host's sender speak them.
#pragma once

#include <cstdint>

constexpr uint8_t SOH = 0x01;      // a 128-byte block follows
constexpr uint8_t STX = 0x02;      // a 1024-byte block follows
constexpr uint8_t EOT = 0x04;      // end of the file
constexpr uint8_t ACK = 0x06;      // block or end accepted
constexpr uint8_t NAK = 0x15;      // send again
constexpr uint8_t CAN = 0x18;      // giving up
constexpr uint8_t CRC_MODE = 'C';  // start, or start again, with CRC-16
