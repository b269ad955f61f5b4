#include "image/image.h"

int processTavikImage(const char*) { return 0; }
