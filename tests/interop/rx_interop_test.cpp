// The host's XMODEM-1K sender on a pty line: against lrzsz's rx (rx_receiver.h), and against a far end
// played by the test where rx cannot play it (a receiver that gives up, no receiver, a line hung up).
#include <cstdint>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "imgtool/send/serial_line.h"
#include "imgtool/send/xmodem_send.h"
#include "tests/support/bytes.h"
#include "tests/support/imgtool_support.h"
#include "tests/support/rx_receiver.h"

namespace {

std::vector<uint8_t> padded(std::vector<uint8_t> file, size_t padding)
{
    file.insert(file.end(), padding, 0x1A);
    return file;
}

// rx answers a damaged block, and the EOT, after a second of quiet on its line.
const xmodem::Timing kFast{.start_wait_ms = 5000, .reply_wait_ms = 3000, .settle_ms = 200, .max_tries = 4};

// What the operator sees and does; interrupts once enough of the file is acknowledged.
class Operator : public xmodem::TransferEvents {
public:
    explicit Operator(uint64_t interrupt_at = UINT64_MAX) : interrupt_at_(interrupt_at) {}

    void progress(uint64_t acknowledged, uint64_t) override { acknowledged_ = acknowledged; }
    void console(std::span<const uint8_t>) override {}
    void resent(unsigned block, const std::string& reason) override
    {
        resent_blocks.emplace_back(block, reason);
    }
    bool interrupted() override { return acknowledged_ >= interrupt_at_; }
    bool board_left() override { return false; }

    std::vector<std::pair<unsigned, std::string>> resent_blocks;

private:
    uint64_t interrupt_at_;
    uint64_t acknowledged_ = 0;
};

bool exited_cleanly(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

struct FileCase {
    size_t size;
    size_t padding;  // 0x1A bytes rx keeps after the file: the rest of the last block
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.size << " bytes"; }

const FileCase kFiles[] = {
    {0, 0}, {1, 127}, {128, 0}, {1000, 24}, {1024, 0}, {1025, 127}, {100000, 96},
};

class RxFile : public testing::TestWithParam<FileCase> {};

TEST_P(RxFile, ArrivesWholeFollowedOnlyByThePaddingOfItsLastBlock)
{
    const FileCase& c = GetParam();
    TempDir dir;
    RxReceiver rx(dir.path("received"));
    SerialLine line;
    ASSERT_EQ(SerialLine::open(rx.port_path(), 115200, line), std::nullopt);
    const std::vector<uint8_t> file = random_bytes(c.size);
    Operator events;

    const xmodem::Result r = xmodem::send(line, file, events, kFast);

    EXPECT_EQ(r.outcome, xmodem::Outcome::Sent);
    EXPECT_EQ(r.acknowledged, c.size);
    EXPECT_TRUE(exited_cleanly(rx.wait(5000)));
    EXPECT_EQ(bytes_of(dir.read("received")), padded(file, c.padding));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RxFile, testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::to_string(info.param.size) + "Bytes"; });

TEST(RxLine, ADamagedBlockIsSentAgainAndTheFileArrivesWhole)
{
    TempDir dir;
    RxReceiver rx(dir.path("received"), BlockDamage{.block = 3, .offset = 100});
    SerialLine line;
    ASSERT_EQ(SerialLine::open(rx.port_path(), 115200, line), std::nullopt);
    const std::vector<uint8_t> file = random_bytes(5000);
    Operator events;

    const xmodem::Result r = xmodem::send(line, file, events, kFast);

    EXPECT_EQ(r.outcome, xmodem::Outcome::Sent);
    EXPECT_GE(r.resends, 1u);
    EXPECT_EQ(events.resent_blocks, (std::vector<std::pair<unsigned, std::string>>{{3, "NAK"}}));
    EXPECT_TRUE(exited_cleanly(rx.wait(5000)));
    EXPECT_EQ(bytes_of(dir.read("received")), padded(file, 120));
}

TEST(RxLine, TheOperatorsCancelEndsTheTransferWithCansOnTheWire)
{
    TempDir dir;
    RxReceiver rx(dir.path("received"));
    SerialLine line;
    ASSERT_EQ(SerialLine::open(rx.port_path(), 115200, line), std::nullopt);
    const std::vector<uint8_t> file = random_bytes(10000);
    Operator events(2048);

    const xmodem::Result r = xmodem::send(line, file, events, kFast);

    EXPECT_EQ(r.outcome, xmodem::Outcome::Interrupted);
    EXPECT_EQ(r.acknowledged, 2048u);
    const int status = rx.wait(5000);
    EXPECT_NE(status, -1) << "rx did not end";
    EXPECT_FALSE(exited_cleanly(status));
    const std::vector<uint8_t> wire = rx.sent();
    ASSERT_GE(wire.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(wire.end() - 5, wire.end()), std::vector<uint8_t>(5, 0x18));
}

// The far end of a pty line played by the test.
struct FarEnd {
    Pty pty;
    SerialLine line;

    FarEnd() { EXPECT_EQ(SerialLine::open(pty.path, 115200, line), std::nullopt); }

    void write(const std::vector<uint8_t>& bytes) const
    {
        EXPECT_EQ(::write(pty.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // The next count bytes from the sender; fewer if it goes quiet for a second.
    std::vector<uint8_t> read(size_t count) const
    {
        std::vector<uint8_t> bytes(count);
        size_t got = 0;
        pollfd waiting{pty.master, POLLIN, 0};
        while (got < count && poll(&waiting, 1, 1000) == 1) {
            const ssize_t n = ::read(pty.master, bytes.data() + got, count - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }
};

TEST(ScriptedFarEnd, AReceiverThatGivesUpEndsTheTransfer)
{
    FarEnd far;
    std::thread receiver([&far] {
        far.write({'C'});
        EXPECT_EQ(far.read(1029).size(), 1029u);
        far.write({0x06});
        EXPECT_EQ(far.read(1029).size(), 1029u);
        far.write({0x18, 0x18});
    });
    Operator events;

    const xmodem::Result r = xmodem::send(far.line, random_bytes(3000), events, kFast);
    receiver.join();

    EXPECT_EQ(r.outcome, xmodem::Outcome::ReceiverCancelled);
    EXPECT_EQ(r.acknowledged, 1024u);
}

TEST(ScriptedFarEnd, NoRequestWithinTheStartWaitIsNoReceiverAndNothingIsSent)
{
    FarEnd far;
    Operator events;
    xmodem::Timing timing = kFast;
    timing.start_wait_ms = 300;

    const xmodem::Result r = xmodem::send(far.line, random_bytes(3000), events, timing);

    EXPECT_EQ(r.outcome, xmodem::Outcome::NoReceiver);
    EXPECT_EQ(r.acknowledged, 0u);
    pollfd waiting{far.pty.master, POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 0), 0);
}

TEST(ScriptedFarEnd, ALineHungUpIsLostNotSilent)
{
    FarEnd far;
    close(far.pty.master);
    far.pty.master = -1;
    Operator events;

    const xmodem::Result r = xmodem::send(far.line, random_bytes(3000), events, kFast);

    EXPECT_EQ(r.outcome, xmodem::Outcome::LineLost);
}

}  // namespace
