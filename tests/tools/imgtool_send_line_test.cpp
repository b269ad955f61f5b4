// imgtool send on lines that hold no board ready for a download: silence, a loopback, a file, a
// board booting its application, a board whose download port is missing, a line another program
// holds; two lines at once, where one board's failure does not stop the other's result from being
// reported, and two names of one line; and scripted boards taken through a whole download: their
// boot, the transfer, the installer and the next boot.
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "imgtool/send/device_group.h"
#include "imgtool/send/line_holder.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/session.h"
#include "tests/support/imgtool_support.h"
#include "tests/support/scripted_board.h"
#include "tests/support/sx_terminal.h"

namespace {

// A terminal program left open on the line: a process of its name with the device open and locked.
class OtherProgram {
public:
    OtherProgram(const std::string& line, const char* name)
    {
        int ready[2];
        if (pipe(ready) != 0)
            throw std::runtime_error("no pipe");
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(line.c_str(), O_RDWR | O_NOCTTY);
            if (fd < 0 || flock(fd, LOCK_EX) != 0 || prctl(PR_SET_NAME, name) != 0 ||
                write(ready[1], "", 1) != 1)
                _exit(1);
            pause();
            _exit(0);
        }
        char byte = 0;
        if (read(ready[0], &byte, 1) != 1)
            ADD_FAILURE() << "the other program did not take the line";
        close(ready[0]);
        close(ready[1]);
    }
    ~OtherProgram()
    {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// Far ends that are no board ready for a download
const BoardScript silent{};
const BoardScript echo{.loopback = true};
const BoardScript menu_without_download_port{.shows_menu = true, .download_port_missing = true};

// What a far end prints as the line opens, then its own script.
BoardScript greeting_then(const std::string& greeting, BoardScript board)
{
    board.boot = greeting + board.boot;
    return board;
}

// The line of the table at the end that is the line's row: its name and a space.
std::string row_of(const std::string& out, const std::string& line)
{
    const size_t at = out.find("\n" + line + " ");
    return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

const char* const kBooting = "Booting image '1'\r\nUncompressing application image....\r\n";

struct LineCase {
    const char* name;
    const char* greeting;
    BoardScript far_end;
    const char* wait;
    int status;
    std::string said;    // in what the tool says of the line on standard error
    const char* holder;  // the name of another program that holds the line
};

const LineCase kLines[] = {
    {"Silence", "", silent, "1", 3,
     "LINE: no board answered within 1 s: nothing came back on the line; check the cable and the adapter, and "
     "that the board is powered\n",
     nullptr},
    // The one key typed into a line silent for 8 s
    {"Loopback", "", echo, "9", 3,
     "LINE: no board answered: only the keys typed came back, and the erase key as typed (a loopback, or a "
     "board at another program's prompt)\n",
     nullptr},
    {"BoardBootingItsApplication", kBooting, silent, "4", 1,
     "LINE: the board is booting its application, not the rescue menu: set diagnostics=rescue in the boot "
     "loader's environment and power-cycle it, or power-cycle it and answer y to the recovery question\n",
     nullptr},
    {"BoardWithoutDownloadPort", "Option? : ", menu_without_download_port, "4", 1,
     "LINE: the board reported: Can't open serial port! (it cannot open its download port)\n", nullptr},
    {"HeldByAnotherProgram", "Option? : ", echo, "4", 3,
     "LINE: LINE is in use by another program (picocom, pid PID): close it, then run imgtool send again\n",
     "picocom"},
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class SendOnLine : public testing::TestWithParam<LineCase> {};

TEST_P(SendOnLine, EndsWithTheStatusAndWordsOfWhatIsThere)
{
    const LineCase& c = GetParam();
    TempDir dir;
    ScriptedBoard far_end(greeting_then(c.greeting, c.far_end));
    std::optional<OtherProgram> holder;
    if (c.holder)
        holder.emplace(far_end.path(), c.holder);

    const ToolRun r = imgtool({"send", "--line", far_end.path(), "--wait", c.wait, "--slot", "2",
                               dir.write("download.bin", make_record(0x014A414E, "archive"))});

    EXPECT_EQ(r.status, c.status) << r.err;
    std::string said = c.said;
    for (size_t at; (at = said.find("LINE")) != std::string::npos;)
        said.replace(at, 4, far_end.path());
    if (holder)
        said.replace(said.find("PID"), 3, std::to_string(holder->pid()));
    EXPECT_NE(r.err.find("imgtool send: " + said), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("installed:"), std::string::npos);
    if (holder) {
        EXPECT_EQ(far_end.typed_bytes(), 0u) << "typed into a line another program holds";
    }
}

INSTANTIATE_TEST_SUITE_P(FarEnds, SendOnLine, testing::ValuesIn(kLines),
                         [](const auto& info) { return info.param.name; });

TEST(SendOnLine, AFileIsNoLine)
{
    TempDir dir;
    const std::string line = dir.write("line", "");

    const ToolRun r = imgtool(
        {"send", "--line", line, "--slot", "1", dir.write("download.bin", make_record(0x014A414E, "a"))});

    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(line + ": no board answered: cannot use " + line +
                         ": Inappropriate ioctl for device (not a "
                         "serial line)\n"),
              std::string::npos)
        << r.err;
}

// Each board's transcript is its own, also when the lines' device names are the same.
TEST(SendOnLine, EveryBoardIsServedAndTheWorstOutcomeIsTheStatus)
{
    TempDir dir;
    ScriptedBoard quiet(silent);
    ScriptedBoard booting(greeting_then(kBooting, silent));
    ASSERT_EQ(mkdir(dir.path("one").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.path("two").c_str(), 0700), 0);
    const std::string quiet_line = dir.path("one/tty"), booting_line = dir.path("two/tty");
    ASSERT_EQ(symlink(quiet.path().c_str(), quiet_line.c_str()), 0);
    ASSERT_EQ(symlink(booting.path().c_str(), booting_line.c_str()), 0);

    const ToolRun r =
        imgtool({"send", "--line", quiet_line, "--line", booting_line, "--wait", "1", "--slot", "1", "--log",
                 dir.path("log"), dir.write("download.bin", make_record(0x014A414E, "archive"))});

    EXPECT_EQ(r.status, 1);
    // The board's own lines carry their line's name when several are served
    EXPECT_NE(r.out.find(booting_line + ": Uncompressing application image....\n"), std::string::npos)
        << r.out;
    EXPECT_NE(row_of(r.out, quiet_line).find(" failed: no board answered within 1 s"), std::string::npos)
        << r.out;
    EXPECT_NE(row_of(r.out, booting_line).find(" failed: the board is booting its application"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(dir.read("log.tty").find("Uncompressing"), std::string::npos);
    EXPECT_NE(dir.read("log.tty.2").find("Uncompressing"), std::string::npos);
}

TEST(SendOnLine, OneLineNamedTwiceIsRefusedBeforeItIsTouched)
{
    TempDir dir;
    ScriptedBoard far_end(greeting_then("Option? : ", echo));
    const std::string link = dir.path("usb-adapter-port0");
    ASSERT_EQ(symlink(far_end.path().c_str(), link.c_str()), 0);

    const ToolRun r = imgtool({"send", "--line", far_end.path(), "--line", link, "--slot", "1",
                               dir.write("download.bin", make_record(0x014A414E, "a"))});

    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "imgtool send: --line " + far_end.path() + " and --line " + link +
                         " are the same device (see imgtool send --help)\n");
    EXPECT_EQ(far_end.typed_bytes(), 0u);
}

struct SignalCase {
    const char* name;
    int signal;
    std::vector<std::string> options;
    int after_ms;  // since the start
    int status;
    std::string said;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

const SignalCase kSignals[] = {
    {"TerminatedWhileLookingForTheBoard",
     SIGTERM,
     {"--wait", "30"},
     1000,
     1,
     ": stopped by a signal (SIGTERM or SIGHUP) before the transfer: nothing was sent\n"},
    // No board within a second, then the terminal on the line
    {"HungUpInTheTerminal", SIGHUP, {"--wait", "1", "--terminal"}, 2500, 3, "terminal ended by a signal"},
};

std::vector<tcflag_t> settings_of(int fd)
{
    termios settings{};
    tcgetattr(fd, &settings);
    return {settings.c_iflag, settings.c_oflag, settings.c_cflag, settings.c_lflag, cfgetospeed(&settings)};
}

class SendStops : public testing::TestWithParam<SignalCase> {};

TEST_P(SendStops, PuttingBackTheLinesSettingsAndTheTerminalsMode)
{
    const SignalCase& c = GetParam();
    TempDir dir;
    ScriptedBoard far_end(silent);
    const int line = open(far_end.path().c_str(), O_RDWR | O_NOCTTY);
    const std::vector<tcflag_t> line_before = settings_of(line);
    // Standard input a terminal in its usual mode, for the terminal's raw keys to be put back on
    Pty keyboard;
    termios cooked{};
    tcgetattr(keyboard.slave, &cooked);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    tcsetattr(keyboard.slave, TCSANOW, &cooked);
    const std::vector<tcflag_t> keyboard_before = settings_of(keyboard.slave);
    const int standard_input = dup(STDIN_FILENO);
    dup2(keyboard.slave, STDIN_FILENO);
    std::vector<std::string> args = {"send", "--line", far_end.path(), "--slot", "1"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(dir.write("download.bin", make_record(0x014A414E, "archive")));
    std::thread signaller([&c] {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.after_ms));
        kill(getpid(), c.signal);
    });

    const ToolRun r = imgtool(args);
    signaller.join();
    dup2(standard_input, STDIN_FILENO);
    close(standard_input);

    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(settings_of(line), line_before);
    EXPECT_EQ(settings_of(keyboard.slave), keyboard_before);
    close(line);
}

INSTANTIATE_TEST_SUITE_P(Signals, SendStops, testing::ValuesIn(kSignals),
                         [](const auto& info) { return info.param.name; });

struct LockFileCase {
    const char* name;
    const char* content;  // PID stands for a live process's number; no file when null
    bool held;
};

void PrintTo(const LockFileCase& c, std::ostream* os) { *os << c.name; }

const LockFileCase kLockFiles[] = {
    {"TenColumnsOfALiveProcess", "       PID\n", true},
    {"AProcessGone", "  99999999\n", false},  // above the largest PID Linux gives
    {"NotANumber", "picocom\n", false},
    {"NoLockFile", nullptr, false},
};

class LineLockFile : public testing::TestWithParam<LockFileCase> {};

TEST_P(LineLockFile, NamesALiveHolderOnly)
{
    const LockFileCase& c = GetParam();
    TempDir dir;
    const pid_t live = getppid();
    if (c.content) {
        std::string content = c.content;
        if (const size_t at = content.find("PID"); at != std::string::npos)
            content.replace(at, 3, std::to_string(live));
        dir.write("LCK..ttyUSB0", content);
    }

    const std::optional<pid_t> holder = lock_file_holder(dir.path(""), "ttyUSB0");

    EXPECT_EQ(holder, c.held ? std::optional<pid_t>(live) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Contents, LineLockFile, testing::ValuesIn(kLockFiles),
                         [](const auto& info) { return info.param.name; });

// The group a technician is told to join, read from the group file itself.
TEST(DeviceGroup, IsNamedFromTheGroupFileOrIsDialout)
{
    TempDir dir;
    const std::string groups =
        dir.write("group", "root:x:0:\nuucp:x:10:\ndialout:x:20:tech\nserial:x:200:\n");
    const struct {
        gid_t gid;
        std::string file;
        const char* name;
    } rows[] = {
        {200, groups, "serial"},
        {20, groups, "dialout"},
        {2000, groups, "dialout"},  // no such group
        {200, dir.path("missing"), "dialout"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(group_name(row.gid, row.file), row.name) << row.gid << " in " << row.file;
}

// The line is this program's alone while it is taken, so that a terminal program opened on it later
// is refused, and free again when it is let go.
TEST(SerialLineTaken, IsExclusiveOnlyWhileTaken)
{
    enum class Stage { KeptOpen, Taken, Closed };
    const struct {
        const char* name;
        Stage stage;
        int exclusive;
    } rows[] = {
        {"kept open", Stage::KeptOpen, 0},
        {"taken", Stage::Taken, 1},
        {"closed", Stage::Closed, 0},
    };
    for (const auto& row : rows) {
        Pty pty;
        SerialLine line;
        ASSERT_EQ(SerialLine::keep_open(pty.path, line), std::nullopt) << row.name;
        if (row.stage != Stage::KeptOpen) {
            ASSERT_EQ(line.take(9600), std::nullopt) << row.name;
        }
        if (row.stage == Stage::Closed)
            line.close();
        int exclusive = -1;
        ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0) << row.name;
        EXPECT_EQ(exclusive, row.exclusive) << row.name;
    }
}

// Joining the device's group is advised only where the group may read and write the device.
TEST(DeviceGroup, IsAdvisedOnlyWhenItMayReadAndWriteTheDevice)
{
    const std::string join_dialout =
        "add this user to the group dialout (sudo usermod -aG dialout $USER), log in "
        "again, then run imgtool send again";
    const std::string root_only =
        "not open to its group (root, mode 0600): run imgtool send with sudo, or give the "
        "adapter to the group dialout with a udev rule (see the runbook, section 1), then "
        "run imgtool send again";
    const struct {
        mode_t mode;
        const char* group;
        std::string advice;
    } rows[] = {
        {S_IFCHR | 0660, "dialout", join_dialout},
        {S_IFCHR | 0600, "root", root_only},
        {0600, "root", root_only},
        {S_IFCHR | 0640, "dialout",
         "not open to its group (dialout, mode 0640): run imgtool send with sudo, or give the adapter to the group "
         "dialout with a udev rule (see the runbook, section 1), then run imgtool send again"},
        // A virtual console's: its group may write to it but not read it
        {S_IFCHR | 0620, "tty",
         "not open to its group (tty, mode 0620): run imgtool send with sudo, or give the adapter to the group "
         "dialout with a udev rule (see the runbook, section 1), then run imgtool send again"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(permission_advice(row.mode, row.group), row.advice)
            << std::oct << row.mode << " " << row.group;
}

// A signal to this process, which runs the tool, once its handler has run: the kernel has it run in
// whichever thread it picks, when that thread next runs, and a loaded machine would otherwise let the
// tool go on meanwhile.
void raise_and_await(int signal)
{
    kill(getpid(), signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (operator_interrupts.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
}

struct DownloadCase {
    const char* name;
    BoardScript board;
    std::string download;
    std::vector<std::string> options;
    int status;
    std::vector<std::string> said;  // each in what the tool printed, LINE for the tool's note on the line
};

const std::string kApplication = make_record(0x014A414E, "archive");
const std::string kKernelRecord = make_record(0x034A414E, "uImage");

// Five blocks of 1024 bytes
const std::string kLargeApplication = make_record(0x014A414E, std::string(5000, 'a'));

const DownloadCase kDownloads[] = {
    {"CountdownAfterASilentMemoryTestRunsOut",
     {5, kLoader, true, true, kSlotQuestion, kSlot2Written + std::string(kMenu), ""},
     kApplication,
     {"--slot", "2", "--wait", "20"},
     0,
     {"installed: application in slot 2"}},
    {"IdleAtItsMenuSinceBefore",
     {0, "", false, true, kSlotQuestion, kSlot2Written + std::string(kMenu), ""},
     kApplication,
     {"--slot", "2", "--wait", "20"},
     0,
     {"installed: application in slot 2"}},
    // Silent for longer than the wake key waits for, after its boot: still no key
    {"BootThenNothing",
     {0, kLoader + std::string(kKernel), false, false, "", "", ""},
     kApplication,
     {"--slot", "2", "--wait", "10"},
     1,
     {"LINE: the board booted but never showed its menu within 10 s (its last line: \"[    0.000000] Linux version "
      "6.1.0\")"}},
    {"RestartInTheSlotWrite",
     {0, "\r\n", false, true, kSlotQuestion,
      "\r\nInstalling image as image2...\r\n..........\r\n" + std::string(kLoader) + kKernel +
          "Entering Rescue Mode.\r\n" + kMenu,
      ""},
     kApplication,
     {"--slot", "2"},
     1,
     {"LINE: the board restarted during the install (its line: \"U-Boot 2023.01\"): slot 2 was being written and "
      "must not be trusted; the board boots the slot it booted before this download (the slot changes only after "
      "a whole write); download again\n"}},
    {"RestartInTheKernelWrite",
     {0, "\r\n", false, true,
      "\r\n\r\nExtracting images ... Do *NOT* power cycle the switch.\r\n**** KERNEL ****\r\n...\r\nEntering "
      "Rescue Mode.\r\n" +
          std::string(kMenu),
      "", ""},
     kKernelRecord,
     {},
     1,
     {"LINE: the board restarted during the install (its line: \"Entering Rescue Mode.\"): the kernel's area was "
      "being written and must not be trusted"}},
    {"DownloadNotStored",
     {0, "\r\n", false, true, "\r\nCan't write file!: No space left on device\r\n" + std::string(kMenu), "",
      ""},
     kKernelRecord,
     {},
     1,
     {"LINE: the board reported: Can't write file!: No space left on device (nothing was installed)\n"}},
    {"CtrlCAtTheSlotQuestion",
     {0, "\r\n", false, true, kSlotQuestion, kSlot2Written + std::string(kMenu), "", SIGINT},
     kApplication,
     {"--slot", "2"},
     0,
     {"LINE: Ctrl-C: the board is installing, and this tool goes on answering it until its walk ends (Ctrl-C "
      "again leaves at once)\n",
      "LINE: answering 2\n", "installed: application in slot 2"}},
    {"KernelOnlyVerified",
     {0, "\r\n", false, true,
      "\r\n\r\nExtracting images ... Do *NOT* power cycle the switch.\r\n**** KERNEL ****\r\n.\r\n" +
          std::string(kMenu),
      "", "\r\nBooting image '1'\r\nUncompressing application image....\r\napplication up\r\n"},
     kKernelRecord,
     {"--verify"},
     0,
     {"installed: kernel; booted slot 1"}},
    // The slot question is answered if it came with the signal; either way the board is left installing
    {"TerminatedInTheInstall",
     {0, "\r\n", false, true, kSlotQuestion, kSlot2Written + std::string(kMenu), "", SIGTERM},
     kApplication,
     {"--slot", "2"},
     1,
     {"LINE: stopped by a signal (SIGTERM or SIGHUP): the board goes on installing: leave it powered until its "
      "menu shows\n"}},
    // Left by an earlier run at 115200 bit/s, reminding now and then
    {"WaitingForTheStartEnterSinceBefore",
     {.installer = kSlotQuestion,
      .after_slot = kSlot2Written + kMenu,
      .starts_in = BoardPhase::StartWait,
      .reminder_ms = 300},
     kApplication,
     {"--slot", "2", "--wait", "5"},
     0,
     {"LINE: the board waits for the Enter that starts a transfer (asked for before this run): sending the "
      "download to it\n",
      "installed: application in slot 2"}},
    // Nothing goes on the line once the boot shows: no byte can stop the countdown or pick a menu key
    {"RestartInTheBlocks",
     {.boot = "\r\n", .shows_menu = true, .restart_after_block = 2},
     kLargeApplication,
     {"--slot", "2"},
     1,
     {"LINE: the board restarted during the transfer: nothing was installed; the board boots the slot it booted "
      "before this download (nothing was written): download again\n"}},
    {"RestartInTheBlocksAtTheWrongSpeed",
     {.boot = "\r\n", .shows_menu = true, .restart_after_block = 2, .wrong_speed_reads_as_nul = true},
     kLargeApplication,
     {"--slot", "2"},
     1,
     {"LINE: the board restarted during the transfer: nothing was installed"}},
    // The transfer the board starts at the Enter is ended at once without a file
    {"CtrlCBetweenXAndTheEnter",
     {.boot = "\r\n", .shows_menu = true, .signal_at_x = SIGINT},
     kApplication,
     {"--slot", "2"},
     1,
     {"LINE: cancelling before the first block: the board ends its wait\n",
      "LINE: cancelled by the operator; nothing was installed, and its menu is back\n"}},
    {"SlotQuestionsEnterLost",
     {.boot = "\r\n",
      .shows_menu = true,
      .installer = kSlotQuestion,
      .after_slot = kSlot2Written + kMenu,
      .lose_slot_enter = true},
     kApplication,
     {"--slot", "2"},
     0,
     {"LINE: the slot question still stands: answering again\n", "installed: application in slot 2"}},
    {"NoiseReadAsNakAfterABlock",
     {.boot = "\r\n",
      .shows_menu = true,
      .installer = kSlotQuestion,
      .after_slot = kSlot2Written + kMenu,
      .noise_after_block = 1,
      .noise = "\x15"},
     kLargeApplication,
     {"--slot", "2"},
     0,
     {"installed: application in slot 2"}},
    {"SlotWriteFails",
     {.boot = "\r\n",
      .shows_menu = true,
      .installer = kSlotQuestion,
      .after_slot = kSlot2WriteFailed + kMenu},
     kApplication,
     {"--slot", "2"},
     1,
     {"LINE: answering 2\n",
      "LINE: the board reported: Image2 updated failed (Flash Write mtd erase failed.)\n"}},
    {"FileArrivedEmpty",
     {.boot = "\r\n", .shows_menu = true, .installer = "\r\n" + kMenu},
     kApplication,
     {"--slot", "2"},
     1,
     {"LINE: the board installed nothing: the file arrived empty\n"}},
};

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.name; }

class SendToBoard : public testing::TestWithParam<DownloadCase> {};

TEST_P(SendToBoard, EndsAsTheBoardSays)
{
    const DownloadCase& c = GetParam();
    TempDir dir;
    ScriptedBoard far_end(c.board, raise_and_await);
    std::vector<std::string> args = {"send", "--line", far_end.path()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(dir.write("download.bin", c.download));

    const ToolRun r = imgtool(args);

    EXPECT_EQ(r.status, c.status) << r.err;
    for (std::string said : c.said) {
        if (said.starts_with("LINE"))
            said.replace(0, 4, "imgtool send: " + far_end.path());
        EXPECT_NE((r.err + r.out).find(said), std::string::npos) << said << "\n" << r.out << r.err;
    }
    if (c.board.signal_at_install == SIGINT) {
        EXPECT_EQ(far_end.slot_answer(), "2\r");
    }
    if (!c.board.shows_menu && c.board.starts_in == BoardPhase::PoweringOn) {
        EXPECT_EQ(far_end.typed_bytes(), 0u) << "typed into a board that showed no menu";
    }
    if (c.board.restart_after_block != 0) {
        EXPECT_FALSE(far_end.heard_since_restart()) << "sent into a board that restarted";
    }
    if (c.board.signal_at_x != 0) {
        EXPECT_EQ(far_end.frames(), (std::vector<std::string>{"EOT", "EOT"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, SendToBoard, testing::ValuesIn(kDownloads),
                         [](const auto& info) { return info.param.name; });

}  // namespace

namespace {

// Whether text comes to stand in the file within 20 s.
bool comes_to_show(const TempDir& dir, const std::string& name, const std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // The file is made once the tool has opened the line
    while (!dir.exists(name) || dir.read(name).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// What the board prints while the technician types at the terminal is in the transcript too.
TEST(SendOnLine, TheTranscriptGoesOnThroughTheTerminal)
{
    TempDir dir;
    ScriptedBoard board(
        {0, "", false, true, kSlotQuestion, kSlot2Written + kMenu, "\r\nBooting image '2'\r\n"});
    Pty keyboard;
    termios raw{};
    tcgetattr(keyboard.slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(keyboard.slave, TCSANOW, &raw);
    const int standard_input = dup(STDIN_FILENO);
    dup2(keyboard.slave, STDIN_FILENO);
    std::thread technician([&] {
        // Typed once the terminal relays keys, or only the Ctrl-] that ends it
        const bool started = comes_to_show(dir, "log", "terminal on");
        if (started && write(keyboard.master, "r", 1) == 1)
            comes_to_show(dir, "log", "Booting image '2'");
        EXPECT_EQ(write(keyboard.master, "\x1d", 1), 1);
    });

    const ToolRun r = imgtool({"send", "--line", board.path(), "--slot", "2", "--terminal", "--log",
                               dir.path("log"), dir.write("download.bin", kApplication)});
    technician.join();
    dup2(standard_input, STDIN_FILENO);
    close(standard_input);

    EXPECT_EQ(r.status, 0) << r.err;
    const std::string log = dir.read("log");
    const size_t written = log.find("] Image2 updated succeeded\n");
    const size_t terminal = log.find("] # terminal on ");
    const size_t booting = log.find("] Booting image '2'\n");
    EXPECT_NE(booting, std::string::npos) << log;
    EXPECT_LT(written, terminal) << log;
    EXPECT_LT(terminal, booting) << log;
    EXPECT_NE(log.find("] # terminal ended\n"), std::string::npos) << log;
}

}  // namespace
