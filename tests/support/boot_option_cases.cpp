#include "boot_option_cases.h"

namespace {

std::string padding(size_t length) { return std::string(length - 1, 'p'); }  // NUL-ended by load_env

const char kDefaults[] = "gdb=0 gdbserver=0 ip=00000000 port=0 shell=0 memchk=0 rescue=0";

}  // namespace

const std::vector<OptionsCase> kOptionsCases = {
    {"Erased", {}, kDefaults},
    {"Unrelated", {"ipaddr=10.0.0.2", "bootdelay=3"}, kDefaults},
    {"All",
     {"gdb=on", "gdbserver=on", "gdbserver_ip=192.168.1.10", "gdbport=2345", "shell=on", "memchk=on",
      "diagnostics=rescue"},
     "gdb=1 gdbserver=1 ip=c0a8010a port=2345 shell=1 memchk=1 rescue=1",
     false,
     false,
     "gdb           on              0x03fe0004 in \"gdb=on\"\n"
     "gdbserver     on              0x03fe000b in \"gdbserver=on\"\n"
     "gdbserver_ip  192.168.1.10    0x03fe0018 in \"gdbserver_ip=192.168.1.10\"\n"
     "gdbport       2345            0x03fe0032 in \"gdbport=2345\"\n"
     "shell         on              0x03fe003f in \"shell=on\"\n"
     "memchk        on              0x03fe0048 in \"memchk=on\"\n"
     "diagnostics   rescue          0x03fe0052 in \"diagnostics=rescue\"\n"},
    {"ServerForcesDebugger",
     {"gdb=off", "gdbserver=on"},
     "gdb=1 gdbserver=1 ip=00000000 port=0 shell=0 memchk=0 rescue=0"},
    {"DebuggerAlone",
     {"gdb=on", "gdbserver=off"},
     "gdb=1 gdbserver=0 ip=00000000 port=0 shell=0 memchk=0 rescue=0"},
    {"OnIsTwoLowerCaseChars",
     {"shell=ON", "memchk=only"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=0 memchk=1 rescue=0"},
    {"OnNeedsBothChars",
     {"shell=o", "memchk=on1"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=0 memchk=1 rescue=0"},
    {"RescuePrefix",
     {"diagnostics=rescue_now"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=0 memchk=0 rescue=1"},
    {"NotRescue", {"diagnostics=rescu"}, kDefaults},
    {"ComponentCarries",
     {"gdbserver_ip=10.1.2.300"},
     "gdb=0 gdbserver=0 ip=0a01032c port=0 shell=0 memchk=0 rescue=0"},
    {"TopComponentWraps",
     {"gdbserver_ip=300.0.0.1"},
     "gdb=0 gdbserver=0 ip=2c000001 port=0 shell=0 memchk=0 rescue=0"},
    {"NegativeComponent",
     {"gdbserver_ip=-1.0.0.0"},
     "gdb=0 gdbserver=0 ip=ff000000 port=0 shell=0 memchk=0 rescue=0"},
    {"PartialAddress", {"gdbserver_ip=10.1.2"}, kDefaults},
    {"FirstOccurrenceWins",
     {"gdbport=1", "gdbport=2"},
     "gdb=0 gdbserver=0 ip=00000000 port=1 shell=0 memchk=0 rescue=0",
     false,
     false,
     "gdb           off             not set\n"
     "gdbserver     off             not set\n"
     "gdbserver_ip  0.0.0.0         not set\n"
     "gdbport       1               0x03fe0004 in \"gdbport=1\"\n"
     "shell         off             not set\n"
     "memchk        off             not set\n"
     "diagnostics   off             not set\n"
     "warning: gdbport= at 0x03fe000e comes after the one at 0x03fe0004: its value is ignored\n"},
    {"NameEndingInKey", {"xgdb=on"}, "gdb=1 gdbserver=0 ip=00000000 port=0 shell=0 memchk=0 rescue=0"},
    {"KeyInsideValue",
     {"bootargs=console shell=on"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=1 memchk=0 rescue=0",
     false,
     false,
     "gdb           off             not set\n"
     "gdbserver     off             not set\n"
     "gdbserver_ip  0.0.0.0         not set\n"
     "gdbport       0               not set\n"
     "shell         on              0x03fe0015 in \"bootargs=console shell=on\"\n"
     "memchk        off             not set\n"
     "diagnostics   off             not set\n"
     "warning: shell= at 0x03fe0015 stands inside the variable \"bootargs=console shell=on\": the launcher takes it for its option\n"},
    {"EmptyValueBeforeName", {"gdbport=", "ipaddr=10.0.0.2"}, kDefaults},
    {"EmptyValueBeforeDigit",
     {"gdbport=", "9lives=1"},
     "gdb=0 gdbserver=0 ip=00000000 port=9 shell=0 memchk=0 rescue=0",
     false,
     false,
     "gdb           off             not set\n"
     "gdbserver     off             not set\n"
     "gdbserver_ip  0.0.0.0         not set\n"
     "gdbport       9               0x03fe0004 in \"gdbport=\"\n"
     "shell         off             not set\n"
     "memchk        off             not set\n"
     "diagnostics   off             not set\n"
     "warning: gdbport= at 0x03fe0004 is empty: the launcher reads 9 from the next variable \"9lives=1\"\n"},
    {"EmptyValueEndsBlock", {padding(512 - 8) + '\0' + "gdbport="}, kDefaults},
    {"AddressKeyEndsBlock", {padding(512 - 13) + '\0' + "gdbserver_ip="}, kDefaults},
    {"LastBytesOfBlock",
     {padding(512 - 8) + '\0' + "shell=on"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=1 memchk=0 rescue=0"},
    {"BeyondBlock",
     {padding(512), "shell=on"},
     kDefaults,
     false,
     false,
     "gdb           off             not set\n"
     "gdbserver     off             not set\n"
     "gdbserver_ip  0.0.0.0         not set\n"
     "gdbport       0               not set\n"
     "shell         off             not set\n"
     "memchk        off             not set\n"
     "diagnostics   off             not set\n"
     "warning: shell= at 0x03fe0204 lies past the 512 bytes the launcher reads: it is not seen\n"},
    {"HalfReadBlock", {"gdb=on", "shell=on", "gdbport=7"}, kDefaults, true},
    {"KeyInLeftovers",
     {"bootdelay=3", "", "shell=on"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=1 memchk=0 rescue=0",
     false,
     false,
     "gdb           off             not set\n"
     "gdbserver     off             not set\n"
     "gdbserver_ip  0.0.0.0         not set\n"
     "gdbport       0               not set\n"
     "shell         on              0x03fe0011 in \"shell=on\"\n"
     "memchk        off             not set\n"
     "diagnostics   off             not set\n"
     "warning: shell= at 0x03fe0011 lies after the end of the variable list: the launcher reads it all the same\n"},
    {"CrcWordIgnored",
     {"shell=on"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=1 memchk=0 rescue=0",
     false,
     true,
     "gdb           off             not set\n"
     "gdbserver     off             not set\n"
     "gdbserver_ip  0.0.0.0         not set\n"
     "gdbport       0               not set\n"
     "shell         on              0x03fe0004 in \"shell=on\"\n"
     "memchk        off             not set\n"
     "diagnostics   off             not set\n"
     "warning: the CRC word 0x00000000 does not match the block's data (0xd987bc58): the boot loader rejects the block, the launcher reads it all the same\n"},
};

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }
