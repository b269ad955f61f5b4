// The bus table and plain register reads.
#include "i2c/i2c.h"
#include "i2c/i2c_internal.h"
#include "sim/board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using sim::Board;
using sim::Event;
using ::testing::ElementsAreArray;

TEST(Read, WritesTheOffsetPrefixBeforeReading)
{
    struct Case { int width; std::vector<std::string> transfers; uint8_t first; };
    for (const Case& c : {Case{2, {"i2c:0x54 write 01 02", "i2c:0x54 read 2 of 2"}, 0x22},
                          {1, {"i2c:0x54 write 02", "i2c:0x54 read 2 of 2"}, 0x22},
                          {0, {"i2c:0x54 read 2 of 2"}, 0x00}}) {
        Board board;
        for (int i = 0; i < 256; i++)
            board.i2c.eeprom()[i] = static_cast<uint8_t>(i * 0x11);
        board.i2c.cpld()[20] = 0x04;
        sim::Run r = board.run([&] {
            uint8_t buffer[2];
            api_i2c_init();
            int count = i2c_read(0, 0xA8, 0x0102, 2, c.width, buffer);
            return count == 2 && buffer[0] == c.first ? 1 : 0;
        });
        EXPECT_EQ(r.value, 1) << "width " << c.width;
        EXPECT_THAT(r.steps({Event::Kind::I2c}), ElementsAreArray(c.transfers)) << "width " << c.width;
        EXPECT_EQ(r.out, "");
    }
}

TEST(Read, FailuresSayWhichStepFailed)
{
    struct Case { void (*knob)(Board&); int bus; std::string out; };
    for (const Case& c : {Case{[](Board& b) { b.i2c.short_plain_read = true; }, 0,
                               "I2C error - device 0xa8 @ 258, 2 bytes : 0\n"},
                          {[](Board& b) { b.i2c.eeprom_missing = true; }, 0,
                               "I2C error - device 0xa8 writing bus 0 offset 258: 6\n"},
                          {[](Board&) {}, 1, "I2C error when setting bus 1, device 0xa8: 9\n"},
                          {[](Board& b) { b.i2c.bus_missing = true; }, 0,
                               "ERROR: driver /dev/i2c-0 couldn't be opened\n"
                               "I2C error when setting bus 0, device 0xa8: 9\n"}}) {
        Board board;
        c.knob(board);
        board.i2c.cpld()[20] = 0x04;
        sim::Run r = board.run([&] {
            uint8_t buffer[2];
            api_i2c_init();
            return i2c_read(c.bus, 0xA8, 0x0102, 2, 2, buffer);
        });
        EXPECT_EQ(r.value, 0);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Read, UbootenvReadMovesNothing)
{
    Board board;
    board.i2c.cpld()[20] = 0x04;
    sim::Run r = board.run([] {
        uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        api_i2c_init();
        int result = api_ubootenv_read(buffer, 5, 4);
        return result == 0 && buffer[0] == 0xAA && buffer[3] == 0xAA ? 1 : 0;
    });
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(board.i2c.transfers(), 0u);
}

TEST(Close, ClosesAnOpenBusOnce)
{
    struct Case { bool bus_missing; bool init; int closes; };
    for (Case c : {Case{true, true, 0}, {false, false, 0}, {false, true, 1}}) {
        Board board;
        board.i2c.bus_missing = c.bus_missing;
        sim::Run r = board.run([&] {
            if (c.init)
                api_i2c_init();
            return api_i2c_close() + api_i2c_close();
        });
        EXPECT_EQ(r.value, 0);
        auto closes = r.steps({Event::Kind::Close});
        EXPECT_EQ(std::count(closes.begin(), closes.end(), "close:/dev/i2c-0"), c.closes);
    }
}

TEST(BootedImage, TouchesNothing)
{
    Board board;
    sim::Run r = board.run([] { return api_set_booted_image(1) + api_set_booted_image(2); });
    EXPECT_EQ(r.value, 0);
    EXPECT_TRUE(r.steps().empty());
}

}  // namespace
