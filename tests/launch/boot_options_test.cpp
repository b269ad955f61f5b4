// The boot options as read from the boot loader's environment, quirks included.
#include <cstdio>
#include <gtest/gtest.h>

#include "flash/flash.h"
#include "launch/launch.h"
#include "tests/support/launch_support.h"

namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::string> env;
    const char* options;      // as shown by show_options()
    bool read_short = false;  // the read fills half the block and fails
};

std::string padding(size_t length) { return std::string(length - 1, 'p'); }  // NUL-ended by load_env

const char kDefaults[] = "gdb=0 gdbserver=0 ip=00000000 port=0 shell=0 memchk=0 rescue=0";

const OptionsCase kCases[] = {
    {"Erased", {}, kDefaults},
    {"Unrelated", {"ipaddr=10.0.0.2", "bootdelay=3"}, kDefaults},
    {"All",
     {"gdb=on", "gdbserver=on", "gdbserver_ip=192.168.1.10", "gdbport=2345", "shell=on", "memchk=on",
      "diagnostics=rescue"},
     "gdb=1 gdbserver=1 ip=c0a8010a port=2345 shell=1 memchk=1 rescue=1"},
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
     "gdb=0 gdbserver=0 ip=00000000 port=1 shell=0 memchk=0 rescue=0"},
    {"NameEndingInKey", {"xgdb=on"}, "gdb=1 gdbserver=0 ip=00000000 port=0 shell=0 memchk=0 rescue=0"},
    {"KeyInsideValue",
     {"bootargs=console shell=on"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=1 memchk=0 rescue=0"},
    {"EmptyValueBeforeName", {"gdbport=", "ipaddr=10.0.0.2"}, kDefaults},
    {"EmptyValueBeforeDigit",
     {"gdbport=", "9lives=1"},
     "gdb=0 gdbserver=0 ip=00000000 port=9 shell=0 memchk=0 rescue=0"},
    {"EmptyValueEndsBlock", {padding(512 - 8) + '\0' + "gdbport="}, kDefaults},
    {"AddressKeyEndsBlock", {padding(512 - 13) + '\0' + "gdbserver_ip="}, kDefaults},
    {"LastBytesOfBlock",
     {padding(512 - 8) + '\0' + "shell=on"},
     "gdb=0 gdbserver=0 ip=00000000 port=0 shell=1 memchk=0 rescue=0"},
    {"BeyondBlock", {padding(512), "shell=on"}, kDefaults},
    {"HalfReadBlock", {"gdb=on", "shell=on", "gdbport=7"}, kDefaults, true},
};

void show_options()
{
    char text[128];
    snprintf(text, sizeof text, "gdb=%d gdbserver=%d ip=%08x port=%d shell=%d memchk=%d rescue=%d",
             gdb_enable, gdbserver_enable, gdbserver, gdbport, shell_enable, memchk_enable, rescue_enable);
    sim::Board::note(text);
}

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class BootOptions : public testing::TestWithParam<OptionsCase> {};

TEST_P(BootOptions, AreReadFromTheEnvironment)
{
    const OptionsCase& c = GetParam();
    sim::Board board;
    load_env(board, c.env);
    if (c.read_short)
        board.flash.faults.push_back({sim::FlashOp::Read, 0, 0x03FE0004, true});

    sim::Run r = board.run([] {
        api_flash_init();
        parse_uboot_env();
        show_options();
        return 0;
    });

    EXPECT_EQ(r.steps({sim::Event::Kind::Note}), std::vector<std::string>{std::string("note:") + c.options});
}

INSTANTIATE_TEST_SUITE_P(Environments, BootOptions, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
