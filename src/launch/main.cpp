#include "launch/launch.h"

// Kept in the binary although nothing reads it: "strings launcher | grep '^launcher version '".
// used keeps it from the compiler; retain keeps its section from the linker's --gc-sections, which
// root file system builds use with -fdata-sections to save space. The leading NUL ends whatever
// printable bytes the linker puts right before it (there, the last instruction of the code), so
// that strings shows the version as a line of its own.
[[gnu::used, gnu::retain]] constexpr char kVersion[] = "\0launcher version " LAUNCHER_VERSION;

int main(int argc, char** argv) { return launcher_main(argc, argv); }
