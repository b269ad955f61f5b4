// The group whose members may open a serial device, and what a technician refused the device is told.
#pragma once

#include <string>
#include <sys/types.h>

// Where the system keeps its groups, one "name:password:gid:members" line each.
inline constexpr const char* GROUP_FILE = "/etc/group";

// The name of group gid as group_file gives it; "dialout", the serial devices' group on most
// systems, when the file has no such group or cannot be read.
std::string group_name(gid_t gid, const std::string& group_file);

// What to do after "Permission denied" on a device of mode (its st_mode) that group owns.
std::string permission_advice(mode_t mode, const std::string& group);

// The same for the device at path, from its mode and its group's name.
std::string device_permission_advice(const std::string& path);
