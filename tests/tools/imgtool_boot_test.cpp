// A flash image made by imgtool, booted by the launcher on the simulated board.
#include <gtest/gtest.h>

#include "launch/launch.h"
#include "tests/support/imgtool_support.h"
#include "tests/support/launch_support.h"

namespace {

TEST(ImgtoolFlashImage, BootsItsSlotWithItsOptions)
{
    TempDir dir;
    ASSERT_EQ(imgtool({"pack", "--type", "application", dir.write("archive", "the archive"), "-o",
                       dir.path("record")})
                  .status,
              0);
    ASSERT_EQ(
        imgtool({"flash", "-o", dir.path("flash.img"), "--slot2", dir.path("record"), "--env", "bootdelay=3",
                 "--env", "gdbserver=on", "--env", "gdbserver_ip=10.1.2.3", "--env", "gdbport=2345"})
            .status,
        0);
    const std::string image = dir.read("flash.img");
    sim::Board board;
    board.flash.load(0, std::vector<uint8_t>(image.begin(), image.end()));
    board.i2c.eeprom()[1] = 2;
    unpack_compatible_image(board);

    sim::Run r = board.run([] { return launcher_main(0, nullptr); });

    EXPECT_EQ(r.steps(kConsoleAndCommands),
              (Lines{"out:Booting image '2'\n"} + kUnpackAndDecompress +
               Lines{"sh:/bin/gdbserver 10.1.2.3:2345 /tmp/home/bin/mp.elf.strip\n", "sh:reboot", "exit:0"}));
    EXPECT_EQ(board.read_file("/tmp/zarelimage.tar.gz"), "the archive");
}

}  // namespace
