// Records of a download written into their flash areas: placement, size limits, CRC checks and
// failing flash.
#include <gtest/gtest.h>
#include <optional>

#include "tests/support/bytes.h"
#include "tests/support/console_texts.h"
#include "tests/support/installer_support.h"

namespace {

TEST(Installer, WritesEveryRecordAtItsAreaAndSelectsTheSlot)
{
    const std::vector<uint8_t> boot = record_bytes(kMagicBootCode, pattern_text(1000));
    const std::vector<uint8_t> kernel = record_bytes(kMagicKernel, "kernel " + pattern_text(2000));
    const std::vector<uint8_t> rootfs = record_bytes(kMagicRootFs, "root file system " + pattern_text(3000));
    const std::vector<uint8_t> application =
        record_bytes(kMagicApplication, "application " + pattern_text(4000));
    sim::Board board;
    put_download(board, {boot, kernel, rootfs, application});
    board.console.keys("2\n");

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kExtracting + "**** BOOT CODE ****\n.\n" + "**** KERNEL ****\n.\n" +
                         "**** ROOTFILESYSTEM ****\n.\n" + "**** APPLICATION ****\n" + kSlotPrompt +
                         "\nInstalling image as image2...\n.\nImage2 updated succeeded\n");
    EXPECT_EQ(flash_text(board, 0x03F00000, boot.size()), as_text(boot));
    EXPECT_EQ(flash_text(board, 0x01E00000, kernel.size()), as_text(kernel));
    EXPECT_EQ(flash_text(board, 0x01000000, rootfs.size()), as_text(rootfs));
    EXPECT_EQ(flash_text(board, 0x00800000, application.size()), as_text(application));
    EXPECT_TRUE(erased(board, 0x00000000, 0x20000));
    EXPECT_EQ(board.i2c.eeprom()[1], 2);
}

struct LimitCase {
    const char* name;
    uint32_t magic;
    uint32_t len;
    const char* keys;
    std::optional<uint32_t> base;  // where the record lands; nothing when it is refused
    std::string shown;             // what follows the banner of the walk
};

const std::string kToSlot2 = "**** APPLICATION ****\n" + kSlotPrompt + "\nInstalling image as image2...\n";

// The sectors written show as one dot each.
const LimitCase kLimits[] = {
    {"BootCodeAtLimit", kMagicBootCode, 0x00040000, "", 0x03F00000, "**** BOOT CODE ****\n...\n"},
    {"BootCodeOnePast", kMagicBootCode, 0x00040001, "", std::nullopt,
     "**** BOOT CODE ****\nUBOOT image is too big for flash (262145 > 262144)\n"},
    {"KernelAtLimit", kMagicKernel, 0x000FFFF0, "", 0x01E00000,
     "**** KERNEL ****\n" + std::string(8, '.') + "\n"},
    {"KernelOnePast", kMagicKernel, 0x000FFFF1, "", std::nullopt,
     "**** KERNEL ****\nKERNEL image is too big for flash (1048577 > 1048576)\n"},
    {"RootFsAtLimit", kMagicRootFs, 0x00AFFFF0, "", 0x01000000,
     "**** ROOTFILESYSTEM ****\n" + std::string(88, '.') + "\n"},
    {"RootFsOnePast", kMagicRootFs, 0x00AFFFF1, "", std::nullopt,
     "**** ROOTFILESYSTEM ****\nRFS image is too big for flash (11534337 > 11534336)\n"},
    {"ApplicationAtLimit", kMagicApplication, 0x007FFFF0, "2\n", 0x00800000,
     kToSlot2 + std::string(64, '.') + "\nImage2 updated succeeded\n"},
    {"ApplicationOnePast", kMagicApplication, 0x007FFFF1, "2\n", std::nullopt,
     kToSlot2 + "Application image is too big for flash (8388609 > 8388608)\n"},
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class SizeLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(SizeLimit, PassesAtTheLimitAndRefusesOneBytePast)
{
    const LimitCase& c = GetParam();
    const std::vector<uint8_t> record = record_bytes(c.magic, pattern_text(c.len));
    sim::Board board;
    put_download(board, {record});
    board.console.keys(c.keys);

    sim::Run r = install(board);

    EXPECT_EQ(r.out, kExtracting + c.shown);
    EXPECT_EQ(r.value, c.base ? 1 : 0);
    if (c.base)
        EXPECT_TRUE(flash_text(board, *c.base, record.size()) == as_text(record));
    else
        EXPECT_EQ(board.flash.counters().erases, 0u);
}

INSTANTIATE_TEST_SUITE_P(Areas, SizeLimit, testing::ValuesIn(kLimits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SizeLimit, ApplicationBootedAtOnceHasNone)
{
    const std::string payload = pattern_text(0x007FFFF1);
    sim::Board board;
    put_download(board, {record_bytes(kMagicApplication, payload)});
    board.console.keys("\n");
    unpack_compatible_image(board);

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Exec);
    EXPECT_EQ(r.exec_path, "/bin/backtrace");
    EXPECT_TRUE(board.read_file("/tmp/zarelimage.tar.gz") == payload);
    EXPECT_EQ(board.flash.counters().erases, 0u);
    EXPECT_EQ(board.flash.counters().writes, 0u);
}

struct CrcCase {
    const char* name;
    uint32_t magic;
    const char* payload;
    std::string shown;
};

// The CRC shown is the one computed over the record as it arrived, not the one it carries.
const CrcCase kCrcCases[] = {
    {"BootCode", kMagicBootCode, "boot loader",
     "**** BOOT CODE ****\nBad crc for UBOOT: 0x08ff2032, voiding download\n"},
    {"Kernel", kMagicKernel, "kernel",
     "**** KERNEL ****\nBad crc for KERNEL: 0x91f4fd5d, voiding download\n"},
    {"RootFs", kMagicRootFs, "root file system",
     "**** ROOTFILESYSTEM ****\nBad crc for RAMDISK: 0x5c20fe7c, voiding download\n"},
    {"Application", kMagicApplication, "application",
     "**** APPLICATION ****\nBad crc for APPLICATION: 0x26cd01e4, voiding download\n"},
};

void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }

class CrcMismatch : public testing::TestWithParam<CrcCase> {};

TEST_P(CrcMismatch, VoidsTheDownloadWithTheComputedCrc)
{
    sim::Board board;
    put_download(board, {corrupted(record_bytes(GetParam().magic, GetParam().payload))});
    board.console.keys("2\n");

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, kExtracting + GetParam().shown);
    EXPECT_EQ(board.flash.counters().writes, 0u);
    EXPECT_EQ(board.i2c.eeprom()[1], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Types, CrcMismatch, testing::ValuesIn(kCrcCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CrcMismatch, InTheSecondRecordKeepsTheFirstAndStops)
{
    const std::vector<uint8_t> boot = record_bytes(kMagicBootCode, "boot loader");
    sim::Board board;
    put_download(board, {boot, corrupted(record_bytes(kMagicKernel, "kernel")),
                         record_bytes(kMagicRootFs, "root file system")});

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, kExtracting + "**** BOOT CODE ****\n.\n**** KERNEL ****\n"
                                   "Bad crc for KERNEL: 0x91f4fd5d, voiding download\n");
    EXPECT_EQ(flash_text(board, 0x03F00000, boot.size()), as_text(boot));
    EXPECT_TRUE(erased(board, 0x01E00000, 0x20000));
    EXPECT_TRUE(erased(board, 0x01000000, 0x20000));
}

struct WriteFailureCase {
    const char* name;
    uint32_t magic;
    const char* keys;
    sim::FlashFault fault;
    std::string shown;
};

// The records span two sectors; the fault hits the second one, after the first was rewritten.
const sim::FlashFault kSecondErase{sim::FlashOp::Erase, 2};
const sim::FlashFault kSecondSectorWrite{sim::FlashOp::Write, 200};
const std::string kEraseFailed = ".Flash Write mtd erase failed.\n\n";
const std::string kWriteFailed = ".Flash Write mtd write failed.\n\n";

const WriteFailureCase kWriteFailures[] = {
    {"BootCode", kMagicBootCode, "", kSecondErase,
     "**** BOOT CODE ****\n" + kEraseFailed + "uboot image updated failed\n"},
    {"Kernel", kMagicKernel, "", kSecondSectorWrite,
     "**** KERNEL ****\n" + kWriteFailed + "kernel image updated failed\n"},
    {"RootFs", kMagicRootFs, "", kSecondErase,
     "**** ROOTFILESYSTEM ****\n" + kEraseFailed + "RFS image updated failed\n"},
    {"Slot1", kMagicApplication, "1\n", kSecondSectorWrite,
     "**** APPLICATION ****\n" + kSlotPrompt + "\nInstalling image as image1...\n" + kWriteFailed +
         "Image1 updated failed\n"},
    {"Slot2", kMagicApplication, "2\n", kSecondErase,
     "**** APPLICATION ****\n" + kSlotPrompt + "\nInstalling image as image2...\n" + kEraseFailed +
         "Image2 updated failed\n"},
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.name; }

class FlashWriteFailure : public testing::TestWithParam<WriteFailureCase> {};

TEST_P(FlashWriteFailure, StopsWithoutSuccessOrSlotChange)
{
    const WriteFailureCase& c = GetParam();
    sim::Board board;
    put_download(board,
                 {record_bytes(c.magic, pattern_text(0x30000)), record_bytes(kMagicBootCode, "boot loader")});
    board.console.keys(c.keys);
    board.flash.faults.push_back(c.fault);
    board.i2c.eeprom()[1] = 0x05;

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, kExtracting + c.shown);
    EXPECT_EQ(board.i2c.eeprom()[1], 0x05);
}

INSTANTIATE_TEST_SUITE_P(Areas, FlashWriteFailure, testing::ValuesIn(kWriteFailures),
                         [](const auto& info) { return std::string(info.param.name); });

struct AllocationFailureCase {
    const char* name;
    uint32_t fail_nth;  // the record buffer of each record comes first, then the sector buffer of its write
    std::string shown;
};

const AllocationFailureCase kAllocationFailures[] = {
    {"FirstRecordBuffer", 1, "Failed to allocate buffer for image (65552)\n"},
    {"SectorBufferOfTheFirstWrite", 2,
     "**** KERNEL ****\nFlash Write malloc failed\nkernel image updated failed\n"},
    {"SecondRecordBuffer", 3, "**** KERNEL ****\n.\nFailed to allocate buffer for image (27)\n"},
    {"SectorBufferOfTheSlot", 4,
     "**** KERNEL ****\n.\n**** APPLICATION ****\n" + kSlotPrompt +
         "\nInstalling image as image2...\nFlash Write malloc failed\nImage2 updated failed\n"},
};

void PrintTo(const AllocationFailureCase& c, std::ostream* os) { *os << c.name; }

class AllocationFailure : public testing::TestWithParam<AllocationFailureCase> {};

TEST_P(AllocationFailure, StopsTheWalkWithoutSuccessOrSlotChange)
{
    const AllocationFailureCase& c = GetParam();
    const std::vector<uint8_t> kernel = record_bytes(kMagicKernel, pattern_text(0x10000));
    sim::Board board;
    put_download(board, {kernel, record_bytes(kMagicApplication, "application")});
    board.console.keys("2\n");
    board.memory.fail_nth = c.fail_nth;
    board.i2c.eeprom()[1] = 0x01;

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, kExtracting + c.shown);
    EXPECT_EQ(board.i2c.eeprom()[1], 0x01);
    EXPECT_TRUE(erased(board, 0x00800000, 0x20000));
    EXPECT_EQ(flash_text(board, 0x01E00000, kernel.size()) == as_text(kernel), c.fail_nth > 2);
}

INSTANTIATE_TEST_SUITE_P(Buffers, AllocationFailure, testing::ValuesIn(kAllocationFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
