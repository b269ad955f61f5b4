// Rescue mode: the console menu and the console primitives.
#pragma once

// One key from standard input, no echo and no line wait; 0 when nothing was read.
int uartGetC();
// One byte to standard output, flushed at once.
void uartPutC(int byte);
// The rescue menu; gives 1 when the operator leaves it with Exit (or the console input ends).
int run_rescue_mode();
// Receives a download into "/tmp/image" and installs it: the installer's result, or 0 when
// nothing was received.
int run_xmodem_rescue();
