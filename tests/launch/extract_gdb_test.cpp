// The debugger copied out of the slot that is not being booted.
#include <functional>
#include <gtest/gtest.h>

#include "flash/flash.h"
#include "launch/launch.h"
#include "tests/support/bytes.h"
#include "tests/support/launch_support.h"

namespace {

// More than three copy chunks, the last one partial.
std::string debugger_payload() { return pattern_text(3 * 65536 + 3395); }

sim::Run extract(sim::Board& board, int slot)
{
    return board.run([slot] {
        api_flash_init();
        return extract_gdb(slot);
    });
}

struct CopyCase {
    int booted;
    uint32_t other_base;
    uint32_t magic;
    std::string payload;
    const char* length;
    uint32_t reads;  // the header, then the payload in 64 KiB pieces
};

void PrintTo(const CopyCase& c, std::ostream* os)
{
    *os << "booted slot " << c.booted << ", " << c.length << " bytes";
}

class DebuggerCopy : public testing::TestWithParam<CopyCase> {};

TEST_P(DebuggerCopy, WritesThePayloadAndDecompressesIt)
{
    const CopyCase& c = GetParam();
    sim::Board board;
    board.flash.load(c.other_base, record_bytes(c.magic, c.payload));

    sim::Run r = extract(board, c.booted);

    std::string other = std::to_string(3 - c.booted);
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, "Extracting GDB from image slot " + other + "\nFound GDB image " + other +
                         " of length = " + c.length + ".\ndecompressing GDB....\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.commands, (Lines{"gunzip /tmp/gdb.gz", "chmod +x /tmp/gdb"}));
    EXPECT_EQ(board.read_file("/tmp/gdb.gz"), c.payload);
    EXPECT_EQ(board.flash.counters().reads, c.reads);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, DebuggerCopy,
    testing::Values(CopyCase{1, kSlot2Base, kMagicApplication, debugger_payload(), "200003", 5},
                    CopyCase{2, kSlot1Base, kMagicDiagnostics, debugger_payload(), "200003", 5},
                    CopyCase{1, kSlot2Base, kMagicApplication, "", "0", 1}));

struct RefusalCase {
    const char* name;
    std::function<void(sim::Board&)> setup;
    std::string out;
    std::string err;
    Lines opens_and_closes = {"open:/dev/mtd0", "open:/tmp/gdb.gz", "close:/tmp/gdb.gz"};
    std::optional<std::string> left = "";  // in /tmp/gdb.gz
    int booted = 1;
};

void put_debugger(sim::Board& board)
{
    board.flash.load(kSlot2Base, record_bytes(kMagicApplication, "gdb!"));
}

const char kExtracting[] = "Extracting GDB from image slot 2\n";
const std::string kFound = std::string(kExtracting) + "Found GDB image 2 of length = 4.\n";

const RefusalCase kRefusals[] = {
    {"ErasedSlot", [](sim::Board&) {}, kExtracting, "Image has invalid header 0xffffffff\n"},
    {"WrongMagic", [](sim::Board& b) { b.flash.load(kSlot2Base, record_bytes(kMagicRootFs, "x")); },
     kExtracting, "Image has invalid header 0x44a414e\n"},
    {"LengthBeyondSlot", [](sim::Board& b) { put_header(b, kSlot2Base, 0x007FFFF1); }, kExtracting,
     "GDB image length 8388593 does not fit its slot.\n"},
    {"WrappingLength", [](sim::Board& b) { put_header(b, kSlot2Base, 0xFFFFFFF0); }, kExtracting,
     "GDB image length 4294967280 does not fit its slot.\n"},
    {"FullTmp",
     [](sim::Board& b) {
         put_debugger(b);
         b.files.tmp_room = 0;
     },
     kFound, "Failed to write GDB output file.\n"},
    {"FlashReadFails",
     [](sim::Board& b) {
         put_debugger(b);
         b.flash.faults.push_back({sim::FlashOp::Read, 2, std::nullopt, false});
     },
     kFound, "Failed to read GDB image from flash.\n"},
    {"OutputCannotOpen",
     [](sim::Board& b) {
         put_debugger(b);
         b.files.open_fails = {"/tmp/gdb.gz"};
     },
     kExtracting, "Failed to open GDB output file.\n", Lines{"open:/dev/mtd0"}, std::nullopt},
    // The last of the data may only reach the file system when the file is closed: a close that
    // fails leaves a debugger that cannot be trusted, and nothing is decompressed.
    {"OutputCloseFails",
     [](sim::Board& b) {
         put_debugger(b);
         b.files.close_fails = {"/tmp/gdb.gz"};
     },
     kFound,
     "Failed to write GDB output file.\n",
     {"open:/dev/mtd0", "open:/tmp/gdb.gz", "close:/tmp/gdb.gz"},
     "gdb!"},
    {"NoSlotToCopyFrom", [](sim::Board&) {}, "", "", Lines{"open:/dev/mtd0"}, std::nullopt, 3},
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class DebuggerRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(DebuggerRefusal, LeavesNoDebuggerAndClosesTheFile)
{
    const RefusalCase& c = GetParam();
    sim::Board board;
    c.setup(board);

    sim::Run r = extract(board, c.booted);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.commands, Lines{});
    EXPECT_EQ(r.steps({sim::Event::Kind::Open, sim::Event::Kind::Close}), c.opens_and_closes);
    EXPECT_EQ(board.read_file("/tmp/gdb.gz"), c.left);
}

INSTANTIATE_TEST_SUITE_P(Records, DebuggerRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
