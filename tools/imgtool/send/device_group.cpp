#include "imgtool/send/device_group.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "imgtool/send/failure_phrases.h"

// The file is read directly rather than through getgrgid: the package's imgtool is linked
// statically, and the C library's group lookup would need the name service modules of the very
// version it was linked with, which a technician's laptop need not have.
std::string group_name(gid_t gid, const std::string& group_file)
{
    std::ifstream groups(group_file);
    for (std::string entry; std::getline(groups, entry);) {
        std::istringstream fields(entry);
        std::string name, password, number;
        if (std::getline(fields, name, ':') && std::getline(fields, password, ':') &&
            std::getline(fields, number, ':') && !name.empty() && number == std::to_string(gid))
            return name;
    }
    return "dialout";
}

// Joining the group helps only when the group may both read and write the device; a device that
// only its owner may open (root's, as a udev rule of the system's leaves some adapters) needs root
// itself, or a rule of the technician's own that hands it to the serial devices' group.
std::string permission_advice(mode_t mode, const std::string& group)
{
    if ((mode & S_IRGRP) != 0 && (mode & S_IWGRP) != 0)
        return "add this user to the group " + group + " (sudo usermod -aG " + group +
               " $USER), log in again, then run imgtool send again";
    char bits[8];
    snprintf(bits, sizeof bits, "%04o", static_cast<unsigned>(mode & 07777));
    return std::string(phrase::NOT_OPEN_TO_GROUP) + " (" + group + ", mode " + bits +
           "): run imgtool send with sudo, or give the adapter to the group dialout with a udev rule (see "
           "the runbook, section 1), then run imgtool send again";
}

std::string device_permission_advice(const std::string& path)
{
    struct stat device {};
    if (stat(path.c_str(), &device) != 0)
        return permission_advice(S_IRGRP | S_IWGRP, "dialout");
    return permission_advice(device.st_mode, group_name(device.st_gid, GROUP_FILE));
}
