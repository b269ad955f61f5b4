// The operator's answer to an application record: install into a slot, boot at once, or no answer.
#include <gtest/gtest.h>

#include "launch/launch.h"
#include "platform/os.h"
#include "tests/support/bytes.h"
#include "tests/support/console_texts.h"
#include "tests/support/installer_support.h"

namespace {

using Kind = sim::Event::Kind;

const std::string kApplicationPrompt = "**** APPLICATION ****\n" + kSlotPrompt;

struct SlotCase {
    const char* name;
    const char* keys;
    uint32_t base;
    uint32_t other_base;
    uint8_t slot_byte;
};

const SlotCase kSlotAnswers[] = {
    {"One", "1\n", 0x00000000, 0x00800000, 1},
    {"OneThenMore", "12\n", 0x00000000, 0x00800000, 1},
    {"TwoWithoutLineEnd", "2", 0x00800000, 0x00000000, 2},
};

void PrintTo(const SlotCase& c, std::ostream* os) { *os << c.name; }

class SlotAnswer : public testing::TestWithParam<SlotCase> {};

// Only the first character of the line counts.
TEST_P(SlotAnswer, InstallsIntoThatSlotAndSelectsIt)
{
    const SlotCase& c = GetParam();
    const std::vector<uint8_t> record = record_bytes(kMagicApplication, "application");
    sim::Board board;
    put_download(board, {record});
    board.console.keys(c.keys);

    sim::Run r = install(board);

    const char slot = static_cast<char>('0' + c.slot_byte);
    EXPECT_EQ(r.value, 1);
    // The prompt is on the console before the answer is read, each dot as its sector is written.
    EXPECT_EQ(r.steps({Kind::Out, Kind::Key}),
              (Lines{"out:" + kExtracting + kApplicationPrompt, "key:" + std::string(c.keys),
                     "out:\nInstalling image as image" + std::string(1, slot) + "...\n.\nImage" + slot +
                         " updated succeeded\n"}));
    EXPECT_EQ(flash_text(board, c.base, record.size()), as_text(record));
    EXPECT_TRUE(erased(board, c.other_base, 0x20000));
    EXPECT_EQ(board.i2c.eeprom()[1], c.slot_byte);
    // What the kernel still caches of the slot is written out before the slot byte names it.
    const std::vector<std::string> sync_then_select = {"sync",
                                                       "i2c:0x54 write [01] = 0" + std::string(1, slot)};
    EXPECT_EQ(r.steps({Kind::Sync, Kind::I2c}), sync_then_select);
}

INSTANTIATE_TEST_SUITE_P(Answers, SlotAnswer, testing::ValuesIn(kSlotAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

struct SlotByteFailureCase {
    const char* name;
    void (*setup)(sim::Board&);
    std::string shown;  // after the success line of the slot, which was written whole
};

const SlotByteFailureCase kSlotByteFailures[] = {
    {"EepromTransferFails", [](sim::Board& b) { b.i2c.fail_transfer_nth = 1; },
     "I2C error when writing bus 0 offset 1: 5\n"},
    {"NoEeprom", [](sim::Board& b) { b.i2c.eeprom_missing = true; },
     "I2C error when writing bus 0 offset 1: 6\n"},
    {"NoCpld", [](sim::Board& b) { b.i2c.cpld_missing = true; },
     "CPLD driver could not be opened\nCPLD driver could not be opened\nI2C error when writing bus 0 offset 1: 6\n"},
    {"CpldWriteFails", [](sim::Board& b) { b.i2c.cpld_write_fails = true; },
     "CPLD write error\nCPLD write error\nI2C error when writing bus 0 offset 1: 6\n"},
    {"NoBus", [](sim::Board& b) { b.i2c.bus_missing = true; }, "I2C error when writing bus 0 offset 1: 9\n"},
};

void PrintTo(const SlotByteFailureCase& c, std::ostream* os) { *os << c.name; }

class SlotByteFailure : public testing::TestWithParam<SlotByteFailureCase> {};

const std::string kNotSelected = "Image2 written but not selected: the slot byte could not be stored\n";

// The slot was written, but the board would go on booting the other one: the operator must learn
// that the install did not take, while the records after it are installed all the same.
TEST_P(SlotByteFailure, SaysSoInstallsTheRestAndFailsTheInstall)
{
    const std::vector<uint8_t> record = record_bytes(kMagicApplication, "application");
    const std::vector<uint8_t> kernel = record_bytes(kMagicKernel, "kernel " + pattern_text(2000));
    sim::Board board;
    put_download(board, {record, kernel});
    board.console.keys("2\n");
    board.i2c.eeprom()[1] = 0x01;
    GetParam().setup(board);

    sim::Run r = install(board);

    const std::string init_failure =
        board.i2c.bus_missing ? "ERROR: driver /dev/i2c-0 couldn't be opened\n" : "";
    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, init_failure + kExtracting + kApplicationPrompt +
                         "\nInstalling image as image2...\n.\nImage2 updated succeeded\n" + GetParam().shown +
                         kNotSelected + "**** KERNEL ****\n.\n");
    EXPECT_EQ(flash_text(board, 0x00800000, record.size()), as_text(record));
    EXPECT_EQ(flash_text(board, 0x01E00000, kernel.size()), as_text(kernel));
    EXPECT_EQ(board.i2c.eeprom()[1], 0x01);
}

INSTANTIATE_TEST_SUITE_P(Devices, SlotByteFailure, testing::ValuesIn(kSlotByteFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A later application booted at once still starts after a slot left unselected.
TEST(UnselectedSlot, ALaterApplicationBootedAtOnceStillStarts)
{
    sim::Board board;
    put_download(board, {record_bytes(kMagicApplication, "first application"),
                         record_bytes(kMagicApplication, "second application")});
    board.console.keys("2\n\n");
    board.i2c.fail_transfer_nth = 1;
    unpack_compatible_image(board);

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Exec);
    EXPECT_EQ(r.steps(kConsoleAndCommands).front(),
              "out:" + kExtracting + kApplicationPrompt +
                  "\nInstalling image as image2...\n.\nImage2 updated succeeded\n"
                  "I2C error when writing bus 0 offset 1: 5\n" +
                  kNotSelected + kApplicationPrompt + "Booting downloaded image\nImage ready to boot...\n");
    EXPECT_EQ(board.read_file("/tmp/zarelimage.tar.gz"), "second application");
}

// Test name, keys typed.
using NamedKeys = std::pair<const char*, const char*>;

class BootAnswer : public testing::TestWithParam<NamedKeys> {};

// The records behind a booted application are never looked at.
TEST_P(BootAnswer, UnpacksThePayloadAndLaunchesItWithoutTouchingFlash)
{
    sim::Board board;
    put_download(
        board, {record_bytes(kMagicApplication, "application"), record_bytes(kMagicBootCode, "boot loader")});
    board.console.keys(GetParam().second);
    board.i2c.eeprom()[1] = 1;
    unpack_compatible_image(board);

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Exec);
    EXPECT_EQ(r.steps(kConsoleAndCommands), Lines{"out:" + kExtracting + kApplicationPrompt +
                                                  "Booting downloaded image\nImage ready to boot...\n"} +
                                                kUnpackAndDecompress + Lines{"exec:/bin/backtrace"});
    // Archive and download are closed before the launch begins.
    EXPECT_EQ(
        r.steps({Kind::Open, Kind::Close, Kind::Shell}),
        (Lines{"open:/dev/i2c-0", "open:/dev/mtd0", "open:/tmp/image", "open:/tmp/zarelimage.tar.gz",
               "close:/tmp/zarelimage.tar.gz", "close:/tmp/image", "sh:" + kUnpackLine, "close:/dev/i2c-0"} +
         kDecompressCommands));
    EXPECT_EQ(board.read_file("/tmp/zarelimage.tar.gz"), "application");
    EXPECT_EQ(board.flash.counters().erases, 0u);
    EXPECT_EQ(board.flash.counters().writes, 0u);
    EXPECT_EQ(board.i2c.eeprom()[1], 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, BootAnswer,
                         testing::Values(NamedKeys{"Three", "3\n"}, NamedKeys{"Letter", "x\n"},
                                         NamedKeys{"EmptyLine", "\n"}, NamedKeys{"CarriageReturn", "\r\n"}),
                         [](const auto& info) { return std::string(info.param.first); });

struct ArchiveFailureCase {
    const char* name;
    void (*setup)(sim::Board&);
    const char* shown;
};

const ArchiveFailureCase kArchiveFailures[] = {
    {"CannotBeCreated", [](sim::Board& b) { b.files.open_fails = {"/tmp/zarelimage.tar.gz"}; },
     "Image unpack failed (err 13)\n"},
    {"TmpFull", [](sim::Board& b) { b.files.tmp_room = 0; }, "Image unpack failed (err 28)\n"},
    // The file system may report a write it could not complete only when the file is closed.
    {"CloseFails", [](sim::Board& b) { b.files.close_fails = {"/tmp/zarelimage.tar.gz"}; },
     "Image unpack failed (err 5)\n"},
};

void PrintTo(const ArchiveFailureCase& c, std::ostream* os) { *os << c.name; }

class ArchiveFailure : public testing::TestWithParam<ArchiveFailureCase> {};

TEST_P(ArchiveFailure, StopsTheWalkWithTheErrorNumber)
{
    sim::Board board;
    put_download(
        board, {record_bytes(kMagicApplication, "application"), record_bytes(kMagicBootCode, "boot loader")});
    board.console.keys("\n");
    GetParam().setup(board);

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, kExtracting + kApplicationPrompt + "Booting downloaded image\n" + GetParam().shown);
    EXPECT_EQ(r.commands, Lines{});
    EXPECT_EQ(board.flash.counters().writes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Archive, ArchiveFailure, testing::ValuesIn(kArchiveFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// The run brings up the interrupt handler as start-up does, so that an interrupt ends a read.
sim::Run install_with_interrupts(sim::Board& board)
{
    return board.run([] {
        sig_init();
        api_i2c_init();
        api_flash_init();
        return processTavikImage("/tmp/image");
    });
}

class NoAnswer : public testing::TestWithParam<bool> {};

// Nothing is done with the record; the walk goes on with the next one.
TEST_P(NoAnswer, SkipsTheRecord)
{
    const bool interrupted = GetParam();
    const std::vector<uint8_t> boot = record_bytes(kMagicBootCode, "boot loader");
    sim::Board board;
    put_download(board, {record_bytes(kMagicApplication, "application"), boot});
    if (interrupted)
        board.console.interrupt().keys("2\n");

    sim::Run r = install_with_interrupts(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kExtracting + kApplicationPrompt + "**** BOOT CODE ****\n.\n");
    EXPECT_EQ(flash_text(board, 0x03F00000, boot.size()), as_text(boot));
    EXPECT_TRUE(erased(board, 0x00000000, 0x20000));
    EXPECT_TRUE(erased(board, 0x00800000, 0x20000));
    EXPECT_EQ(board.i2c.eeprom()[1], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Console, NoAnswer, testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "Interrupted" : "EndOfInput");
});

// Had the tail of the first line been left, its '1' would have installed the second record.
TEST(LongAnswer, DropsTheRestOfItsLine)
{
    const std::vector<uint8_t> first = record_bytes(kMagicApplication, "first application");
    sim::Board board;
    put_download(board, {first, record_bytes(kMagicApplication, "second application")});
    board.console.keys("2" + std::string(30, 'x') + "1\n");

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kExtracting + kApplicationPrompt +
                         "\nInstalling image as image2...\n.\nImage2 updated succeeded\n" +
                         kApplicationPrompt);
    EXPECT_EQ(flash_text(board, 0x00800000, first.size()), as_text(first));
    EXPECT_TRUE(erased(board, 0x00000000, 0x20000));
    EXPECT_EQ(board.i2c.eeprom()[1], 2);
}

TEST(LongAnswer, KeysTypedAfterTheLineStayForTheMenu)
{
    sim::Board board;
    put_download(board, {record_bytes(kMagicApplication, "application")});
    board.console.keys("2\nE");

    sim::Run r = board.run([] {
        api_i2c_init();
        api_flash_init();
        if (processTavikImage("/tmp/image") != 1)
            return -1;
        char key = 0;
        return os::read(0, &key, 1) == 1 ? int{key} : -2;
    });

    EXPECT_EQ(r.value, 'E');
    EXPECT_EQ(board.i2c.eeprom()[1], 2);
}

}  // namespace
