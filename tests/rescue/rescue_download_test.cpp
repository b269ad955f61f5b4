// Rescue downloads from the menu to the flash: the receiver on the serial port, the installer, and
// the menu coming back, up to a whole boot that installs and starts a downloaded application.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/flash.h"
#include "i2c/i2c.h"
#include "launch/launch.h"
#include "rescue/rescue.h"
#include "sim/board.h"
#include "tests/support/console_texts.h"
#include "tests/support/launch_support.h"
#include "tests/support/sender.h"

namespace {

using Kind = sim::Event::Kind;

const std::string& kEntry = kRescueEntry;
const std::string& kMenu = kRescueMenu;
const std::string& kPrompt = kRescuePrompt;
const std::string kDownload = kRescueDownload + kSwitchTo115200 + kSwitchBackTo9600;

// The file in 1024-byte blocks, the last one filled up with 0x1A as a sender does.
std::shared_ptr<sim::ReactivePeer> sender_of(const std::vector<uint8_t>& file)
{
    std::vector<Bytes> blocks;
    for (size_t at = 0; at < file.size(); at += 1024) {
        Bytes block(file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(std::min(file.size(), at + 1024)));
        block.resize(1024, 0x1A);
        blocks.push_back(block);
    }
    auto peer = operator_ready();
    send_frames(*peer, frames_from_one(blocks));
    end_of_file(*peer, blocks.empty() ? kStart : kAck);
    return peer;
}

sim::Run rescue(sim::Board& board)
{
    return board.run([] {
        sig_init();
        api_i2c_init();
        api_flash_init();
        return run_rescue_mode();
    });
}

TEST(RescueDownload, InstallsTheReceivedRecordsAndShowsTheMenuAgain)
{
    const std::vector<uint8_t> kernel = record_bytes(kMagicKernel, std::string(3000, 'k'));
    sim::Board board;
    board.serial.peer = sender_of(kernel);
    board.console.keys("xe");

    sim::Run r = rescue(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kEntry + kMenu + kPrompt + "\n" + kDownload + kExtracting + "**** KERNEL ****\n.\n" +
                         kMenu + kPrompt + "\n");
    EXPECT_EQ(board.flash.bytes(0x01E00000, static_cast<uint32_t>(kernel.size())), kernel);
    EXPECT_EQ(board.read_file("/tmp/image")->size(), 3072u);
}

TEST(RescueDownload, NothingReceivedSkipsTheInstaller)
{
    sim::Board board;
    board.serial.peer = sender_of({});
    board.console.keys("Xe");

    sim::Run r = rescue(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kEntry + kMenu + kPrompt + "\n" + kDownload + kMenu + kPrompt + "\n");
    EXPECT_EQ(board.flash.counters().writes, 0u);
}

// The operator's Ctrl-C while the board waits for a sender must not swallow the first key typed at
// the next prompt.
TEST(RescueDownload, AnInterruptDuringTheDownloadIsForgottenAfterIt)
{
    sim::Board board;
    board.serial.peer = sender_of({});
    board.console.interrupt_at_us = 2000000;
    board.console.keys("xqe");

    sim::Run r = rescue(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kEntry + kMenu + kPrompt + "\n" + kDownload + kMenu + kPrompt +
                         "unknown option \"Q\". Please try again\n" + kPrompt + "\n");
}

// The boot option brings up the menu before the boot; the application downloaded into slot 2
// selects that slot, and the boot that follows starts it.  The kernel refuses a read on a
// write-only descriptor and a write on a read-only one, and only O_SYNC makes a flash write final
// when it returns: on the whole road each device is opened with the flags its use needs.
TEST(RescueDownload, ABootInstallsADownloadedApplicationAndStartsIt)
{
    using ::testing::Each;
    using ::testing::Eq;
    using ::testing::HasSubstr;
    using ::testing::Not;
    const std::vector<uint8_t> application = record_bytes(kMagicApplication, "downloaded archive");
    sim::Board board;
    load_env(board, {"diagnostics=rescue"});
    board.serial.peer = sender_of(application);
    board.console.keys("x2\ne");
    unpack_compatible_image(board);

    sim::Run r = board.run([] { return launcher_main(0, nullptr); });

    EXPECT_EQ(board.flash.bytes(0x00800000, static_cast<uint32_t>(application.size())), application);
    EXPECT_EQ(board.i2c.eeprom()[1], 2);
    EXPECT_NE(r.out.find("Image2 updated succeeded\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Booting image '2'\n"), std::string::npos) << r.out;
    EXPECT_EQ(board.read_file("/tmp/zarelimage.tar.gz"), "downloaded archive");
    ASSERT_EQ(r.end, sim::End::Exec);
    EXPECT_EQ(r.exec_path, "/bin/backtrace");
    const std::pair<const char*, int> kFlags[] = {
        {"/dev/mtd0", O_RDWR | O_SYNC},
        {"/dev/i2c-0", O_RDWR},
        {"/dev/tavik/cpld_mmmap", O_RDWR},
        {"/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK},
        {"/tmp/zarelimage.tar.gz", O_WRONLY | O_CREAT | O_TRUNC},
    };
    for (const auto& [path, flags] : kFlags) {
        EXPECT_FALSE(r.open_flags(path).empty()) << path;
        EXPECT_THAT(r.open_flags(path), Each(Eq(flags))) << path;
    }
    EXPECT_EQ(r.open_flags("/tmp/image"), (std::vector<int>{O_WRONLY | O_CREAT | O_TRUNC, O_RDONLY}));
    EXPECT_THAT(r.steps({sim::Event::Kind::Close}), Each(Not(HasSubstr("close:fd "))));
}

}  // namespace
