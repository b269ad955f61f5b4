// The boot options as read from the boot loader's environment, quirks included.
#include <cstdio>
#include <gtest/gtest.h>

#include "flash/flash.h"
#include "launch/launch.h"
#include "tests/support/boot_option_cases.h"
#include "tests/support/launch_support.h"

namespace {

void show_options()
{
    char text[128];
    snprintf(text, sizeof text, "gdb=%d gdbserver=%d ip=%08x port=%d shell=%d memchk=%d rescue=%d",
             gdb_enable, gdbserver_enable, gdbserver, gdbport, shell_enable, memchk_enable, rescue_enable);
    sim::Board::note(text);
}

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

INSTANTIATE_TEST_SUITE_P(Environments, BootOptions, testing::ValuesIn(kOptionsCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
