#include "launch/launch.h"

// Kept in the binary although nothing reads it: "strings launcher | grep '^launcher version '".
[[gnu::used]] constexpr char kVersion[] = "launcher version " LAUNCHER_VERSION;

int main(int argc, char** argv) { return launcher_main(argc, argv); }
