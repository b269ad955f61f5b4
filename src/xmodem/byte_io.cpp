#include "platform/os.h"
#include "xmodem/xmodem.h"
#include "xmodem/xmodem_internal.h"

int putByte(uint8_t byte, int port) { return static_cast<int>(os::write(port, &byte, 1)); }

int getByte(uint32_t seconds, uint8_t* byte, int port)
{
    for (uint32_t attempt = 0; attempt < seconds * 1000; ++attempt) {
        uint8_t received = 0;
        if (os::read(port, &received, 1) == 1) {
            *byte = received;
            return 1;
        }
        os::usleep(1000);
    }
    return -1;
}

void flushRX(int port)
{
    uint8_t discarded = 0;
    for (uint32_t count = 0; count < LINE_BYTES_PER_SECOND; ++count)
        if (os::read(port, &discarded, 1) != 1)
            return;
}

void drain(uint32_t seconds, int port)
{
    flushRX(port);
    uint8_t discarded = 0;
    for (uint32_t count = 0; count < seconds * LINE_BYTES_PER_SECOND; ++count)
        if (getByte(seconds, &discarded, port) < 0)
            return;
}

uint32_t readData(uint8_t* dest, uint32_t wanted, uint16_t* crc, int port)
{
    uint16_t sum = 0;
    uint32_t stored = 0;
    // A pause of up to a second inside the data is bridged by the next pass; a pass that gets
    // nothing ends the block.
    while (stored < wanted) {
        uint32_t pass_start = stored;
        while (stored < wanted && getByte(1, &dest[stored], port) == 1)
            ++stored;
        if (stored == pass_start)
            break;
        for (uint32_t i = pass_start; i < stored; ++i)
            sum = static_cast<uint16_t>((sum << 8) ^ crctab[(sum >> 8) ^ dest[i]]);
    }
    *crc = sum;
    return stored;
}
