// Damaged blocks, the sender's cancel and the receiver giving up.
#include <functional>
#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/console_texts.h"
#include "tests/support/sender.h"

namespace {

const Bytes kFirst = pattern(128, 1);
const Bytes kSecond = pattern(128, 2);
const std::string kCancelledErr = "Init serial\nInit serial done\n";

struct DamageCase {
    const char* name;
    // The damaged second block, sent on the ACK of the first.
    std::function<void(sim::ReactivePeer&)> send_damaged;
    uint64_t nak_after_us;  // from that ACK to the board's NAK
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

const DamageCase kDamages[] = {
    {"CrcError", [](sim::ReactivePeer& p) { p.on(0x06, corrupted(frame(2, kSecond))); }, 2000000},
    {"ComplementError",
     [](sim::ReactivePeer& p) {
         Bytes block = frame(2, kSecond);
         block[2] = 0xFC;
         p.on(0x06, block);
     },
     2000000},
    // A byte that never comes waits its 3 s, then the line is drained for 2 s.
    {"MissingComplement",
     [](sim::ReactivePeer& p) {
         p.on(0x06, {0x01, 0x02});
     },
     5000000},
    {"MissingCrcLowByte", [](sim::ReactivePeer& p) { p.on(0x06, cut_short(frame(2, kSecond), 132)); },
     5000000},
    // No data: the first pass finds nothing within its second.
    {"MissingData",
     [](sim::ReactivePeer& p) {
         p.on(0x06, {0x01, 0x02, 0xFD});
     },
     3000000},
    // 100 data bytes, then, once two passes have given up, the CRC of just those: still refused.
    {"ShortBlockWithMatchingCrc",
     [](sim::ReactivePeer& p) {
         Bytes part = cut_short(kSecond, 100);
         uint16_t crc = crc16_bitwise(part);
         p.on(0x06, concat({{0x01, 0x02, 0xFD}, part}));
         p.then({static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)}, 2500000);
     },
     4500000},
};

class DamagedBlock : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBlock, IsRefusedWithNakAndAcceptedWhenResent)
{
    const DamageCase& c = GetParam();
    auto peer = operator_ready();
    peer->on(0x43, frame(1, kFirst));
    c.send_damaged(*peer);
    peer->on(0x15, frame(2, kSecond));
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.value, 256);
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(concat({kFirst, kSecond})));
    EXPECT_EQ(sent(r), (Lines{"tx:43", "tx:06", "tx:15", "tx:06", "tx:15", "tx:06"}));
    std::vector<uint64_t> acks = sent_at(r, 0x06);
    std::vector<uint64_t> naks = sent_at(r, 0x15);
    ASSERT_FALSE(acks.empty());
    ASSERT_FALSE(naks.empty());
    EXPECT_EQ(naks[0] - acks[0], c.nak_after_us);
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedBlock, testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

const Bytes kThird = pattern(128, 3);
const Bytes kFourth = pattern(128, 4);

struct RoundsCase {
    const char* name;
    std::function<void(sim::ReactivePeer&)> send;
    Lines sent;
    size_t blocks = 3;
};

void PrintTo(const RoundsCase& c, std::ostream* os) { *os << c.name; }

const RoundsCase kRounds[] = {
    {"TwoSinceTheLastBlockAreForgiven",
     [](sim::ReactivePeer& p) {
         p.on(0x43, frame(1, kFirst)).on(0x06, corrupted(frame(2, kSecond)));
         p.on(0x15, corrupted(frame(2, kSecond))).on(0x15, frame(2, kSecond));
         p.on(0x06, frame(3, kThird));
     },
     {"tx:43", "tx:06", "tx:15", "tx:15", "tx:06", "tx:06", "tx:15", "tx:06"}},
    // Each accepted block starts the count again: three failures far apart never give up.
    {"ThreeFarApartAreForgiven",
     [](sim::ReactivePeer& p) {
         p.on(0x43, frame(1, kFirst)).on(0x06, corrupted(frame(2, kSecond))).on(0x15, frame(2, kSecond));
         p.on(0x06, corrupted(frame(3, kThird))).on(0x15, frame(3, kThird));
         p.on(0x06, corrupted(frame(4, kFourth))).on(0x15, frame(4, kFourth));
     },
     {"tx:43", "tx:06", "tx:15", "tx:06", "tx:15", "tx:06", "tx:15", "tx:06", "tx:15", "tx:06"},
     4},
    // An EOT taken for line noise: the block header that answers its NAK only ends the round, the
    // rest of that block fails the next one, and the block sent again is accepted.  That rest starts
    // 02 FD 4A, a header of block 0xFD with a wrong complement; a first data byte of 0x02 would
    // make it a block out of sequence instead, which ends the transfer.
    {"LoneEotThenTheNextBlock",
     [](sim::ReactivePeer& p) {
         p.on(0x43, frame(1, kFirst)).on(0x06, {0x04}).on(0x15, frame(2, kSecond));
         p.on(0x15, frame(2, kSecond)).on(0x06, frame(3, kThird));
     },
     {"tx:43", "tx:06", "tx:15", "tx:15", "tx:06", "tx:06", "tx:15", "tx:06"}},
};

class FailedRounds : public testing::TestWithParam<RoundsCase> {};

TEST_P(FailedRounds, TheTransferGoesOnAndLosesNothing)
{
    auto peer = operator_ready();
    GetParam().send(*peer);
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    const std::vector<Bytes> blocks = {kFirst, kSecond, kThird, kFourth};
    const Bytes file = concat({blocks.begin(), blocks.begin() + static_cast<long>(GetParam().blocks)});
    EXPECT_EQ(r.value, static_cast<int>(file.size()));
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(file));
    EXPECT_EQ(sent(r), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Rounds, FailedRounds, testing::ValuesIn(kRounds),
                         [](const auto& info) { return std::string(info.param.name); });

struct AbortCase {
    const char* name;
    std::function<void(sim::ReactivePeer&)> send;
    Lines sent;
    std::optional<uint64_t> tmp_room = std::nullopt;
};

void PrintTo(const AbortCase& c, std::ostream* os) { *os << c.name; }

const AbortCase kAborts[] = {
    {"ThirdFailedRound",
     [](sim::ReactivePeer& p) {
         p.on(0x43, frame(1, kFirst)).on(0x06, corrupted(frame(2, kSecond)));
         p.on(0x15, corrupted(frame(2, kSecond))).on(0x15, corrupted(frame(2, kSecond)));
     },
     {"tx:43", "tx:06", "tx:15", "tx:15", "tx:1818181818"}},
    {"BlockOutOfSequence",
     [](sim::ReactivePeer& p) { p.on(0x43, frame(1, kFirst)).on(0x06, frame(3, kSecond)); },
     {"tx:43", "tx:06", "tx:1818181818"}},
    {"FirstBlockNumberedTwo",
     [](sim::ReactivePeer& p) { p.on(0x43, frame(2, kFirst)); },
     {"tx:43", "tx:1818181818"}},
    // A /tmp that fills up during the download: the block that does not fit whole (refused, or cut
    // short as tmpfs cuts a write at its last free byte) gives the transfer up, and what had
    // arrived is removed, so that /tmp has its room again for the boot.
    {"NoRoomInTmp",
     [](sim::ReactivePeer& p) { p.on(0x43, frame(1, kFirst)); },
     {"tx:43", "tx:1818181818"},
     0},
    {"RoomInTmpForOneBlockAndAHalf",
     [](sim::ReactivePeer& p) { p.on(0x43, frame(1, kFirst)).on(0x06, frame(2, kSecond)); },
     {"tx:43", "tx:06", "tx:1818181818"},
     192},
};

class Abort : public testing::TestWithParam<AbortCase> {};

TEST_P(Abort, SendsFiveCansAndLeavesNoPartOfTheDownload)
{
    const AbortCase& c = GetParam();
    auto peer = operator_ready();
    c.send(*peer);
    operator_done_after_cancel(*peer);

    sim::Board board;
    board.files.tmp_room = c.tmp_room;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(sent(r), c.sent);
    EXPECT_FALSE(board.exists("/tmp/image"));
    EXPECT_EQ(r.err, kCancelledErr);
    EXPECT_EQ(r.out, kSwitchTo115200 + kSwitchBackTo9600);
}

INSTANTIATE_TEST_SUITE_P(Causes, Abort, testing::ValuesIn(kAborts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Abort, TheSendersCancelAfterTheFirstBlockIsLineNoise)
{
    auto peer = operator_ready();
    peer->on(0x43, frame(1, kFirst)).on(0x06, {0x18, 0x18});
    operator_done_after_cancel(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(sent(r), (Lines{"tx:43", "tx:06", "tx:15", "tx:15", "tx:1818181818"}));
    EXPECT_EQ(r.err, kCancelledErr);
    // The CANs are skipped: 5 s without a header, 2 s of silence, NAK; twice; the third timeout
    // gives up.
    uint64_t ack = sent_at(r, 0x06).at(0);
    std::vector<uint64_t> naks = sent_at(r, 0x15);
    ASSERT_EQ(naks.size(), 2u);
    EXPECT_EQ(naks[0] - ack, 7000000u);
    EXPECT_EQ(naks[1] - naks[0], 7000000u);
}

TEST(Abort, TheNotesFollowTheCancel)
{
    auto peer = operator_ready();
    peer->on(0x43, {0x18, 0x41}).on(0x43, frame(2, kFirst));
    operator_done_after_cancel(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(one_line(r),
              (Lines{"err:Init serial\n", "out:" + kSwitchTo115200, "err:Init serial done\n", "tx:43",
                     "tx:43", "tx:1818181818", "err:CAN\n", "out:" + kSwitchBackTo9600}));
}

TEST(Abort, ALineThatNeverFallsSilentDoesNotHoldTheReceiver)
{
    // 20 s of noise at line speed right after the first block.
    auto peer = operator_ready(87);
    peer->on(0x43, frame(1, kFirst)).on(0x06, Bytes(230000, 0x55));
    operator_done_after_cancel(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(sent(r), (Lines{"tx:43", "tx:06", "tx:15", "tx:15", "tx:1818181818"}));
    // Each wait reads no more than the line carries in its time: the first NAK leaves after about
    // 5 s of header wait and 2 s of drain, while the noise goes on.
    uint64_t ack = sent_at(r, 0x06).at(0);
    uint64_t nak = sent_at(r, 0x15).at(0);
    EXPECT_GT(nak - ack, 6500000u);
    EXPECT_LT(nak - ack, 7500000u);
}

struct StartCase {
    const char* name;
    Bytes reply;             // the sender's answer to the first 'C'
    uint64_t next_start_us;  // from the first 'C' to the next
    std::string err;
    // What the board wrote on a module's one line (one_line); empty: not looked at.
    Lines line = {};
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

const StartCase kStarts[] = {
    {"ConfirmedCancelKeepsWaiting",
     {0x18, 0x18},
     1000000,
     "Init serial\nInit serial done\nCAN\nEOT\nAll done\n"},
    {"SecondCanComparedOnSevenBits",
     {0x18, 0x98},
     1000000,
     "Init serial\nInit serial done\nCAN\nEOT\nAll done\n"},
    {"CanAndOtherByte", {0x18, 0x41}, 0, "Init serial\nInit serial done\nCAN\nEOT\nAll done\n"},
    {"LoneCan", {0x18}, 3000000, "Init serial\nInit serial done\nCAN\nEOT\nAll done\n"},
    {"EarlyAck", {0x06}, 0, "Init serial\nInit serial done\nEOT\nAll done\n"},
    // Block 0 is refused with 'C' and not written; its bytes are skipped while waiting for a header.
    {"BlockZero", frame(0, Bytes(128, 0x1A)), 0, "Init serial\nInit serial done\nEOT\nAll done\n"},
    // The sender reads the line that carries the console: from the first 'C' to the final ACK only
    // XMODEM bytes go out, and the notes of the noise CAN and of the EOT follow in that order.
    {"NotesAfterTheTransferOnTheOneLine",
     {0x18},
     3000000,
     "Init serial\nInit serial done\nCAN\nEOT\nAll done\n",
     {"err:Init serial\n", "out:" + kSwitchTo115200, "err:Init serial done\n", "tx:43", "tx:43", "tx:06",
      "tx:15", "tx:06", "err:CAN\nEOT\nAll done\n", "out:" + kSwitchBackTo9600}},
};

class BeforeTheFirstBlock : public testing::TestWithParam<StartCase> {};

TEST_P(BeforeTheFirstBlock, TheReceiverKeepsAskingForAStart)
{
    const StartCase& c = GetParam();
    auto peer = operator_ready();
    peer->on(0x43, c.reply).on(0x43, frame(1, kFirst));
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.value, 128);
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(kFirst));
    EXPECT_EQ(sent(r), (Lines{"tx:43", "tx:43", "tx:06", "tx:15", "tx:06"}));
    std::vector<uint64_t> starts = sent_at(r, 0x43);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1] - starts[0], c.next_start_us);
    EXPECT_EQ(r.err, c.err);
    if (!c.line.empty()) {
        EXPECT_EQ(one_line(r), c.line);
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, BeforeTheFirstBlock, testing::ValuesIn(kStarts),
                         [](const auto& info) { return std::string(info.param.name); });

// A line of noise that turns from one note to the other again and again before the first block:
// the first 32 runs of notes are printed after the transfer, the rest, the final EOT included, are
// left out.
TEST(BeforeTheFirstBlock, NotesPastTheirRoomAreLeftOut)
{
    auto peer = operator_ready();
    for (int i = 0; i < 17; ++i) {
        peer->on(0x43, {0x18, 0x41});             // CAN, unconfirmed: 'C' again
        peer->on(0x43, {0x04}).on(0x15, {0x41});  // EOT, unconfirmed: 'C' again
    }
    peer->on(0x43, frame(1, kFirst));
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    std::string notes;
    for (int i = 0; i < 16; ++i)
        notes += "CAN\nEOT\n";
    EXPECT_EQ(r.value, 128);
    EXPECT_EQ(r.err, "Init serial\nInit serial done\n" + notes + "All done\n");
}

}  // namespace
