// The group whose members may open a serial device, named for the technician's usermod command.
#pragma once

#include <string>
#include <sys/types.h>

// Where the system keeps its groups, one "name:password:gid:members" line each.
inline constexpr const char* GROUP_FILE = "/etc/group";

// The name of group gid as group_file gives it; "dialout", the serial devices' group on most
// systems, when the file has no such group or cannot be read.
std::string group_name(gid_t gid, const std::string& group_file);

// The group that owns the device at path, by its name.
std::string device_group(const std::string& path);
