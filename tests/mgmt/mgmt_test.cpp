// The management port's link test against the interface and driver states it must tell apart.
#include <functional>
#include <gtest/gtest.h>

#include "mgmt/mgmt.h"
#include "sim/board.h"

namespace {

struct LinkCase {
    const char* name;
    std::function<void(sim::Net&)> set;
    int status;
    std::string out;
};

// IFF_UP is 0x1 and IFF_RUNNING 0x40 in the interface flags.
const LinkCase kCases[] = {
    {"UpRunningWithLink", [](sim::Net&) {}, 1, ""},
    {"AdministrativelyDown", [](sim::Net& n) { n.flags = 0x40; }, 0, ""},
    {"UpButNotRunning", [](sim::Net& n) { n.flags = 0x1; }, 0, ""},
    {"NoLinkFromTheDriver", [](sim::Net& n) { n.link = false; }, 0, ""},
    {"NoSocket", [](sim::Net& n) { n.socket_fails = true; }, 0, "Raw Socket open error\n"},
    {"NoInterface", [](sim::Net& n) { n.interface_missing = true; }, 0, "Open Interface eth0 error.\n"},
    {"FlagsUnreadable", [](sim::Net& n) { n.flags_fail = true; }, 0, "Open flags error.\n"},
    {"DriverWithoutLinkRequest", [](sim::Net& n) { n.ethtool_fails = true; }, 0, "EthTool GLINK error.\n"},
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class MgmtLink : public testing::TestWithParam<LinkCase> {};

TEST_P(MgmtLink, TellsLinkOnlyWhenUpRunningAndReported)
{
    const LinkCase& c = GetParam();
    sim::Board board;
    c.set(board.net);

    // The port number has no effect, and every call closes the socket it opened.
    sim::Run r = board.run([] { return mgmt_link_status(0) * 10 + mgmt_link_status(7); });

    EXPECT_EQ(r.value, c.status * 11);
    EXPECT_EQ(r.out, c.out + c.out);
    const std::vector<std::string> each_call_closes = {"open:socket", "close:socket", "open:socket", "close:socket"};
    if (!c.out.starts_with("Raw Socket")) {
        EXPECT_EQ(r.steps({sim::Event::Kind::Open, sim::Event::Kind::Close}), each_call_closes);
    }
}

INSTANTIATE_TEST_SUITE_P(States, MgmtLink, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
