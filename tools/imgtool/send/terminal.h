// imgtool send --terminal: after the download, a plain terminal on the board's line.
#pragma once

#include <string>

#include "imgtool/command.h"

class SerialLine;

// Relays the line and standard input (raw, when it is a terminal) at the line's speed until Ctrl-]
// is typed, standard input ends, the line goes away, or SIGTERM or SIGHUP comes.
void run_terminal(SerialLine& line, Streams io);
