// The serial port around a download: the operator's keys, the terminal settings, and a port or
// file that cannot be opened.
#include <gtest/gtest.h>
#include <string>
#include <termios.h>
#include <utility>

#include "platform/os.h"
#include "tests/support/console_texts.h"
#include "tests/support/sender.h"
#include "xmodem/xmodem.h"

namespace {

// The operator ready, a sender that ends at once (EOT, EOT) and the operator's line feed after it.
std::shared_ptr<sim::ReactivePeer> empty_transfer()
{
    auto peer = operator_ready();
    peer->on(0x43, {0x04}).on(0x15, {0x04});
    operator_done(*peer);
    return peer;
}

std::string times(int count, const std::string& text)
{
    std::string all;
    for (int i = 0; i < count; ++i)
        all += text;
    return all;
}

struct OperatorCase {
    const char* name;
    std::vector<std::pair<uint64_t, uint8_t>> keys;  // delay after the one before, key
    uint64_t line_feed_after_us;                     // after the final ACK
    uint64_t first_start_us;                         // when the board sends its first 'C'
    std::string out;
};

void PrintTo(const OperatorCase& c, std::ostream* os) { *os << c.name; }

const OperatorCase kOperators[] = {
    {"PromptKeys", {{500000, 0x0D}}, 500000, 1000000, kSwitchTo115200 + kSwitchBackTo9600},
    {"TenEmptyPolls", {{9500000, 0x0D}}, 9500000, 10000000, kSwitchTo115200 + kSwitchBackTo9600},
    {"ElevenEmptyPolls",
     {{10500000, 0x0D}},
     10500000,
     11000000,
     kSwitchTo115200 + kStartReminder + kSwitchBackTo9600 + kEndReminder},
    {"TwentyTwoEmptyPolls",
     {{21500000, 0x0D}},
     21500000,
     22000000,
     kSwitchTo115200 + times(2, kStartReminder) + kSwitchBackTo9600 + times(2, kEndReminder)},
    // A key other than carriage return is dropped and costs a poll of a second.
    {"OtherKeyFirst", {{500000, 0x0A}, {500000, 0x0D}}, 500000, 2000000, kSwitchTo115200 + kSwitchBackTo9600},
};

struct EndKeyCase {
    const char* name;
    uint8_t key;
    bool confirms;
};

const EndKeyCase kEndKeys[] = {
    {"LineFeed", 0x0A, true}, {"CarriageReturn", 0x0D, true}, {"Space", 0x20, false}};

void PrintTo(const EndKeyCase& c, std::ostream* os) { *os << c.name; }

class EndOfDownloadKey : public testing::TestWithParam<EndKeyCase> {};

// Enter sends a carriage return on most terminal programs, a line feed on some.
TEST_P(EndOfDownloadKey, EnterConfirmsTheSwitchBackWhateverItSends)
{
    const EndKeyCase& c = GetParam();
    auto peer = operator_ready();
    peer->on(0x43, {0x04}).on(0x15, {0x04});
    peer->on(0x06, {c.key}, 500000);

    sim::Board board;
    board.virtual_limit_us = 60000000;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.end, c.confirms ? sim::End::Returned : sim::End::Hung);
    EXPECT_EQ(r.out, kSwitchTo115200 + kSwitchBackTo9600 + (c.confirms ? "" : times(5, kEndReminder)));
}

INSTANTIATE_TEST_SUITE_P(Keys, EndOfDownloadKey, testing::ValuesIn(kEndKeys),
                         [](const auto& info) { return std::string(info.param.name); });

class OperatorKeys : public testing::TestWithParam<OperatorCase> {};

TEST_P(OperatorKeys, ArePolledOnceASecondWithAReminderEveryElevenPolls)
{
    const OperatorCase& c = GetParam();
    auto peer = std::make_shared<sim::ReactivePeer>();
    for (const auto& [delay, key] : c.keys)
        peer->then({key}, delay);
    peer->on(0x43, {0x04}).on(0x15, {0x04});
    operator_done(*peer, 0x06, c.line_feed_after_us);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.out, c.out);
    std::vector<uint64_t> starts = sent_at(r, 0x43);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], c.first_start_us);
}

INSTANTIATE_TEST_SUITE_P(Timings, OperatorKeys, testing::ValuesIn(kOperators),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OperatorKeys, InstructionsShowBeforeTheWaitAlsoOnABufferedConsole)
{
    sim::Board board;
    board.console.output_is_pipe = true;
    sim::Run r = receive(board, empty_transfer());

    EXPECT_EQ(
        r.steps({sim::Event::Kind::Out, sim::Event::Kind::SerialRx}),
        (Lines{"out:" + kSwitchTo115200, "rx:0d", "rx:04", "rx:04", "out:" + kSwitchBackTo9600, "rx:0a"}));
}

TEST(TerminalSettings, AreSwitchedForTheDownloadAndPutBack)
{
    sim::Board board;
    sim::Run r = receive(board, empty_transfer());

    EXPECT_EQ(
        r.steps({sim::Event::Kind::Tty}),
        (Lines{"tty:/dev/ttyS0 drain", "tty:/dev/ttyS0 flush",
               "tty:/dev/ttyS0 icanon=0 echo=0 isig=0 vmin=1 vtime=0 speed=115200", "tty:/dev/ttyS0 flow",
               "tty:/dev/ttyS0 drain", "tty:/dev/ttyS0 flush",
               "tty:/dev/ttyS0 icanon=1 echo=1 isig=1 vmin=1 vtime=0 speed=9600", "tty:/dev/ttyS0 flow"}));
    EXPECT_EQ(r.steps({sim::Event::Kind::Open, sim::Event::Kind::Close}),
              (Lines{"open:/dev/ttyS0", "open:/tmp/image", "close:/dev/ttyS0", "close:/tmp/image"}));
}

// A port whose settings cannot be read is left in the download's settings, not given zeros.
TEST(TerminalSettings, SettingsThatCouldNotBeReadAreNotPutBack)
{
    sim::Board board;
    board.serial.settings_read_fails = true;
    sim::Run r = receive(board, empty_transfer());

    EXPECT_EQ(r.value, 0);
    const Lines tty = r.steps({sim::Event::Kind::Tty});
    EXPECT_EQ(Lines(tty.begin() + 4, tty.end()),
              (Lines{"tty:/dev/ttyS0 drain", "tty:/dev/ttyS0 flush", "tty:/dev/ttyS0 flow"}));
}

TEST(TerminalSettings, DownloadSettingsAreRaw8N1AndKeepTheRest)
{
    sim::Board board;
    board.serial.peer = operator_ready();
    sim::Run r = board.run([] {
        int port = init_serial();
        termios t{};
        os::tcgetattr(port, &t);
        sim::Board::note("iflag=" + std::to_string(t.c_iflag) + " oflag=" + std::to_string(t.c_oflag) +
                         " cflag=" + std::to_string(t.c_cflag) + " lflag=" + std::to_string(t.c_lflag) +
                         " speed=" + std::to_string(cfgetispeed(&t)));
        return port >= 0;
    });

    // The port starts as a cooked terminal: CS8 | CREAD | CLOCAL at 9600 bit/s, ISIG | ICANON |
    // ECHO | ECHOE | ECHOK | IEXTEN.
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.steps({sim::Event::Kind::Note}),
              (Lines{"note:iflag=" + std::to_string(IGNBRK) +
                     " oflag=0 cflag=" + std::to_string(CS8 | CREAD | CLOCAL | B115200) +
                     " lflag=" + std::to_string(ECHOK | IEXTEN) + " speed=" + std::to_string(B115200)}));
}

TEST(PortMissing, NoExchangeNoFileAndAResultBelowOne)
{
    sim::Board board;
    board.serial.missing = true;
    sim::Run r = receive(board, operator_ready());

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, -1);
    EXPECT_EQ(r.err, "Init serial\nCan't open serial port!: No such file or directory\nInit serial done\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(wire(r), Lines{});
    EXPECT_FALSE(board.exists("/tmp/image"));
}

TEST(FileCannotBeCreated, PortIsRestoredAndClosedWithoutAnExchange)
{
    auto peer = operator_ready();
    peer->then({0x0A}, 1500000);

    sim::Board board;
    board.files.open_fails = {"/tmp/image"};
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, -1);
    EXPECT_EQ(r.err, "Init serial\nInit serial done\nCan't open file!: Permission denied\n");
    EXPECT_EQ(r.out, kSwitchTo115200 + kSwitchBackTo9600);
    EXPECT_EQ(wire(r), (Lines{"rx:0d", "rx:0a"}));
    EXPECT_EQ(r.steps({sim::Event::Kind::Tty}).at(6),
              "tty:/dev/ttyS0 icanon=1 echo=1 isig=1 vmin=1 vtime=0 speed=9600");
    EXPECT_EQ(r.steps({sim::Event::Kind::Open, sim::Event::Kind::Close}),
              (Lines{"open:/dev/ttyS0", "close:/dev/ttyS0"}));
    EXPECT_FALSE(board.exists("/tmp/image"));
}

TEST(NoSender, TheBoardAsksForAStartOnceASecond)
{
    sim::Board board;
    board.virtual_limit_us = 10500000;
    sim::Run r = receive(board, operator_ready());

    EXPECT_EQ(r.end, sim::End::Hung);
    EXPECT_EQ(sent_at(r, 0x43), (std::vector<uint64_t>{1000000, 2000000, 3000000, 4000000, 5000000, 6000000,
                                                       7000000, 8000000, 9000000, 10000000}));
}

}  // namespace
