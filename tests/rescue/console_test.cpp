// The console primitives: one raw key in, one byte out.
#include <functional>
#include <gtest/gtest.h>

#include "launch/launch.h"
#include "platform/os.h"
#include "rescue/rescue.h"
#include "sim/board.h"
#include "tests/support/console_texts.h"

namespace {

const Lines kRawThenRestored = {"tty:console icanon=0 echo=0 isig=1 vmin=1 vtime=0 speed=9600",
                                "tty:console icanon=1 echo=1 isig=1 vmin=1 vtime=0 speed=9600"};

struct KeyCase {
    const char* name;
    std::function<void(sim::Console&)> input;
    bool is_tty;
    int key;
};

const KeyCase kKeys[] = {
    {"Letter", [](sim::Console& c) { c.keys("a"); }, true, 'a'},
    {"HighByte", [](sim::Console& c) { c.keys("\xff"); }, true, 0xFF},
    {"EndOfInput", [](sim::Console&) {}, true, 0},
    {"Interrupted", [](sim::Console& c) { c.interrupt().keys("a"); }, true, 0},
    {"NotATerminal", [](sim::Console& c) { c.keys("q"); }, false, 'q'},
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class UartGetC : public testing::TestWithParam<KeyCase> {};

TEST_P(UartGetC, ReadsOneRawKeyAndRestoresTheTerminal)
{
    const KeyCase& c = GetParam();
    sim::Board board;
    c.input(board.console);
    board.console.is_tty = c.is_tty;

    sim::Run r = board.run([] {
        sig_init();
        return uartGetC();
    });

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, c.key);
    EXPECT_EQ(r.steps({sim::Event::Kind::Tty}), c.is_tty ? kRawThenRestored : Lines{});
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, UartGetC, testing::ValuesIn(kKeys),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UartPutC, WritesTheLowByteAtOnce)
{
    sim::Board board;
    sim::Run r = board.run([] {
        uartPutC('A');
        os::sleep(1);
        uartPutC(0x142);
        return 0;
    });
    EXPECT_EQ(r.steps({sim::Event::Kind::Out, sim::Event::Kind::Sleep}),
              (Lines{"out:A", "sleep:1000000", "out:B"}));
}

}  // namespace
