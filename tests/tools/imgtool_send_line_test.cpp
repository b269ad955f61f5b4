// imgtool send on lines that hold no board ready for a download: silence, a loopback, a file, a
// board booting its application, a board whose download port is missing; and two lines at once,
// where one board's failure does not stop the other's result from being reported.
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "tests/support/imgtool_support.h"
#include "tests/support/sx_terminal.h"

namespace {

// What stands at the far end of a line: given the bytes the tool typed, what to print back.
using Answer = std::function<std::string(const std::string& typed)>;

// A pty whose far end answers as a board (or a plug) would, from its own thread.
class FarEnd {
public:
    FarEnd(std::string greeting, Answer answer) : greeting_(std::move(greeting)), answer_(std::move(answer))
    {
        thread_ = std::thread([this] { serve(); });
    }
    ~FarEnd()
    {
        stop_ = true;
        thread_.join();
    }
    const std::string& path() const { return pty_.path; }

private:
    void serve()
    {
        say(greeting_);
        char bytes[256];
        while (!stop_) {
            pollfd ready{pty_.master, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0 || (ready.revents & POLLIN) == 0)
                continue;
            const ssize_t got = read(pty_.master, bytes, sizeof bytes);
            if (got > 0)
                say(answer_(std::string(bytes, static_cast<size_t>(got))));
        }
    }
    void say(const std::string& text)
    {
        if (!text.empty() && write(pty_.master, text.data(), text.size()) < 0)
            stop_ = true;
    }

    Pty pty_;
    std::string greeting_;
    Answer answer_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string silent(const std::string&) { return ""; }
std::string echo(const std::string& typed) { return typed; }

// The rescue menu's prompt for the tool's wake-up key; the receiver unable to open its port for X.
std::string menu_without_download_port(const std::string& typed)
{
    if (typed.find('x') != std::string::npos)
        return "\r\nRunning xmodem rescue.....\r\nInit serial\r\nCan't open serial port!: No such file or "
               "directory\r\nInit serial done\r\n";
    return "unknown option \"Y\". Please try again\r\n\r\nOption? : ";
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
    Answer answer;
    int status;
    std::string said;  // in what the tool says of the line on standard error
};

const LineCase kLines[] = {
    {"Silence", "", silent, 3,
     "LINE: no board answered within 4 s: nothing came back on the line; check the cable and the adapter, and "
     "that the board is powered\n"},
    {"Loopback", "", echo, 3,
     "LINE: no board answered within 4 s: only the keys typed came back (a loopback, not a board)\n"},
    {"BoardBootingItsApplication", kBooting, silent, 1,
     "LINE: the board is booting its application, not the rescue menu: set diagnostics=rescue in the boot "
     "loader's environment and power-cycle it, or power-cycle it and answer y to the recovery question\n"},
    {"BoardWithoutDownloadPort", "", menu_without_download_port, 1,
     "LINE: the board reported: Can't open serial port! (it cannot open its download port)\n"},
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class SendOnLine : public testing::TestWithParam<LineCase> {};

TEST_P(SendOnLine, EndsWithTheStatusAndWordsOfWhatIsThere)
{
    const LineCase& c = GetParam();
    TempDir dir;
    FarEnd far_end(c.greeting, c.answer);

    const ToolRun r = imgtool({"send", "--line", far_end.path(), "--wait", "4", "--slot", "2",
                               dir.write("download.bin", make_record(0x014A414E, "archive"))});

    EXPECT_EQ(r.status, c.status) << r.err;
    std::string said = c.said;
    said.replace(0, 4, far_end.path());
    EXPECT_NE(r.err.find("imgtool send: " + said), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("installed:"), std::string::npos);
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

TEST(SendOnLine, EveryBoardIsServedAndTheWorstOutcomeIsTheStatus)
{
    TempDir dir;
    FarEnd quiet("", silent);
    FarEnd booting(kBooting, silent);

    const ToolRun r = imgtool({"send", "--line", quiet.path(), "--line", booting.path(), "--wait", "4",
                               "--slot", "1", dir.write("download.bin", make_record(0x014A414E, "archive"))});

    EXPECT_EQ(r.status, 1);
    // The board's own lines carry their line's name when several are served
    EXPECT_NE(r.out.find(booting.path() + ": Uncompressing application image....\n"), std::string::npos)
        << r.out;
    EXPECT_NE(row_of(r.out, quiet.path()).find(" failed: no board answered within 4 s"), std::string::npos)
        << r.out;
    EXPECT_NE(row_of(r.out, booting.path()).find(" failed: the board is booting its application"),
              std::string::npos)
        << r.out;
}

}  // namespace
