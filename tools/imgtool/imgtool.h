// imgtool makes and inspects image records, download files, flash images, boot-loader environment
// blocks and application archives for the launcher's board.
#pragma once

#include <ostream>

// Runs one command line, argv[0] being the program's name; gives the exit status: 0 for success, 1
// for a failure or a damaged input, 2 for a usage error.
int imgtool_main(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
