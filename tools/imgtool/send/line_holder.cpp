#include "imgtool/send/line_holder.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_alive(pid_t pid)
{
    // A process of another user is there too, though it may not be signalled
    return kill(pid, 0) == 0 || errno == EPERM;
}

using Entries = std::filesystem::directory_iterator;

// Processes come and go while /proc is read: a directory gone meanwhile ends its listing quietly.
template <typename Visit>
bool any_entry(const std::filesystem::path& directory, Visit visit)
{
    std::error_code error;
    for (Entries entry(directory, error); !error && entry != Entries(); entry.increment(error)) {
        if (visit(entry->path()))
            return true;
    }
    return false;
}

bool has_open(const std::filesystem::path& process, dev_t device)
{
    return any_entry(process / "fd", [device](const std::filesystem::path& descriptor) {
        struct stat opened {};
        return stat(descriptor.c_str(), &opened) == 0 && S_ISCHR(opened.st_mode) && opened.st_rdev == device;
    });
}

}  // namespace

std::optional<pid_t> lock_file_holder(const std::string& lock_dir, const std::string& device_name)
{
    std::ifstream file(lock_dir + "/LCK.." + device_name);
    long pid = 0;
    if (!(file >> pid) || pid <= 0 || pid == getpid() || !is_alive(static_cast<pid_t>(pid)))
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

std::string process_text(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return (name.empty() ? "" : name + ", ") + "pid " + std::to_string(pid);
}

std::string device_holder(dev_t device)
{
    const std::string self = std::to_string(getpid());
    std::string holder;
    any_entry("/proc", [&](const std::filesystem::path& process) {
        const std::string name = process.filename().string();
        if (name == self || name.find_first_not_of("0123456789") != std::string::npos ||
            !has_open(process, device))
            return false;
        holder = process_text(static_cast<pid_t>(std::stol(name)));
        return true;
    });
    return holder;
}
