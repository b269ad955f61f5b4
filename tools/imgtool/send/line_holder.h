// Who else has a serial line: terminal programs mark a line they use with an advisory lock on the
// device (flock) or with a lock file named after it (LCK..ttyUSB0, holding the owner's PID); the
// holder is named from the lock file or from the processes that have the device open.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// The directories where lock files of serial lines are kept, the older name first.
constexpr const char* LINE_LOCK_DIRS[] = {"/var/lock", "/run/lock"};

// The live process, other than this one, whose PID the lock file LCK..<device_name> in lock_dir
// holds (ten columns of ASCII digits and a line end, by the convention); nullopt when there is no
// such file, or its process is gone.
std::optional<pid_t> lock_file_holder(const std::string& lock_dir, const std::string& device_name);

// "picocom, pid 4242": the process's name and PID.
std::string process_text(pid_t pid);

// The first process, other than this one, that has the character device open, as process_text
// gives it; empty when none can be seen (another user's processes cannot).
std::string device_holder(dev_t device);
