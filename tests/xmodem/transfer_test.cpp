// Completed downloads: what reaches the file, the result, and the bytes on the wire.
#include <functional>
#include <gtest/gtest.h>
#include <utility>

#include "tests/support/console_texts.h"
#include "tests/support/sender.h"

namespace {

const std::string kDoneErr = "Init serial\nInit serial done\nEOT\nAll done\n";

TEST(Crc16, TestRoutineMatchesTheCheckValue)
{
    const std::string check = "123456789";
    EXPECT_EQ(crc16_bitwise(Bytes(check.begin(), check.end())), 0x31C3);
}

struct FileCase {
    const char* name;
    std::vector<Bytes> blocks;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

const FileCase kFiles[] = {
    {"LargeBlocks", {pattern(1024, 1), pattern(1024, 2), padded("end of the file", 1024)}},
    {"SmallBlocks", {pattern(128, 1), pattern(128, 2), padded("tail", 128)}},
    {"MixedSizes", {pattern(1024, 1), pattern(128, 2), pattern(1024, 3), padded("tail", 128)}},
};

class WholeFile : public testing::TestWithParam<FileCase> {};

TEST_P(WholeFile, EveryBlockReachesTheFileWithItsPadding)
{
    const FileCase& c = GetParam();
    auto peer = operator_ready();
    send_frames(*peer, frames_from_one(c.blocks));
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    Bytes expected = concat(c.blocks);
    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, static_cast<int>(expected.size()));
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(expected));
    EXPECT_EQ(r.err, kDoneErr);
    EXPECT_EQ(r.out, kSwitchTo115200 + kSwitchBackTo9600);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WholeFile, testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WholeFile, NotStoredWholeWhenItsCloseFailsIsNoDownload)
{
    auto peer = operator_ready();
    send_frames(*peer, frames_from_one({pattern(1024, 1)}));
    end_of_file(*peer);

    sim::Board board;
    board.files.close_fails = {"/tmp/image"};
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.err, kDoneErr + "Can't write file!: Input/output error\n");
    EXPECT_FALSE(board.exists("/tmp/image"));
}

TEST(Wire, SmallTransferByteForByte)
{
    Bytes data(128, 0x41);
    auto peer = operator_ready();
    send_frames(*peer, {frame(1, data)});
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    std::string block = "0101fe";
    for (int i = 0; i < 128; ++i)
        block += "41";
    block += "1cce";
    EXPECT_EQ(wire(r),
              (Lines{"rx:0d", "tx:43", "rx:" + block, "tx:06", "rx:04", "tx:15", "rx:04", "tx:06", "rx:0a"}));
    EXPECT_EQ(r.value, 128);
}

std::vector<Bytes> three_hundred_blocks()
{
    std::vector<Bytes> blocks;
    for (int i = 1; i <= 300; ++i)
        blocks.push_back(pattern(128, static_cast<uint8_t>(i)));
    return blocks;
}

struct DeliveryCase {
    const char* name;
    uint64_t byte_time_us;
    std::vector<Bytes> blocks;
    // The sender's blocks; nothing: each framed in turn, numbered from 1.
    std::function<void(sim::ReactivePeer&)> send;
    Lines sent;  // the board's bytes; empty: not looked at
};

void PrintTo(const DeliveryCase& c, std::ostream* os) { *os << c.name; }

const DeliveryCase kDeliveries[] = {
    // 87 us a byte, as at 115200 bit/s: the board polls faster than the line, so reads find the line
    // empty inside every block.
    {"BytesArriveAtLineSpeed",
     87,
     {pattern(1024, 1), pattern(128, 2)},
     nullptr,
     {"tx:43", "tx:06", "tx:06", "tx:15", "tx:06"}},
    // The data stops for 1.5 s: the pass that waited in vain for a second is followed by another.
    {"APauseInsideABlockIsBridged",
     0,
     {pattern(128, 1)},
     [](sim::ReactivePeer& p) {
         const Bytes block = frame(1, pattern(128, 1));
         p.on(0x43, Bytes(block.begin(), block.begin() + 60))
             .then(Bytes(block.begin() + 60, block.end()), 1500000);
     },
     {"tx:43", "tx:06", "tx:15", "tx:06"}},
    {"BlockNumbersRunThrough255BackToZero", 0, three_hundred_blocks(), nullptr, {}},
    // What came behind an accepted block is dropped before its ACK: a copy of the block sent at once
    // is not taken for a repeat.
    {"BytesBehindAnAcceptedBlockAreDropped",
     0,
     {pattern(128, 1), pattern(128, 2)},
     [](sim::ReactivePeer& p) {
         p.on(0x43, concat({frame(1, pattern(128, 1)), frame(1, pattern(128, 1))}))
             .on(0x06, frame(2, pattern(128, 2)));
     },
     {"tx:43", "tx:06", "tx:06", "tx:15", "tx:06"}},
};

class Delivery : public testing::TestWithParam<DeliveryCase> {};

TEST_P(Delivery, EveryBlockReachesTheFileOnce)
{
    const DeliveryCase& c = GetParam();
    auto peer = operator_ready(c.byte_time_us);
    if (c.send)
        c.send(*peer);
    else
        send_frames(*peer, frames_from_one(c.blocks));
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    const Bytes file = concat(c.blocks);
    EXPECT_EQ(r.value, static_cast<int>(file.size()));
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(file));
    if (!c.sent.empty()) {
        EXPECT_EQ(sent(r), c.sent);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, Delivery, testing::ValuesIn(kDeliveries),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RepeatedBlock, IsAcknowledgedAfterTheLineFallsSilentAndWrittenOnce)
{
    std::vector<Bytes> blocks = {pattern(128, 1), pattern(128, 2)};
    auto peer = operator_ready();
    send_frames(*peer, {frame(1, blocks[0]), frame(1, blocks[0]), frame(2, blocks[1])});
    end_of_file(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    EXPECT_EQ(r.value, 256);
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(concat(blocks)));
    std::vector<uint64_t> acks = sent_at(r, 0x06);
    ASSERT_EQ(acks.size(), 4u);
    EXPECT_EQ(acks[1] - acks[0], 1000000u);  // the repeat came at once, then 1 s of silence
    EXPECT_EQ(acks[2], acks[1]);
}

using Step = std::pair<uint8_t, Bytes>;  // the board's byte that triggers it, the sender's bytes

struct EndCase {
    const char* name;
    std::vector<Bytes> blocks;
    std::vector<Step> ending;  // the sender's steps from its first EOT on
    Lines sent;
    std::vector<uint64_t> gaps_us;  // between the board's bytes from its first NAK on
    std::string err;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

const EndCase kEnds[] = {
    {"EotNakEot",
     {pattern(128, 1)},
     {{0x06, {0x04}}, {0x15, {0x04}}},
     {"tx:43", "tx:06", "tx:15", "tx:06"},
     {0},
     kDoneErr},
    {"EotThenSilence",
     {pattern(128, 1)},
     {{0x06, {0x04}}},
     {"tx:43", "tx:06", "tx:15", "tx:06"},
     {5000000},
     kDoneErr},
    {"EotFirst", {}, {{0x43, {0x04}}, {0x15, {0x04}}}, {"tx:43", "tx:15", "tx:06"}, {0}, kDoneErr},
    // Noise in place of the second EOT fails the round: NAK after 2 s of silence.
    {"EotThenNoise",
     {pattern(128, 1)},
     {{0x06, {0x04}}, {0x15, {0x5A}}, {0x15, {0x04}}, {0x15, {0x04}}},
     {"tx:43", "tx:06", "tx:15", "tx:15", "tx:15", "tx:06"},
     {2000000, 0, 0},
     "Init serial\nInit serial done\nEOT\nEOT\nAll done\n"},
    // What came with the EOT is dropped before the NAK: only the answer to the NAK confirms it.
    {"EotWithNoiseBehindIt",
     {pattern(128, 1)},
     {{0x06, {0x04, 0x5A}}, {0x15, {0x04}}},
     {"tx:43", "tx:06", "tx:15", "tx:06"},
     {0},
     kDoneErr},
};

std::vector<uint64_t> gaps_from_first_nak(const sim::Run& r)
{
    std::vector<uint64_t> times;
    for (const sim::Event& e : r.events)
        if (e.kind == sim::Event::Kind::SerialTx && (!times.empty() || e.text == "\x15"))
            times.push_back(e.at_us);
    std::vector<uint64_t> gaps;
    for (size_t i = 1; i < times.size(); ++i)
        gaps.push_back(times[i] - times[i - 1]);
    return gaps;
}

class EndOfFile : public testing::TestWithParam<EndCase> {};

TEST_P(EndOfFile, CompletesTheTransferOnceConfirmed)
{
    const EndCase& c = GetParam();
    auto peer = operator_ready();
    send_frames(*peer, frames_from_one(c.blocks));
    for (const Step& step : c.ending)
        peer->on(step.first, step.second);
    operator_done(*peer);

    sim::Board board;
    sim::Run r = receive(board, peer);

    Bytes expected = concat(c.blocks);
    EXPECT_EQ(r.value, static_cast<int>(expected.size()));
    EXPECT_EQ(board.read_file("/tmp/image"), as_text(expected));
    EXPECT_EQ(sent(r), c.sent);
    EXPECT_EQ(gaps_from_first_nak(r), c.gaps_us);
    EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndOfFile, testing::ValuesIn(kEnds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
