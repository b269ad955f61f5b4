// A run's peak resident set as the kernel reports it for the child.  Host only: under a user-mode
// emulator the figure is the emulator's own.
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>

#include "platform/os.h"
#include "sim/board.h"

namespace {

int open_flash() { return os::open("/dev/mtd0", O_RDWR | O_SYNC); }

// The peak resident set of a run shows the program's own memory, not how much of the emulated flash
// it went through: the flash is the device's memory.
TEST(SimBoard, ARunReportsItsPeakResidentSetWithoutTheFlashItTouched)
{
    sim::Board board;
    const long empty = board.run([] { return 0; }).max_resident_kib;
    sim::Run holds_16_mib = board.run([] {
        std::unique_ptr<uint8_t[]> memory(new uint8_t[16u << 20]);
        std::memset(memory.get(), 0x5A, 16u << 20);
        return memory[12345];
    });
    EXPECT_GE(holds_16_mib.max_resident_kib, empty + 15 * 1024);

    sim::Run reads_32_mib = board.run([] {
        static uint8_t chunk[1u << 20];
        int fd = open_flash();
        int differing = 0;
        for (off_t at = 0; at < (32 << 20); at += sizeof chunk) {
            os::pread(fd, chunk, sizeof chunk, at);
            differing += chunk[0] != 0xFF || chunk[sizeof chunk - 1] != 0xFF;
        }
        return differing;
    });
    EXPECT_EQ(reads_32_mib.value, 0);
    EXPECT_LT(reads_32_mib.max_resident_kib, empty + 8 * 1024);
}

}  // namespace
