#include <iostream>

#include "imgtool/imgtool.h"

int main(int argc, char** argv) { return imgtool_main(argc, argv, std::cout, std::cerr); }
