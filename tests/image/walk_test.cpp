// The walk through a download: records passed over, where it ends, and files it cannot use.
#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/console_texts.h"
#include "tests/support/installer_support.h"

namespace {

const std::string kBootWritten = "**** BOOT CODE ****\n.\n";

// Neither is checked, so a wrong CRC does not stop the walk either.
TEST(Walk, PassesOverDiagnosticsAndType5Records)
{
    const std::vector<uint8_t> boot = record_bytes(kMagicBootCode, "boot loader");
    sim::Board board;
    put_download(board, {corrupted(record_bytes(kMagicDiagnostics, "diagnostics")),
                         corrupted(record_bytes(kMagicType5, "five")), boot});

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kExtracting + kBootWritten);
    EXPECT_EQ(flash_text(board, 0x03F00000, boot.size()), as_text(boot));
    EXPECT_EQ(board.flash.counters().erases, 1u);
}

struct EndCase {
    const char* name;
    std::string file;
    std::string shown;
};

std::string boot_record() { return as_text(record_bytes(kMagicBootCode, "boot loader")); }

const EndCase kEnds[] = {
    {"EmptyFile", "", ""},
    {"FewerThan16Bytes", cut_short(boot_record(), 15), ""},
    {"UnknownMagic", as_text(record_bytes(0x074A414E, "seven")) + boot_record(), ""},
    {"MagicInWrongByteOrder", as_text(record_bytes(0x4E414A02, "boot loader")) + boot_record(), ""},
    {"OnlyDiagnostics",
     as_text(record_bytes(kMagicDiagnostics, "diagnostics")) +
         as_text(record_bytes(kMagicDiagnostics, "more")),
     ""},
    {"DiagnosticsCutShort", cut_short(as_text(record_bytes(kMagicDiagnostics, "diagnostics")), 20), ""},
    {"ShortPaddingAfterRecord", boot_record() + std::string(15, '\x1A'), kBootWritten},
    {"BlockOfPaddingAfterRecord", boot_record() + std::string(1023, '\x1A'), kBootWritten},
    // A record of no payload is a whole record of 16 bytes, and the walk goes on behind it.
    {"EmptyRecordThenRecord", as_text(record_bytes(kMagicDiagnostics, "")) + boot_record(), kBootWritten},
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class WalkEnd : public testing::TestWithParam<EndCase> {};

TEST_P(WalkEnd, EndsNormallyWithNothingBehindItInstalled)
{
    sim::Board board;
    board.write_file("/tmp/image", GetParam().file);

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, kExtracting + GetParam().shown);
    EXPECT_EQ(board.flash.counters().erases, GetParam().shown.empty() ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Files, WalkEnd, testing::ValuesIn(kEnds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Walk, DownloadThatCannotBeOpenedInstallsNothing)
{
    sim::Board board;
    board.write_file("/tmp/image", boot_record());
    board.files.open_fails = {"/tmp/image"};

    sim::Run r = install(board);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Can't open image file: Permission denied\n");
    EXPECT_EQ(board.flash.counters().erases, 0u);
}

TEST(Walk, MissingDownloadInstallsNothing)
{
    sim::Board board;
    sim::Run r = install(board);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.err, "Can't open image file: No such file or directory\n");
}

struct RefusalCase {
    const char* name;
    std::string file;
    std::string shown;
};

// A boot-code header stating len 11 ("boot loader"), followed by only the first five payload bytes.
const std::string kCutBootCode = cut_short(boot_record(), 21);
// The same, its CRC word being the CRC of just the bytes that arrived.
const std::string kCutBootCodeMatchingWhatArrived =
    std::string("\x3A\x35\x9E\x0F\x00\x00\x00\x0B\x02\x4A\x41\x4E\x00\x01\x02\x03", 16) + "boot ";

const RefusalCase kRefusals[] = {
    // A length within 16 of 4 GiB would make the record total wrap round to a few bytes.
    {"LengthWrapsToZero",
     std::string("\x00\x00\x00\x00\xFF\xFF\xFF\xF0\x02\x4A\x41\x4E\x00\x00\x00\x00", 16) + "payload",
     "Failed to allocate buffer for image (0)\n"},
    {"LengthWrapsToFifteen",
     std::string("\x00\x00\x00\x00\xFF\xFF\xFF\xFF\x01\x4A\x41\x4E\x00\x00\x00\x00", 16) + "payload",
     "Failed to allocate buffer for image (15)\n"},
    // A record cut short by the end of the file shows the CRC of the bytes that did arrive.
    {"BootCodeCutShort", kCutBootCode,
     "**** BOOT CODE ****\nBad crc for UBOOT: 0x3a359e0f, voiding download\n"},
    {"BootCodeCutShortMatchingWhatArrived", kCutBootCodeMatchingWhatArrived,
     "**** BOOT CODE ****\nBad crc for UBOOT: 0x3a359e0f, voiding download\n"},
    {"ApplicationCutShort", cut_short(as_text(record_bytes(kMagicApplication, "application")), 21),
     "**** APPLICATION ****\nBad crc for APPLICATION: 0x52444af8, voiding download\n"},
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RecordRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(RecordRefusal, VoidsTheDownload)
{
    sim::Board board;
    board.write_file("/tmp/image", GetParam().file);
    board.console.keys("2\n");

    sim::Run r = install(board);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, kExtracting + GetParam().shown);
    EXPECT_EQ(board.flash.counters().erases, 0u);
}

INSTANTIATE_TEST_SUITE_P(Records, RecordRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
