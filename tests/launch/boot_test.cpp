// Whole boots: which slot the board starts from, how it falls back, and when it gives up.
#include <functional>
#include <gtest/gtest.h>

#include "launch/launch.h"
#include "tests/support/bytes.h"
#include "tests/support/console_texts.h"
#include "tests/support/launch_support.h"

namespace {

enum class Slot { Good, Erased, BadMagic, BadCrc };

struct SlotByte {
    int value;  // -1: no EEPROM answers
    int first;  // the slot booted first
};

std::string payload_of(int slot) { return "archive of slot " + std::to_string(slot); }
uint32_t base_of(int slot) { return slot == 2 ? kSlot2Base : kSlot1Base; }
std::string booting(int slot) { return "out:Booting image '" + std::to_string(slot) + "'\n"; }

void put_slot(sim::Board& board, int slot, Slot kind)
{
    const std::vector<uint8_t> record =
        record_bytes(kind == Slot::BadMagic ? kMagicKernel : kMagicApplication, payload_of(slot));
    if (kind != Slot::Erased)
        board.flash.load(base_of(slot), kind == Slot::BadCrc ? corrupted(record) : record);
}

// What the first attempt says when it refuses its slot and hands over to the other one.
std::string refusal(Slot kind, int slot)
{
    std::string s = std::to_string(slot), o = std::to_string(3 - slot);
    std::string magic = kind == Slot::Erased ? "ffffffff" : "34a414e";
    if (kind == Slot::BadCrc)
        return "err:Image" + s + " CRC failed, trying Image" + o + " now.\n";
    return "err:Image has invalid header 0x" + magic + ". (0x64a414e)\nImage" + s +
           " has invalid header... trying Image" + o + ".\n";
}

std::string final_refusal(Slot kind)
{
    return kind == Slot::BadCrc ? "err:Both image1 and image2 failed.\n"
                                : "err:No valid application image found. Trying rescue image\n";
}

const Lines kReset = {"sh:reboot", "exit:0"};

const Lines kLaunch = kUnpackAndDecompress + Lines{"exec:/bin/backtrace"};

void PrintTo(const SlotByte& byte, std::ostream* os) { *os << "slot byte " << byte.value; }
void PrintTo(Slot slot, std::ostream* os)
{
    static const char* const names[] = {"good", "erased", "bad magic", "bad CRC"};
    *os << names[static_cast<int>(slot)];
}

class BootMatrix : public testing::TestWithParam<std::tuple<SlotByte, Slot, Slot>> {};

TEST_P(BootMatrix, BootsTheFirstGoodSlotOrResets)
{
    auto [byte, first_kind, second_kind] = GetParam();
    int first = byte.first, second = 3 - first;
    sim::Board board;
    if (byte.value < 0)
        board.i2c.eeprom_missing = true;
    else
        board.i2c.eeprom()[1] = static_cast<uint8_t>(byte.value);
    put_slot(board, first, first_kind);
    put_slot(board, second, second_kind);
    unpack_compatible_image(board);

    sim::Run r = board.run([] { return launcher_main(0, nullptr); });

    Lines expected = {booting(first)};
    int launched = first_kind == Slot::Good ? first : second_kind == Slot::Good ? second : 0;
    if (first_kind != Slot::Good) {
        expected = expected + Lines{refusal(first_kind, first), booting(second)};
        if (second_kind != Slot::Good)
            expected.push_back(final_refusal(second_kind));
    }
    expected = expected + (launched ? kLaunch : kReset);
    EXPECT_EQ(r.steps(kConsoleAndCommands), expected);
    EXPECT_EQ(r.end, launched ? sim::End::Exec : sim::End::Exited);
    EXPECT_EQ(r.value, 0);
    // The last attempt truncates the archive, whatever it makes of its slot.
    EXPECT_EQ(board.read_file("/tmp/zarelimage.tar.gz"), launched ? payload_of(launched) : "");
}

const SlotByte kSlotBytes[] = {{0, 1}, {1, 1}, {2, 2}, {3, 1}, {0xFF, 1}, {-1, 1}};
const Slot kSlots[] = {Slot::Good, Slot::Erased, Slot::BadMagic, Slot::BadCrc};
const char* const kSlotNames[] = {"Good", "Erased", "BadMagic", "BadCrc"};

INSTANTIATE_TEST_SUITE_P(SlotByteAndSlots, BootMatrix,
                         testing::Combine(testing::ValuesIn(kSlotBytes), testing::ValuesIn(kSlots),
                                          testing::ValuesIn(kSlots)),
                         [](const auto& info) {
                             int byte = std::get<0>(info.param).value;
                             std::string name = byte < 0 ? "NoEeprom" : "Byte" + std::to_string(byte);
                             return name + "_" + kSlotNames[int(std::get<1>(info.param))] + "_" +
                                    kSlotNames[int(std::get<2>(info.param))];
                         });

// Records and boards out of the ordinary, each booted whole.
struct BootCase {
    const char* name;
    std::function<void(sim::Board&)> setup;
    Lines expected;
    std::optional<std::string> archive;
    // What the boot may read of the flash: the environment's first 512 bytes and, of each slot it
    // looks at, the header and at most the record the header states, once.  4096 bytes hold that for
    // the small records here; nothing for a board without flash, where no read can be counted.
    std::optional<uint64_t> flash_bytes_read_below;
};

const std::string kLargest(0x007FFFF0, 'L');
const std::string kMostlyZeros = "archive" + std::string(256 * 1024, '\0');
const Lines kDiagnostics = {"out:install diags image\n", "sh:mkdir -p /tmp/home/bin",
                            "sh:mv /tmp/mpdiag.elf.strip /tmp/home/bin/mp.elf.strip", "exec:/bin/backtrace"};
const Lines kToSlot2 = {booting(1), "err:Image1 CRC failed, trying Image2 now.\n", booting(2)};

// A length that cannot fit the slot is refused from its header alone, before any buffer for it is
// obtained or filled.
BootCase oversize(const char* name, uint32_t len)
{
    return {name,
            [len](sim::Board& b) {
                put_header(b, kSlot1Base, len);
                put_slot(b, 2, Slot::Good);
            },
            kToSlot2 + kLaunch, payload_of(2), 4096};
}

const BootCase kBootCases[] = {
    {"DiagnosticsInSlot1",
     [](sim::Board& b) { b.flash.load(kSlot1Base, record_bytes(kMagicDiagnostics, "diag")); },
     Lines{booting(1)} + kUnpackAndDecompress + kDiagnostics, "diag", 4096},
    {"DiagnosticsInSlot2",
     [](sim::Board& b) {
         b.i2c.eeprom()[1] = 2;
         b.flash.load(kSlot2Base, record_bytes(kMagicDiagnostics, "diag"));
     },
     Lines{booting(2)} + kUnpackAndDecompress + kDiagnostics, "diag", 4096},
    {"EmptyPayload", [](sim::Board& b) { b.flash.load(kSlot1Base, record_bytes(kMagicApplication, "")); },
     Lines{booting(1)} + kLaunch, "", 4096},
    {"LargestRecordThatFits",
     [](sim::Board& b) { b.flash.load(kSlot1Base, record_bytes(kMagicApplication, kLargest)); },
     Lines{booting(1)} + kLaunch, kLargest, 0x00801000},
    // The record read stops half way and fails.  The unread half of a fresh buffer holds zeros,
    // the same as the record's own, so only the failed read tells that it was not read; nor is it
    // read again, so less than the whole record of 256 KiB comes from the flash.
    {"RecordReadShort",
     [](sim::Board& b) {
         b.flash.load(kSlot1Base, record_bytes(kMagicApplication, kMostlyZeros));
         put_slot(b, 2, Slot::Good);
         b.flash.faults.push_back({sim::FlashOp::Read, 3, std::nullopt, true});
     },
     kToSlot2 + kLaunch, payload_of(2), 0x00040000},
    // A /tmp without room for the whole archive: what fits is written and the launch goes on, as
    // on tmpfs; the unpacking is what finds the archive cut short.
    {"TmpTooSmallForTheArchive",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         b.files.tmp_room = 3;
     },
     Lines{booting(1)} + kLaunch, payload_of(1).substr(0, 3), 4096},
    // No flash at all: good records that cannot be read are not booted.
    {"FlashMissing",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         put_slot(b, 2, Slot::Good);
         b.flash.missing = true;
     },
     Lines{"out:Could not get MTD device info \nBooting image '1'\n", refusal(Slot::Erased, 1), booting(2),
           final_refusal(Slot::Erased)} +
         kReset,
     "", std::nullopt},
    {"ArchiveCannotBeOpened",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         load_env(b, {"shell=on"});
         b.files.open_fails = {"/tmp/zarelimage.tar.gz"};
     },
     Lines{booting(1), "err:Failed to open application image output file.\n", "sh:/bin/sh\n"} + kReset,
     std::nullopt, 4096},
    {"ShellBeforeFinalReset",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::BadCrc);
         put_slot(b, 2, Slot::BadCrc);
         load_env(b, {"shell=on"});
     },
     kToSlot2 + Lines{final_refusal(Slot::BadCrc), "sh:/bin/sh\n"} + kReset, "", 4096},
    {"DebuggerFromOtherSlot",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         b.flash.load(kSlot2Base, record_bytes(kMagicApplication, "gdb!"));
         load_env(b, {"gdb=on"});
         b.shell.on("gunzip /tmp/gdb.gz", [](sim::Board& board, const std::string&) {
             board.write_file("/tmp/gdb", "");
             return 0;
         });
     },
     Lines{"out:Booting image '1'\nExtracting GDB from image slot 2\nFound GDB image 2 of length = 4.\n"
           "decompressing GDB....\n",
           "sh:gunzip /tmp/gdb.gz", "sh:chmod +x /tmp/gdb"} +
         kUnpackAndDecompress +
         Lines{"out:*** Launching under GDB ***\n", "sh:/tmp/gdb /tmp/home/bin/mp.elf.strip"} + kReset,
     payload_of(1), 4096},
    {"DebugServerTakesNoDebugger",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         load_env(b, {"gdb=on", "gdbserver=on", "gdbserver_ip=10.1.2.3", "gdbport=2345"});
     },
     Lines{booting(1)} + kUnpackAndDecompress +
         Lines{"sh:/bin/gdbserver 10.1.2.3:2345 /tmp/home/bin/mp.elf.strip\n"} + kReset,
     payload_of(1), 4096},
    oversize("LengthBeyondTheSlot", 0x007FFFF1),
    oversize("LengthThatWrapsTheTotal", 0xFFFFFFF0),
    oversize("LargestLength", 0xFFFFFFFF),
    // A slot whose record cannot be held in memory cannot be checked: it is passed over as one
    // that failed its check.
    {"NoMemoryForSlot1",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         put_slot(b, 2, Slot::Good);
         b.memory.fail_nth = 1;
     },
     kToSlot2 + kLaunch, payload_of(2), 4096},
    {"NoMemoryForEitherSlot",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         put_slot(b, 2, Slot::Good);
         b.memory.fail_from_size = 1;
     },
     kToSlot2 + Lines{final_refusal(Slot::BadCrc)} + kReset, "", 4096},
    {"RescueBeforeBoot",
     [](sim::Board& b) {
         put_slot(b, 1, Slot::Good);
         load_env(b, {"diagnostics=rescue"});
         b.console.keys("e");
     },
     Lines{"out:" + kRescueEntry + kRescueMenuChoice + "Booting image '1'\n"} + kLaunch, payload_of(1), 4096},
};

void PrintTo(const BootCase& c, std::ostream* os) { *os << c.name; }

class BootCases : public testing::TestWithParam<BootCase> {};

TEST_P(BootCases, FollowsTheRecordsToTheirLaunchOrReset)
{
    const BootCase& c = GetParam();
    sim::Board board;
    c.setup(board);
    unpack_compatible_image(board);

    sim::Run r = board.run([] { return launcher_main(0, nullptr); });

    EXPECT_EQ(r.steps(kConsoleAndCommands), c.expected);
    EXPECT_EQ(board.read_file("/tmp/zarelimage.tar.gz"), c.archive);
    if (c.flash_bytes_read_below) {
        EXPECT_LT(board.flash.counters().bytes_read, *c.flash_bytes_read_below);
    }
}

INSTANTIATE_TEST_SUITE_P(Records, BootCases, testing::ValuesIn(kBootCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
