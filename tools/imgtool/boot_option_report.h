// The boot options of an environment block as the launcher reads them, with the traps that make
// it read otherwise than the boot loader's own list of variables suggests.
#pragma once

#include <cstdint>
#include <ostream>

// Prints each option's value and where its key stands, then a warning for each trap; gives whether
// it warned.  block holds the FLASH_ENV_SIZE bytes of the environment area.
bool report_boot_options(const uint8_t* block, std::ostream& out);
