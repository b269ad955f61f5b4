#include <cstdio>

#include "rescue/rescue.h"

int run_rescue_mode()
{
    puts("Entering Rescue Mode.");
    return 1;
}
