// The slot byte and the CPLD gate around every EEPROM access.
#include <algorithm>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

#include "i2c/i2c.h"
#include "i2c/i2c_internal.h"
#include "sim/board.h"

namespace {

using sim::Board;
using Knob = std::function<void(Board&)>;
using ::testing::ElementsAre;

const char* const kOpenCpld = "open:/dev/tavik/cpld_mmmap";
const char* const kCloseCpld = "close:/dev/tavik/cpld_mmmap";

int get_slot() { return api_i2c_init(), static_cast<int>(api_get_image()); }
int set_slot_2() { return api_i2c_init(), api_set_image(2); }

TEST(Gate, ChangesOnlyItsBit)
{
    struct Case {
        uint8_t before;
        int on;
        uint8_t after;
        const char* written;
    };
    for (Case c :
         {Case{0x00, 1, 0x04, "cpld:20=04"}, {0xFF, 0, 0xFB, "cpld:20=fb"}, {0x04, 1, 0x04, "cpld:20=04"}}) {
        Board board;
        board.i2c.cpld()[20] = c.before;
        sim::Run r = board.run([&] { return set_sms_access(c.on); });
        EXPECT_EQ(r.value, 0);
        EXPECT_EQ(board.i2c.cpld()[20], c.after);
        EXPECT_THAT(r.steps(), ElementsAre(kOpenCpld, c.written, "sleep:100000", kCloseCpld));
    }
}

TEST(Gate, IsClearAfterEveryRoad)
{
    for (const Knob& knob : {Knob([](Board&) {}), Knob([](Board& b) { b.i2c.eeprom_missing = true; }),
                             Knob([](Board& b) { b.i2c.fail_transfer_nth = 1; }),
                             Knob([](Board& b) { b.i2c.bus_missing = true; })}) {
        for (auto access : {get_slot, set_slot_2}) {
            Board board;
            knob(board);
            board.i2c.cpld()[20] = 0xFF;
            board.run(access);
            EXPECT_EQ(board.i2c.cpld()[20], 0xFB);
            EXPECT_EQ(board.i2c.gate_refusals(), 0u);
        }
    }
}

TEST(Gate, FailuresAreReportedAndTheTransferStillRuns)
{
    struct Case {
        Knob knob;
        std::string message;
        int cpld_opens;
    };
    for (const Case& c :
         {Case{[](Board& b) { b.i2c.cpld_missing = true; }, "CPLD driver could not be opened\n", 0},
          {[](Board& b) { b.i2c.cpld_seek_fails = true; }, "CPLD seek error\n", 2},
          {[](Board& b) { b.i2c.cpld_read_fails = true; }, "CPLD read error\n", 2},
          {[](Board& b) { b.i2c.cpld_write_fails = true; }, "CPLD write error\n", 2}}) {
        Board board;
        c.knob(board);
        sim::Run r = board.run(get_slot);
        EXPECT_EQ(r.out, c.message + c.message);
        EXPECT_EQ(board.i2c.transfers(), 1u);
        auto opens = r.steps({sim::Event::Kind::Open, sim::Event::Kind::Close});
        EXPECT_EQ(std::count(opens.begin(), opens.end(), kOpenCpld), c.cpld_opens);
        EXPECT_EQ(std::count(opens.begin(), opens.end(), kCloseCpld), c.cpld_opens);
    }
}

// Started without standard input, the launcher gets descriptor 0 for the bus: a bus all the same.
TEST(Slot, IsReadAndTheBusClosedWhenTheBusIsDescriptorZero)
{
    Board board;
    board.console.input_closed = true;
    board.i2c.eeprom()[1] = 2;
    sim::Run r = board.run([] {
        const int slot = get_slot();
        api_i2c_close();
        return slot;
    });
    EXPECT_EQ(r.value, 2);
    EXPECT_EQ(r.steps({sim::Event::Kind::Close}).back(), "close:/dev/i2c-0");
}

TEST(Slot, ReadsTheByteAtOffsetOneBetweenGateChanges)
{
    Board board;
    board.i2c.eeprom()[1] = 2;
    sim::Run r = board.run(get_slot);
    EXPECT_EQ(r.value, 2);
    EXPECT_THAT(r.steps(),
                ElementsAre("open:/dev/i2c-0", kOpenCpld, "cpld:20=04", "sleep:100000", kCloseCpld,
                            "i2c:0x54 read [01] = 02", kOpenCpld, "cpld:20=00", "sleep:100000", kCloseCpld));
}

TEST(Slot, ReadFailuresGiveFFSilently)
{
    struct Case {
        uint8_t byte;
        bool eeprom_missing;
        int expected;
    };
    for (Case c : {Case{0, false, 0}, {2, true, 255}}) {
        Board board;
        board.i2c.eeprom()[1] = c.byte;
        board.i2c.eeprom_missing = c.eeprom_missing;
        sim::Run r = board.run(get_slot);
        EXPECT_EQ(r.value, c.expected);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Slot, MissingBusIsReportedAtInitAndReadsAsFF)
{
    Board board;
    board.i2c.bus_missing = true;
    board.i2c.eeprom()[1] = 2;
    sim::Run r = board.run([] { return api_i2c_init() * 1000 + static_cast<int>(api_get_image()); });
    EXPECT_EQ(r.out, "ERROR: driver /dev/i2c-0 couldn't be opened\n");
    EXPECT_EQ(r.value, -1000 + 255);
}

TEST(Slot, WriteWaitsForTheEepromAndPersists)
{
    Board board;
    sim::Run r = board.run(set_slot_2);
    EXPECT_EQ(r.value, 0);
    EXPECT_THAT(r.steps(), ElementsAre("open:/dev/i2c-0", kOpenCpld, "cpld:20=04", "sleep:100000", kCloseCpld,
                                       "i2c:0x54 write [01] = 02", "sleep:100000", kOpenCpld, "cpld:20=00",
                                       "sleep:100000", kCloseCpld));
    EXPECT_EQ(board.i2c.eeprom()[1], 2);
    EXPECT_EQ(board.run(get_slot).value, 2);
}

TEST(Slot, WriteFailureNamesTheWholeOffsetAndTheWriteError)
{
    struct Case {
        int (*access)();
        bool fails;
        bool cpld_missing;
        std::string out;
        int offset;
    };
    auto wide = [] { return api_i2c_init(), set_vpd_offset(0x0105, 2); };
    std::string no_cpld = "CPLD driver could not be opened\n";
    for (const Case& c :
         {Case{set_slot_2, true, false, "I2C error when writing bus 0 offset 1: 5\n", 1},
          {wide, false, false, "", 5},
          {wide, true, false, "I2C error when writing bus 0 offset 261: 5\n", 5},
          {set_slot_2, true, true, no_cpld + no_cpld + "I2C error when writing bus 0 offset 1: 5\n", 1}}) {
        Board board;
        board.i2c.fail_transfer_nth = c.fails ? 1 : 0;
        board.i2c.cpld_missing = c.cpld_missing;
        board.i2c.cpld()[20] = c.cpld_missing ? 0x04 : 0x00;
        sim::Run r = board.run(c.access);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.value < 0, c.fails);
        EXPECT_EQ(board.i2c.eeprom()[c.offset], c.fails ? 0xFF : 2);
    }
}

TEST(Eeprom, ReadMovesOneByteWhateverTheLength)
{
    Board board;
    board.i2c.eeprom()[3] = 0x33;
    board.i2c.eeprom()[4] = 0x44;
    sim::Run r = board.run([] {
        uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        api_i2c_init();
        return api_eeprom_read(buffer, 3, 4) == 0 && buffer[0] == 0x33 && buffer[1] == 0xAA &&
               buffer[3] == 0xAA;
    });
    EXPECT_EQ(r.value, 1);
}

}  // namespace
