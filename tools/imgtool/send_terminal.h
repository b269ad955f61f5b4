// imgtool send --terminal: after the download, a plain terminal on the board's line.
#pragma once

#include <string>

#include "imgtool/command.h"

// Relays the line and standard input (raw, when it is a terminal) at the console's speed until
// Ctrl-] is typed, standard input ends, or the line goes away.
void run_terminal(const std::string& line_path, Streams io);
