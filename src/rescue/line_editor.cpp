#include "rescue/rescue_internal.h"

char* get_user_input(char* buffer, int) { return buffer; }
