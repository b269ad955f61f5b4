#include "mgmt/mgmt.h"

#include <cstdio>
#include <cstring>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/socket.h>

#include "platform/os.h"

namespace {

constexpr char MGMT_INTERFACE[] = "eth0";

// Asks the stack and the driver in turn; false after printing what failed.
bool query_link(int sock, ifreq& request, short* flags, ethtool_value* link)
{
    if (os::ioctl(sock, SIOCGIFINDEX, &request) < 0) {
        printf("Open Interface %s error.\n", MGMT_INTERFACE);
        return false;
    }
    if (os::ioctl(sock, SIOCGIFFLAGS, &request) < 0) {
        puts("Open flags error.");
        return false;
    }
    *flags = request.ifr_flags;
    *link = ethtool_value{ETHTOOL_GLINK, 0};
    request.ifr_data = reinterpret_cast<char*>(link);
    if (os::ioctl(sock, SIOCETHTOOL, &request) < 0) {
        puts("EthTool GLINK error.");
        return false;
    }
    return true;
}

}  // namespace

int mgmt_link_status(uint8_t)
{
    int sock = os::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        puts("Raw Socket open error");
        return 0;
    }
    ifreq request{};
    strncpy(request.ifr_name, MGMT_INTERFACE, IFNAMSIZ - 1);
    short flags = 0;
    ethtool_value link{};
    bool answered = query_link(sock, request, &flags, &link);
    os::close(sock);
    if (!answered)
        return 0;
    return link.data != 0 && (flags & IFF_UP) && (flags & IFF_RUNNING) ? 1 : 0;
}
