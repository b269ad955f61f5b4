// XMODEM's control bytes as the tests write them on the wire, independently of the code under test.
#pragma once

#include <cstdint>

inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCan = 0x18;
inline constexpr uint8_t kStart = 0x43;  // 'C'
