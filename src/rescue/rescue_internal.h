// Pieces of module rescue shared by its files and its tests.
#pragma once

#include <cstdint>

// One raw key read from standard input, as uartGetC does it: 1 with the key stored, 0 at the end
// of input, -1 when the read failed or a signal interrupted it.
int read_console_key(uint8_t* key);
// Whether a result of read_console_key means that no key will ever come: the console has gone
// (end of input, or a failure other than an interrupt).
bool console_gone(int read_result);

// Reads one line from the console into buffer (size bytes, at least 1) with in-line editing; the
// line is NUL-terminated, without its line end.  Gives buffer.
char* get_user_input(char* buffer, int size);
