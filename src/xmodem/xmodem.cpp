#include "xmodem/xmodem.h"

int32_t Xmodem1K(const char*) { return 0; }
