// The management network interface "eth0" as the socket requests see it.
#include <cerrno>
#include <cstring>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include "sim/emulated_system.h"

namespace sim {

int socket_ioctl(unsigned long request, void* arg)
{
    Net& net = board().net;
    auto* request_record = static_cast<ifreq*>(arg);
    if (std::strncmp(request_record->ifr_name, "eth0", IFNAMSIZ) != 0 || net.interface_missing)
        return fail(ENODEV);
    switch (request) {
    case SIOCGIFINDEX:
        request_record->ifr_ifindex = 2;
        return 0;
    case SIOCGIFFLAGS:
        if (net.flags_fail)
            return fail(EIO);
        request_record->ifr_flags = net.flags;
        return 0;
    case SIOCETHTOOL: {
        if (net.ethtool_fails)
            return fail(EOPNOTSUPP);
        auto* value = reinterpret_cast<ethtool_value*>(request_record->ifr_data);
        if (value->cmd != ETHTOOL_GLINK)
            return fail(EOPNOTSUPP);
        value->data = net.link ? 1 : 0;
        return 0;
    }
    default:
        return fail(ENOTTY);
    }
}

}  // namespace sim
