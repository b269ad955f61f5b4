// imgtool send refuses a download the board would refuse, and a command line it cannot follow,
// before it touches any line: the line given here does not exist, so touching it would fail
// differently.
#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/imgtool_support.h"

using namespace std::string_literals;

namespace {

const std::string kApplicationMagic = "\x01\x4a\x41\x4e"s;
const std::string kKernelMagic = "\x03\x4a\x41\x4e"s;

std::string application(const std::string& payload = "archive") { return make_record(0x014A414E, payload); }
std::string kernel(const std::string& payload = "uImage") { return make_record(0x034A414E, payload); }

struct RefusalCase {
    const char* name;
    std::string download;
    std::vector<std::string> options;
    std::string message;  // the whole of standard error
};

const RefusalCase kRefusals[] = {
    {"EmptyFile",
     "",
     {"--slot", "1"},
     "imgtool send: DOWNLOAD holds no image record (end of file at offset 0)\n"},
    // The magic is the third big-endian word: "a te"
    {"NotADownload",
     "this is a text file, not image records\n",
     {"--slot", "1"},
     "imgtool send: DOWNLOAD holds no image record (unknown magic 0x61207465 at offset 0)\n"},
    {"KernelWithBadCrc",
     application() + corrupted(kernel("abc")),
     {"--slot", "2"},
     "imgtool send: DOWNLOAD: the kernel record at 0x00000017 has a bad CRC (stored 0x705380cb, computed "
     "0x0754b05d): the board would refuse it\n"},
    {"ApplicationWithoutSlot",
     kernel() + application(),
     {},
     "imgtool send: DOWNLOAD holds an application record: say where it goes with --slot 1, --slot 2 or --slot "
     "boot\n"},
    {"RecordCutShort",
     kernel().substr(0, 20),
     {},
     "imgtool send: DOWNLOAD: the kernel record at 0x00000000 is cut short\n"},
    {"DiagnosticsOnly",
     make_record(0x064A414E, "diags"),
     {},
     "imgtool send: DOWNLOAD holds nothing the board installs (only records it passes over): diagnostics (5 "
     "bytes, passed over by the board)\n"},
    {"SlotWithoutApplication",
     kernel(),
     {"--slot", "2"},
     "imgtool send: --slot is for an application record, and DOWNLOAD holds none\n"},
    // A kernel area holds 0x00100000 bytes, header included
    {"KernelTooBigForItsArea",
     make_record(0x034A414E, std::string(0x000FFFF1, 'k')),
     {},
     "imgtool send: DOWNLOAD: the kernel record at 0x00000000 is too big for its flash area (at most 0x00100000 "
     "bytes in all)\n"},
    // The whole flash as imgtool flash writes it, slot 1 an application that a walk would take
    {"FlashImage",
     application() + std::string(0x04000000 - 23, '\xff'),
     {"--slot", "2"},
     "imgtool send: DOWNLOAD is a flash image, not a download (64 MiB, for a flash programmer): give the download "
     "file, the records themselves one after the other\n"},
    // The boot code's limit is on its payload alone: 0x00040000 bytes, the header not counted
    {"BootCodeTooBigForItsArea",
     make_record(0x024A414E, std::string(0x00040001, 'u')),
     {},
     "imgtool send: DOWNLOAD: the bootcode record at 0x00000000 is too big for its flash area (a payload of at "
     "most 0x00040000 bytes, header not counted)\n"},
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class SendRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(SendRefuses, ABadDownloadWithStatus2AndOneLine)
{
    const RefusalCase& c = GetParam();
    TempDir dir;
    const std::string download = dir.write("DOWNLOAD", c.download);
    std::vector<std::string> args = {"send", "--line", dir.path("no-such-line")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(download);

    const ToolRun r = imgtool(args);

    EXPECT_EQ(r.status, 2);
    std::string err = r.err;
    for (size_t at; (at = err.find(download)) != std::string::npos;)
        err.replace(at, download.size(), "DOWNLOAD");
    EXPECT_EQ(err, c.message);
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Downloads, SendRefuses, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return info.param.name; });

// A record that fills its flash area exactly passes the checks: the tool goes on to the line, which
// does not exist.
TEST(SendAccepts, ARecordThatFillsItsAreaExactly)
{
    const struct {
        std::string download;
        std::string plan;
    } rows[] = {
        {make_record(0x034A414E, std::string(0x000FFFF0, 'k')), "kernel (1048560 bytes at 0x01e00000)"},
        {make_record(0x024A414E, std::string(0x00040000, 'u')), "bootcode (262144 bytes at 0x03f00000)"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        const ToolRun r =
            imgtool({"send", "--line", dir.path("no-such-line"), dir.write("download.bin", row.download)});

        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find("imgtool send: the board will be asked to install: " + row.plan + "\n"),
                  std::string::npos)
            << r.err;
    }
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;  // DOWNLOAD stands for a good download, LINE for a line
    std::string mistake;
};

const UsageCase kUsage[] = {
    {"NoLine", {"--slot", "1", "DOWNLOAD"}, "--line DEV is needed"},
    {"NoDownload", {"--line", "LINE"}, "expected one DOWNLOAD"},
    {"TwoDownloads", {"--line", "LINE", "DOWNLOAD", "DOWNLOAD"}, "expected one DOWNLOAD"},
    {"SlotThree", {"--line", "LINE", "--slot", "3", "DOWNLOAD"}, "--slot takes 1, 2 or boot, not 3"},
    {"WaitZero",
     {"--line", "LINE", "--wait", "0", "DOWNLOAD"},
     "--wait takes a number of seconds from 1 to 86400, not 0"},
    {"TerminalOnTwoLines",
     {"--line", "LINE", "--line", "LINE", "--terminal", "DOWNLOAD"},
     "--terminal takes one --line"},
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class SendUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(SendUsage, IsRefusedWithStatus2)
{
    const UsageCase& c = GetParam();
    TempDir dir;
    std::vector<std::string> args = {"send"};
    for (const std::string& arg : c.args) {
        if (arg == "DOWNLOAD")
            args.push_back(dir.write("download.bin", kernel()));
        else if (arg == "LINE")
            args.push_back(dir.path("no-such-line"));
        else
            args.push_back(arg);
    }

    const ToolRun r = imgtool(args);

    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "imgtool send: " + c.mistake + " (see imgtool send --help)\n");
}

INSTANTIATE_TEST_SUITE_P(CommandLines, SendUsage, testing::ValuesIn(kUsage),
                         [](const auto& info) { return info.param.name; });

}  // namespace
