#include "imgtool/send/device_group.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

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

std::string device_group(const std::string& path)
{
    struct stat device {};
    if (stat(path.c_str(), &device) != 0)
        return "dialout";
    return group_name(device.st_gid, GROUP_FILE);
}
