// Environments and the boot options the launcher reads from each, quirks included: one table that
// pins both the launcher's parser and imgtool's report of it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct OptionsCase {
    const char* name;
    std::vector<std::string> env;  // the variables, each ended by a NUL; "" ends the list
    const char* options;           // as the launcher test shows them
    bool read_short = false;       // the read fills half the block and fails
    bool spoil_crc = false;        // the block's CRC word does not match its data
    // What imgtool env --options prints for the block, where the case shows a road of its report.
    const char* report = nullptr;
};

extern const std::vector<OptionsCase> kOptionsCases;

// Names the case in a failing test's message, instead of its bytes.
void PrintTo(const OptionsCase& c, std::ostream* os);
