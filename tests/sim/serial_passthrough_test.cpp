// The serial port passed through to a real pty, as interop tests with real programs use it.
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/os.h"
#include "sim/board.h"

namespace {

TEST(SerialPassthrough, CarriesBytesBothWaysThroughARealPty)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    // Raw before the first byte arrives, so the line discipline neither echoes nor edits it.
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    sim::Board board;
    board.serial.passthrough_path = ptsname(master);
    ASSERT_EQ(write(master, "\x01", 1), 1);

    sim::Run r = board.run([] {
        int port = os::open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        uint8_t byte = 0;
        for (int polls = 0; polls < 1000 && os::read(port, &byte, 1) != 1; ++polls)
            os::usleep(1000);
        os::write(port, "C", 1);
        return byte;
    });

    EXPECT_EQ(r.value, 1);
    char answer = 0;
    EXPECT_EQ(read(master, &answer, 1), 1);
    EXPECT_EQ(answer, 'C');
    close(slave);
    close(master);
}

}  // namespace
