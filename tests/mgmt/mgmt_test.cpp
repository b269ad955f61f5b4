// The management port's link test against the interface and driver states it must tell apart.
#include <gtest/gtest.h>

#include "mgmt/mgmt.h"
#include "sim/board.h"
#include "tests/support/link_states.h"

namespace {

class MgmtLink : public testing::TestWithParam<LinkState> {};

TEST_P(MgmtLink, TellsLinkOnlyWhenUpRunningAndReported)
{
    const LinkState& c = GetParam();
    sim::Board board;
    c.set(board.net);

    // The port number has no effect, and every call closes the socket it opened.
    sim::Run r = board.run([] { return mgmt_link_status(0) * 10 + mgmt_link_status(7); });

    EXPECT_EQ(r.value, c.status * 11);
    EXPECT_EQ(r.out, c.out + c.out);
    const std::vector<std::string> each_call_closes = {"open:socket", "close:socket", "open:socket",
                                                       "close:socket"};
    if (!c.out.starts_with("Raw Socket")) {
        EXPECT_EQ(r.steps({sim::Event::Kind::Open, sim::Event::Kind::Close}), each_call_closes);
    }
}

INSTANTIATE_TEST_SUITE_P(States, MgmtLink, testing::ValuesIn(kLinkStates),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
