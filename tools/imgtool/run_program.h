// Running the build machine's own programs (xz, tar, gunzip) from PATH.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs argv[0], found in PATH, with the arguments and waits for it; its output goes nowhere when
// quiet.  Gives what went wrong: it could not run, or it failed.
std::optional<std::string> run_program(const std::vector<std::string>& argv, bool quiet = false);
