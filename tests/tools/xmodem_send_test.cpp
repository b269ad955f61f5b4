// The host's XMODEM-1K sender: the check value, how a file is cut into blocks, the bytes of a block on
// the wire, the line it runs on, and what it sends a receiver scripted by the test on a pty when the
// transfer goes wrong.
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "imgtool/send/serial_line.h"
#include "imgtool/send/session.h"
#include "imgtool/send/xmodem_send.h"
#include "tests/support/bytes.h"
#include "tests/support/scripted_board.h"
#include "tests/support/sx_terminal.h"

namespace {

std::vector<uint8_t> counting(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

struct CrcCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint16_t crc;
};

void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }

const CrcCase kCrcCases[] = {
    {"NoBytes", {}, 0x0000},
    {"CheckString", bytes_of("123456789"), 0x31C3},
    {"OneLetter", bytes_of("A"), 0x58E5},
    {"CountingBlockOf128", counting(128), 0xE80A},
    {"PaddingBlockOf128", std::vector<uint8_t>(128, 0x1A), 0xF8B0},
    {"OnesBlockOf1024", std::vector<uint8_t>(1024, 0xFF), 0xC084},
};

class Crc16 : public testing::TestWithParam<CrcCase> {};

TEST_P(Crc16, MatchesTheKnownValue) { EXPECT_EQ(xmodem::crc16(GetParam().bytes), GetParam().crc); }

INSTANTIATE_TEST_SUITE_P(Values, Crc16, testing::ValuesIn(kCrcCases),
                         [](const auto& info) { return info.param.name; });

struct PlanCase {
    uint64_t file_size;
    std::vector<std::pair<uint64_t, size_t>> blocks;  // offset, size
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.file_size << " bytes"; }

const PlanCase kPlans[] = {
    {0, {}},
    {1, {{0, 128}}},
    {128, {{0, 128}}},
    {896, {{0, 128}, {128, 128}, {256, 128}, {384, 128}, {512, 128}, {640, 128}, {768, 128}}},
    {897, {{0, 1024}}},
    {1023, {{0, 1024}}},
    {1024, {{0, 1024}}},
    {1025, {{0, 1024}, {1024, 128}}},
    {1920,
     {{0, 1024}, {1024, 128}, {1152, 128}, {1280, 128}, {1408, 128}, {1536, 128}, {1664, 128}, {1792, 128}}},
    {1921, {{0, 1024}, {1024, 1024}}},
    {2048, {{0, 1024}, {1024, 1024}}},
    {2049, {{0, 1024}, {1024, 1024}, {2048, 128}}},
};

class PlanBlocks : public testing::TestWithParam<PlanCase> {};

TEST_P(PlanBlocks, LargeBlocksWhileMoreThan896BytesAreLeftThenSmallOnes)
{
    std::vector<std::pair<uint64_t, size_t>> planned;
    for (const xmodem::BlockPlan& block : xmodem::plan_blocks(GetParam().file_size))
        planned.emplace_back(block.offset, block.size);
    EXPECT_EQ(planned, GetParam().blocks);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlanBlocks, testing::ValuesIn(kPlans),
                         [](const auto& info) { return std::to_string(info.param.file_size) + "Bytes"; });

struct FrameCase {
    const char* name;
    uint8_t number;
    std::vector<uint8_t> data;
    size_t size;
    std::vector<uint8_t> head;   // header, number, complement
    std::vector<uint8_t> body;   // data as sent, padding included
    std::vector<uint8_t> check;  // CRC, high byte first
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> join(std::vector<uint8_t> front, const std::vector<uint8_t>& back)
{
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

const FrameCase kFrames[] = {
    {"ShortTailOf128",
     1,
     bytes_of("AB"),
     128,
     {0x01, 0x01, 0xFE},
     join(bytes_of("AB"), std::vector<uint8_t>(126, 0x1A)),
     {0x68, 0x52}},
    {"Full128", 0x80, counting(128), 128, {0x01, 0x80, 0x7F}, counting(128), {0xE8, 0x0A}},
    {"ShortLast1024",
     0xFF,
     {0x00, 0x01, 0x02},
     1024,
     {0x02, 0xFF, 0x00},
     join({0x00, 0x01, 0x02}, std::vector<uint8_t>(1021, 0x1A)),
     {0xEF, 0xFA}},
    {"Full1024AfterTheNumberWraps",
     0x00,
     std::vector<uint8_t>(1024, 0xFF),
     1024,
     {0x02, 0x00, 0xFF},
     std::vector<uint8_t>(1024, 0xFF),
     {0xC0, 0x84}},
};

class FrameBlock : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameBlock, IsHeaderNumberComplementPaddedDataAndCrcHighByteFirst)
{
    const FrameCase& c = GetParam();
    EXPECT_EQ(xmodem::frame_block(c.number, c.data, c.size), join(join(c.head, c.body), c.check));
}

INSTANTIATE_TEST_SUITE_P(Blocks, FrameBlock, testing::ValuesIn(kFrames),
                         [](const auto& info) { return info.param.name; });

// A setting of the line that the sender relies on, by its termios value.
struct SettingCase {
    const char* name;
    tcflag_t termios::*field;
    tcflag_t bits;
    tcflag_t wanted;
};

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

// The C library's names, whose values differ between architectures (the tests also run on the
// target's): a pause from either flow control holds a block, or an ACK, for ever.
const SettingCase kSettings[] = {
    {"NoSoftwareFlowControlOut", &termios::c_iflag, IXON, 0},
    {"NoSoftwareFlowControlIn", &termios::c_iflag, IXOFF, 0},
    {"NoHardwareFlowControl", &termios::c_cflag, CRTSCTS, 0},
    {"EightBits", &termios::c_cflag, CSIZE, CS8},
    {"NoParity", &termios::c_cflag, PARENB, 0},
    {"ModemLinesIgnored", &termios::c_cflag, CLOCAL, CLOCAL},
    {"NoLineEditingNorEcho", &termios::c_lflag, ICANON | ECHO, 0},
};

class LineSettings : public testing::TestWithParam<SettingCase> {};

TEST_P(LineSettings, AreRawWhateverTheLineHadAndComeBackOnClose)
{
    const SettingCase& c = GetParam();
    Pty pty;
    termios found{};
    tcgetattr(pty.slave, &found);
    found.c_iflag |= 0x0400 | 0x1000;
    found.c_cflag = (found.c_cflag & ~0x0800u) | 0x80000000 | 0x0100;
    found.c_lflag |= 0x0002 | 0x0008;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &found), 0);
    tcgetattr(pty.slave, &found);
    SerialLine line;
    ASSERT_EQ(SerialLine::open(pty.path, 115200, line), std::nullopt);

    termios used{};
    tcgetattr(pty.slave, &used);
    EXPECT_EQ(used.*c.field & c.bits, c.wanted);
    line.close();
    termios restored{};
    tcgetattr(pty.slave, &restored);
    EXPECT_EQ(restored.*c.field & c.bits, found.*c.field & c.bits);
}

INSTANTIATE_TEST_SUITE_P(Termios, LineSettings, testing::ValuesIn(kSettings),
                         [](const auto& info) { return info.param.name; });

// What the scripted receiver does after each frame
using Answer = FrameAnswer;

class Operator : public xmodem::TransferEvents {
public:
    explicit Operator(const ScriptedBoard& board) : board_(board) {}
    void progress(uint64_t, uint64_t) override {}
    void console(std::span<const uint8_t>) override {}
    void resent(unsigned, const std::string&) override {}
    bool interrupted() override { return board_.operator_stopped(); }
    bool board_left() override { return board_.board_left(); }

private:
    const ScriptedBoard& board_;
};

struct CancelCase {
    const char* name;
    size_t file_size;
    std::vector<Answer> answers;  // the first before any frame, then one per frame
    std::vector<std::string> wire;
    xmodem::Outcome outcome;
    uint64_t acknowledged;
    int silence_limit_ms = 30000;
};

void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

const Answer kAsk{{'C'}};
const Answer kAck{{0x06}};
const Answer kNak{{0x15}};
const Answer kSilence{};

// A receiver that has taken no block takes CAN for noise and asks for ever; an EOT, answered NAK and
// sent again, ends its wait with an empty file.  After a block it gives up on its own; five CAN end
// any receiver that honours them.
const CancelCase kCancels[] = {
    {"StoppedBeforeTheFirstRequest",
     3000,
     {{.stop_first = true}, kNak, kAck},
     {"EOT", "EOT"},
     xmodem::Outcome::Interrupted,
     0},
    {"StoppedWhileBlock1IsUnanswered",
     3000,
     {kAsk, {.stop_first = true}, kNak, kAck},
     {"STX 01", "EOT", "EOT"},
     xmodem::Outcome::Interrupted,
     0},
    {"Block1AskedForAgainUntilTheTriesRunOut",
     3000,
     {kAsk, kAsk, kAsk, kNak, kAck},
     {"STX 01", "STX 01", "EOT", "EOT"},
     xmodem::Outcome::TooManyRetries,
     0},
    // The ACK that comes after the stop still counts: the receiver has the block
    {"StoppedWhileBlock1IsAcknowledged",
     3000,
     {kAsk, {.bytes = {0x06}, .stop_first = true}},
     {"STX 01", "CAN", "CAN", "CAN", "CAN", "CAN"},
     xmodem::Outcome::Interrupted,
     1024},
    {"Block2UnansweredUntilTheTriesRunOut",
     3000,
     {kAsk, kAck, kSilence, kSilence},
     {"STX 01", "STX 02", "STX 02", "CAN", "CAN", "CAN", "CAN", "CAN"},
     xmodem::Outcome::TooManyRetries,
     1024},
    // Block 1's ACK comes after the sender has sent it again; the receiver answers the copy after a
    // drain.  Block 2 sent on the first ACK would be drained away and the second ACK taken for it.
    {"AckOfABlockSentAgainIsFollowedByQuiet",
     2000,
     {kAsk, {.bytes = {0x06}, .delay_ms = 800}, {.bytes = {0x06}, .drain_ms = 300}, kAck, kNak, kAck},
     {"STX 01", "STX 01", "STX 02", "EOT", "EOT"},
     xmodem::Outcome::Sent,
     2000},
    // The board sends five; a lone one is noise on the line
    {"ALoneCanIsNoise",
     2000,
     {kAsk, {.bytes = {0x18, 0x06}}, kAck, kNak, kAck},
     {"STX 01", "STX 02", "EOT", "EOT"},
     xmodem::Outcome::Sent,
     2000},
    // Noise read as NAK makes block 1 go again; the board's ACK of the first copy then comes, and it
    // drains the copy before it answers that too.  Block 2 waits for the quiet after both.
    {"NoiseReadAsNakBeforeBlock1sAckLeavesTheFramesInStep",
     2000,
     {kAsk, kNak, {.bytes = {0x06}, .drain_ms = 300, .before_drain = {0x06}}, kAck, kNak, kAck},
     {"STX 01", "STX 01", "STX 02", "EOT", "EOT"},
     xmodem::Outcome::Sent,
     2000},
    // Noise read as ACK right behind the real one came before block 2 went: no answer to it
    {"NoiseReadAsAckBehindBlock1sAckIsNoAnswerToBlock2",
     2000,
     {kAsk, {.bytes = {0x06, 0x06}}, kAck, kNak, kAck},
     {"STX 01", "STX 02", "EOT", "EOT"},
     xmodem::Outcome::Sent,
     2000},
    // A board silent that long has given up, or is back at its console's speed: no cancel goes
    {"TheBoardFallsSilentAfterBlock1",
     3000,
     {kAsk, kAck, kSilence},
     {"STX 01", "STX 02", "STX 02"},
     xmodem::Outcome::TooManyRetries,
     1024,
     800},
    {"TheBoardRestartsWhileBlock2IsUnanswered",
     3000,
     {kAsk, kAck, {.board_leaves = true}},
     {"STX 01", "STX 02"},
     xmodem::Outcome::BoardLeft,
     1024},
};

class SenderAgainstAScriptedReceiver : public testing::TestWithParam<CancelCase> {};

TEST_P(SenderAgainstAScriptedReceiver, PutsTheseFramesOnTheWire)
{
    const CancelCase& c = GetParam();
    ScriptedBoard receiver({.starts_in = BoardPhase::Receiving, .answers = c.answers});
    SerialLine line;
    ASSERT_EQ(SerialLine::open(receiver.path(), 115200, line), std::nullopt);
    Operator events(receiver);
    const xmodem::Timing timing{.start_wait_ms = 2000,
                                .reply_wait_ms = 500,
                                .settle_ms = 500,
                                .max_tries = 2,
                                .silence_limit_ms = c.silence_limit_ms};

    const xmodem::Result r = xmodem::send(line, counting(c.file_size), events, timing);
    ASSERT_TRUE(receiver.wait_for(BoardPhase::Quiet, 10));

    EXPECT_EQ(receiver.frames(), c.wire);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.acknowledged, c.acknowledged);
}

INSTANTIATE_TEST_SUITE_P(Receivers, SenderAgainstAScriptedReceiver, testing::ValuesIn(kCancels),
                         [](const auto& info) { return info.param.name; });

// An adapter that takes no bytes, played by a pty whose far end reads nothing: a write ends in a few
// seconds, at once on a Ctrl-C, and says which.
TEST(LineWrite, ToAnAdapterThatTakesNoBytesEndsAndSaysWhy)
{
    struct Row {
        bool ctrl_c;
        WriteResult result;
        int at_least_ms;
        int below_ms;
    };
    for (const Row& row :
         {Row{false, WriteResult::Stalled, 1000, 10000}, Row{true, WriteResult::Stopped, 0, 1000}}) {
        Pty pty;
        SerialLine line;
        ASSERT_EQ(SerialLine::open(pty.path, 115200, line), std::nullopt);
        // The pty moves bytes on to its far end in the background: full once no room comes back
        const std::vector<uint8_t> chunk(4096, 0x55);
        pollfd room{line.fd(), POLLOUT, 0};
        do {
            while (::write(line.fd(), chunk.data(), chunk.size()) > 0) {
            }
        } while (poll(&room, 1, 200) == 1);
        std::thread presses([&row] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (row.ctrl_c)
                operator_interrupts.fetch_add(1);
        });
        const auto started = std::chrono::steady_clock::now();
        const WriteResult result = line.write(std::vector<uint8_t>(1029, 0x55));
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        presses.join();
        operator_interrupts = 0;

        EXPECT_EQ(result, row.result);
        EXPECT_GE(took.count(), row.at_least_ms);
        EXPECT_LT(took.count(), row.below_ms);
    }
}

}  // namespace
