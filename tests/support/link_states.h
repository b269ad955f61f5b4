// The states the simulated board's management interface can be put in, and what each must look
// like from the program: to the plain requests the link test makes, and to the link test itself.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "sim/board.h"

struct LinkState {
    const char* name;
    std::function<void(sim::Net&)> set;
    // The board's answer to the requests in turn: the first that fails (1 socket, 2 interface index,
    // 3 flags, 4 ethtool), 5 when the interface is not both up and running, else 10 + the link.
    int requests;
    // mgmt_link_status's result and what it prints.
    int status;
    std::string out;
};

inline void PrintTo(const LinkState& state, std::ostream* os) { *os << state.name; }

// IFF_UP is 0x1 and IFF_RUNNING 0x40 in the interface flags.
inline const LinkState kLinkStates[] = {
    {"UpRunningWithLink", [](sim::Net&) {}, 11, 1, ""},
    {"AdministrativelyDown", [](sim::Net& n) { n.flags = 0x40; }, 5, 0, ""},
    {"UpButNotRunning", [](sim::Net& n) { n.flags = 0x1; }, 5, 0, ""},
    {"NoLinkFromTheDriver", [](sim::Net& n) { n.link = false; }, 10, 0, ""},
    {"NoSocket", [](sim::Net& n) { n.socket_fails = true; }, 1, 0, "Raw Socket open error\n"},
    {"NoInterface", [](sim::Net& n) { n.interface_missing = true; }, 2, 0, "Open Interface eth0 error.\n"},
    {"FlagsUnreadable", [](sim::Net& n) { n.flags_fail = true; }, 3, 0, "Open flags error.\n"},
    {"DriverWithoutLinkRequest", [](sim::Net& n) { n.ethtool_fails = true; }, 4, 0, "EthTool GLINK error.\n"},
};
