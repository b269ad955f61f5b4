// imgtool send --terminal: after the download, a plain terminal on the board's line.
#pragma once

#include <string>

#include "imgtool/command.h"

class SerialLine;
class Transcript;

// Relays the line and standard input (raw, when it is a terminal) at the line's speed until Ctrl-]
// is typed, standard input ends, the line goes away, or SIGTERM or SIGHUP comes; what the board
// prints goes on into its transcript.
void run_terminal(SerialLine& line, Transcript& transcript, Streams io);
