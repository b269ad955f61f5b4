// The launch of an unpacked application: its modes, the incompatible-image prompt, its failures.
#include <gtest/gtest.h>

#include "i2c/i2c.h"
#include "launch/launch.h"
#include "platform/os.h"
#include "tests/support/console_texts.h"
#include "tests/support/launch_support.h"

namespace {

using Kind = sim::Event::Kind;

const std::initializer_list<Kind> kLaunchSteps = {Kind::Out,  Kind::Err,   Kind::Shell,  Kind::Exec,
                                                  Kind::Exit, Kind::Sleep, Kind::Access, Kind::Close};

const Lines kPrepare = Lines{"sleep:1000000", "sh:" + kUnpackLine, "access:/tmp/home/bin/distro-id",
                             "close:/dev/i2c-0", "out:Uncompressing application image....\n"} +
                       kDecompressCommands;
const Lines kReset = {"sleep:1000000", "sh:reboot", "exit:0"};
const Lines kBacktrace = {"exec:/bin/backtrace"};

enum class Debugger { Absent, Present, MadeInShell };

struct Options {
    int gdb = 0, gdbserver = 0;
    uint32_t ip = 0;
    int port = 0;
    uint8_t shell = 0, memchk = 0;
};

struct LaunchCase {
    const char* name;
    Options options;
    uint8_t is_diagnostics;
    Debugger debugger;
    Lines after_prepare;
};

const Lines kUnderDebugger = {"access:/tmp/gdb", "out:*** Launching under GDB ***\n",
                              "sh:/tmp/gdb /tmp/home/bin/mp.elf.strip"};
const Lines kShell = {"out:Dropping into shell\n", "sh:/bin/sh\n", "out:Dropping out of shell\n"};

const LaunchCase kCases[] = {
    {"Normal", {}, 0, Debugger::Absent, kBacktrace},
    {"Diagnostics",
     {},
     1,
     Debugger::Absent,
     Lines{"out:install diags image\n", "sh:mkdir -p /tmp/home/bin",
           "sh:mv /tmp/mpdiag.elf.strip /tmp/home/bin/mp.elf.strip"} +
         kBacktrace},
    {"Shell", {.shell = 1}, 0, Debugger::Absent, kShell + kBacktrace},
    {"DebugServerDefaults",
     {.gdbserver = 1},
     0,
     Debugger::Absent,
     Lines{"sh:/bin/gdbserver 0.0.0.0:0 /tmp/home/bin/mp.elf.strip\n"} + kReset},
    {"DebugServerWithMemoryChecker",
     {.gdb = 1, .gdbserver = 1, .ip = 0xC0A8010A, .port = 2345, .memchk = 1},
     0,
     Debugger::Present,
     Lines{"sh:LD_PRELOAD=libduma.so.0.0.0 /bin/gdbserver 192.168.1.10:2345 /tmp/home/bin/mp.elf.strip\n"} +
         kReset},
    {"Debugger", {.gdb = 1}, 0, Debugger::Present, kUnderDebugger + kReset},
    {"DebuggerMissing",
     {.gdb = 1, .memchk = 1},
     0,
     Debugger::Absent,
     Lines{"access:/tmp/gdb",
           "out:**** GDB mode selected but GDB not available. Please install GDB image ***\n"} +
         kBacktrace},
    {"DebuggerPutInPlaceFromShell",
     {.gdb = 1, .shell = 1},
     0,
     Debugger::MadeInShell,
     kShell + kUnderDebugger + kReset},
    {"MemoryChecker",
     {.memchk = 1},
     0,
     Debugger::Absent,
     Lines{"sh:LD_PRELOAD=libduma.so.0.0.0 /tmp/home/bin/mp.elf.strip\n"} + kReset},
};

void make_debugger(sim::Board& board) { board.write_file("/tmp/gdb", ""); }

void PrintTo(const LaunchCase& c, std::ostream* os) { *os << c.name; }

class LaunchModes : public testing::TestWithParam<LaunchCase> {};

sim::Run run_launch_mode(const LaunchCase& c, bool console_is_pipe)
{
    sim::Board board;
    board.console.output_is_pipe = console_is_pipe;
    unpack_compatible_image(board);
    if (c.debugger == Debugger::Present)
        make_debugger(board);
    if (c.debugger == Debugger::MadeInShell)
        board.shell.on("/bin/sh\n", [](sim::Board& b, const std::string&) { return make_debugger(b), 0; });

    return board.run([&c]() -> int {
        api_i2c_init();
        gdb_enable = c.options.gdb;
        gdbserver_enable = c.options.gdbserver;
        gdbserver = c.options.ip;
        gdbport = c.options.port;
        shell_enable = c.options.shell;
        memchk_enable = c.options.memchk;
        launch_image(c.is_diagnostics);
    });
}

// With the console on a pipe only explicit flushes keep the messages ahead of the commands and the
// exec that follow them, so the operator must see the same course there.
TEST_P(LaunchModes, RunTheirCommandLines)
{
    sim::Run on_terminal = run_launch_mode(GetParam(), false);
    EXPECT_EQ(on_terminal.steps(kLaunchSteps), kPrepare + GetParam().after_prepare);
    sim::Run on_pipe = run_launch_mode(GetParam(), true);
    EXPECT_EQ(on_pipe.steps(kConsoleAndCommands), on_terminal.steps(kConsoleAndCommands));
}

INSTANTIATE_TEST_SUITE_P(Modes, LaunchModes, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

const char kPrompt[] = "WARNING: Suspected incompatible application image detected during unpacking\n"
                       "Would you like to enter recovery mode to download a new image? y/N: ";

class IncompatibleImage : public testing::TestWithParam<std::pair<std::string, bool>> {};

TEST_P(IncompatibleImage, OffersRescueOnYes)
{
    auto [keys, rescue] = GetParam();
    sim::Board board;
    board.console.keys(keys);

    sim::Run r = board.run([]() -> int {
        api_i2c_init();
        launch_image(0);
    });

    std::string answer = rescue ? kRescueEntry + kRescueMenuChoice : "";
    EXPECT_EQ(
        r.steps({Kind::Out, Kind::Access, Kind::Close, Kind::Exec}),
        (Lines{"access:/tmp/home/bin/distro-id", std::string("out:") + kPrompt + answer, "close:/dev/i2c-0",
               "out:Uncompressing application image....\n", "exec:/bin/backtrace"}));
}

INSTANTIATE_TEST_SUITE_P(Keys, IncompatibleImage,
                         testing::Values(std::pair{"ye", true}, std::pair{"Ye", true}, std::pair{"n", false},
                                         std::pair{"\n", false}, std::pair{"", false}));

TEST(LaunchFailures, ShellThatCannotRunEndsInReset)
{
    sim::Board board;
    board.shell.unavailable = true;
    sim::Run r = board.run([]() -> int { launch_image(0); });
    EXPECT_EQ(r.steps(kConsoleAndCommands),
              (Lines{"sh:" + kUnpackLine, "err:Failed to gunzip Application OS.\n", "sh:reboot",
                     "err:System reboot failed, please power-cycle.\n", "exit:0"}));
    EXPECT_EQ(r.end, sim::End::Exited);
}

TEST(LaunchFailures, ExecThatFailsEndsInReset)
{
    sim::Board board;
    unpack_compatible_image(board);
    board.files.exec_fails = true;
    sim::Run r = board.run([]() -> int {
        api_i2c_init();
        launch_image(0);
    });
    EXPECT_EQ(r.steps(kLaunchSteps),
              kPrepare + kBacktrace + Lines{"err:Failed to start Application OS.\n"} + kReset);
    EXPECT_EQ(r.exec_argv, Lines{"/bin/backtrace"});
}

TEST(BoardReset, EndsWithStatusZeroWhateverRebootReports)
{
    sim::Board board;
    board.shell.on("reboot", [](sim::Board&, const std::string&) { return 1; });
    sim::Run r = board.run([]() -> int { board_reset(); });
    EXPECT_EQ(r.steps(kLaunchSteps), kReset);
    EXPECT_EQ(r.end, sim::End::Exited);
    EXPECT_EQ(r.value, 0);
}

}  // namespace
