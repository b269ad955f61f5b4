// The management Ethernet port's link test.
#pragma once

#include <cstdint>

// 1 when "eth0" is up, running and its driver reports link; 0 otherwise and after every failure.
// The port number is accepted for callers that name one; the interface is always "eth0".
int mgmt_link_status(uint8_t port);
