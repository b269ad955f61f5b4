// The receiver against a real XMODEM sender: lrzsz's sx on a pty, the board's serial port passed
// through to another pty, in real time, with the test as the operator's terminal (sx_terminal.h).
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/support/bytes.h"
#include "tests/support/sx_terminal.h"
#include "xmodem/xmodem.h"

namespace {

struct InteropCase {
    bool one_k;
    size_t size;
};

std::string name_of(const InteropCase& c)
{
    return std::string(c.one_k ? "Sx1k_" : "Sx128_") + std::to_string(c.size) + "Bytes";
}

void PrintTo(const InteropCase& c, std::ostream* os) { *os << name_of(c); }

std::string case_name(const testing::TestParamInfo<InteropCase>& info) { return name_of(info.param); }

class SxInterop : public testing::TestWithParam<InteropCase> {};

TEST_P(SxInterop, ReceivesTheFileFollowedOnlyByTheSendersPadding)
{
    const InteropCase& c = GetParam();
    sim::Board board;
    const std::string sent = as_text(random_bytes(c.size));
    board.write_file("/tmp/sent.bin", sent);
    std::vector<std::string> args = {"sx", "-q"};
    if (c.one_k)
        args.push_back("-k");
    args.push_back(board.host_path("/tmp/sent.bin"));

    Terminal terminal(args);
    board.serial.passthrough_path = terminal.port_path();
    board.real_limit_seconds = 120;
    sim::Run r = board.run([] { return Xmodem1K("/tmp/image"); });

    ASSERT_EQ(r.end, sim::End::Returned) << r.err;
    std::string received = board.read_file("/tmp/image").value_or("<none>");
    // The sender pads its last block of 128 bytes with 0x1A; 1024-byte blocks carry whole data.
    const size_t padded = (c.size + 127) / 128 * 128;
    EXPECT_EQ(r.value, static_cast<int>(padded));
    ASSERT_EQ(received.size(), padded);
    EXPECT_TRUE(received.compare(0, sent.size(), sent) == 0);
    EXPECT_EQ(received.substr(sent.size()), std::string(padded - c.size, '\x1a'));
    EXPECT_NE(r.err.find("All done\n"), std::string::npos);
}

std::vector<InteropCase> cases()
{
    std::vector<InteropCase> all;
    for (bool one_k : {true, false})
        for (size_t size : {0, 1, 127, 128, 1023, 1024, 1025, 3 * 1024 * 1024 + 517})
            all.push_back({one_k, size});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Files, SxInterop, testing::ValuesIn(cases()), case_name);

}  // namespace
