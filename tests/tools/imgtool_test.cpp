// imgtool's commands on files: the bytes they write, what they report, and what they refuse.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "tests/support/boot_option_cases.h"
#include "tests/support/bytes.h"
#include "tests/support/imgtool_support.h"

using namespace std::string_literals;

namespace {

struct PackCase {
    const char* name;
    std::vector<std::string> options;
    std::string payload;
    std::string header;  // crc, len, magic, id
};

const PackCase kPackCases[] = {
    {"ApplicationAbc",
     {"--type", "application"},
     "abc",
     "\x28\x3f\x39\x0a"
     "\x00\x00\x00\x03"
     "\x01\x4a\x41\x4e"
     "\x00\x00\x00\x00"s},
    {"KernelWithHexId",
     {"--type", "kernel", "--id", "0x10"},
     "abc",
     "\x20\x4a\xd7\x54"
     "\x00\x00\x00\x03"
     "\x03\x4a\x41\x4e"
     "\x00\x00\x00\x10"s},
    {"EmptyDiagnostics",
     {"--type", "diagnostics", "--id", "0xDEADBEEF"},
     "",
     "\xdc\x21\x59\x87"
     "\x00\x00\x00\x00"
     "\x06\x4a\x41\x4e"
     "\xde\xad\xbe\xef"s},
    {"BootCodeWithDecimalId",
     {"--type", "bootcode", "--id", "4660"},
     "123456789",
     "\x0b\x54\x8e\xac"
     "\x00\x00\x00\x09"
     "\x02\x4a\x41\x4e"
     "\x00\x00\x12\x34"s},
    {"Type5",
     {"--type", "type5", "--id", "1"},
     "\x00\xff"s,
     "\x06\x7e\x34\xc9"
     "\x00\x00\x00\x02"
     "\x05\x4a\x41\x4e"
     "\x00\x00\x00\x01"s},
};

void PrintTo(const PackCase& c, std::ostream* os) { *os << c.name; }

class Pack : public testing::TestWithParam<PackCase> {};

TEST_P(Pack, WritesTheBigEndianHeaderAndThePayload)
{
    const PackCase& c = GetParam();
    TempDir dir;
    std::vector<std::string> args = {"pack"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {dir.write("payload", c.payload), "-o", dir.path("record")});

    const ToolRun r = imgtool(args);

    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("record"), c.header + c.payload);
}

INSTANTIATE_TEST_SUITE_P(Types, Pack, testing::ValuesIn(kPackCases),
                         [](const auto& info) { return info.param.name; });

struct Limit {
    const char* type;
    uint64_t largest_payload;
};

void PrintTo(const Limit& limit, std::ostream* os) { *os << limit.type; }

class PackLimit : public testing::TestWithParam<Limit> {};

// Payloads are sparse files of zeros, so the large ones cost no disk.
TEST_P(PackLimit, AcceptsTheLargestPayloadAndRefusesOneByteMore)
{
    const Limit& limit = GetParam();
    TempDir dir;
    const std::string payload = dir.write("payload", "");
    std::filesystem::resize_file(payload, limit.largest_payload);
    ToolRun r = imgtool({"pack", "--type", limit.type, payload, "-o", dir.path("fits")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(dir.path("fits")), limit.largest_payload + 16);

    std::filesystem::resize_file(payload, limit.largest_payload + 1);
    r = imgtool({"pack", "--type", limit.type, payload, "-o", dir.path("too_big")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("imgtool pack: "), 0u) << r.err;
    EXPECT_FALSE(dir.exists("too_big"));
}

INSTANTIATE_TEST_SUITE_P(Areas, PackLimit,
                         testing::Values(Limit{"application", 0x007FFFF0}, Limit{"diagnostics", 0x007FFFF0},
                                         Limit{"kernel", 0x000FFFF0}, Limit{"rootfs", 0x00AFFFF0},
                                         Limit{"bootcode", 0x00040000}),
                         [](const auto& info) { return std::string(info.param.type); });

// The installer counts a record's total in one word, so a type-5 record must keep it there too.
TEST(PackLimit, RefusesAType5RecordWhoseTotalPasses32Bits)
{
    TempDir dir;
    const std::string payload = dir.write("payload", "");
    std::filesystem::resize_file(payload, 0xFFFFFFF0);
    const ToolRun r = imgtool({"pack", "--type", "type5", payload, "-o", dir.path("record")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("record"));
}

const std::string kApplication = make_record(0x014A414E, "application archive");
const std::string kDiagnostics = make_record(0x064A414E, "diagnostics archive", 7);
const std::string kRootFs = make_record(0x044A414E, "root file system");
const std::string kKernel = make_record(0x034A414E, "kernel");
const std::string kBootCode = make_record(0x024A414E, "boot loader");

TEST(Flash, PutsRecordsAtTheirBasesAndTheEnvironmentInItsBlock)
{
    TempDir dir;
    const ToolRun r = imgtool({"flash", "-o", dir.path("flash.img"), "--slot1", dir.write("a", kApplication),
                               "--slot2", dir.write("d", kDiagnostics), "--rootfs", dir.write("r", kRootFs),
                               "--kernel", dir.write("k", kKernel), "--bootcode", dir.write("b", kBootCode),
                               "--env", "bootdelay=3", "--env", "gdbport=2345"});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string image = dir.read("flash.img");
    ASSERT_EQ(image.size(), 0x04000000u);
    const std::pair<uint32_t, std::string> kPlaced[] = {{0x00000000, kApplication},
                                                        {0x00800000, kDiagnostics},
                                                        {0x01000000, kRootFs},
                                                        {0x01E00000, kKernel},
                                                        {0x03F00000, kBootCode}};
    for (const auto& [base, record] : kPlaced) {
        EXPECT_EQ(image.substr(base, record.size()), record) << std::hex << base;
        EXPECT_EQ(image[base + record.size()], '\xff') << std::hex << base;
    }
    EXPECT_EQ(image.substr(0x03FDFFFF, 1), "\xff");
    const std::string text = "bootdelay=3\0gdbport=2345\0\0"s;
    const std::string data = text + std::string(0x1FFFC - text.size(), '\0');
    EXPECT_EQ(image.substr(0x03FE0004), data);
    EXPECT_EQ(image.substr(0x03FE0000, 4), be32(standard_crc32(data)));

    const ToolRun env = imgtool({"env", dir.path("flash.img")});
    EXPECT_EQ(env.status, 0) << env.err;
    EXPECT_EQ(env.out, "bootdelay=3\ngdbport=2345\n");
}

// The launcher looks for its options in the first 512 bytes of the text only.
TEST(Flash, WarnsOfAnEnvironmentLongerThanTheLauncherReads)
{
    TempDir dir;
    const ToolRun r = imgtool({"flash", "-o", dir.path("flash.img"), "--env",
                               "bootargs=" + std::string(500, 'a'), "--env", "gdb=on"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "imgtool flash: warning: the environment text is 518 bytes; the launcher reads its options "
              "from the first 512 only\n");
}

struct RefusedRecord {
    const char* name;
    const char* option;
    std::string record;
};

const RefusedRecord kRefusedRecords[] = {
    {"KernelInSlot", "--slot1", kKernel},
    {"ApplicationAsKernel", "--kernel", kApplication},
    {"BadCrc", "--slot2", kApplication.substr(0, kApplication.size() - 1) + "?"},
    {"CutShort", "--rootfs", kRootFs.substr(0, kRootFs.size() - 1)},
    {"BytesAfterTheRecord", "--bootcode", kBootCode + "x"},
    {"UnknownMagic", "--slot1", make_record(0x074A414E, "archive")},
    {"HeaderOnly", "--slot1", kApplication.substr(0, 15)},
    {"KernelTooBig", "--kernel", be32(0) + be32(0x000FFFF1) + be32(0x034A414E) + be32(0)},
    {"BootCodeTooBig", "--bootcode", be32(0) + be32(0x00040001) + be32(0x024A414E) + be32(0)},
};

void PrintTo(const RefusedRecord& c, std::ostream* os) { *os << c.name; }

class FlashRefuses : public testing::TestWithParam<RefusedRecord> {};

TEST_P(FlashRefuses, ARecordThatItsAreaCannotHold)
{
    const RefusedRecord& c = GetParam();
    TempDir dir;
    const ToolRun r =
        imgtool({"flash", "-o", dir.path("flash.img"), c.option, dir.write("record", c.record)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("imgtool flash: " + dir.path("record") + ": "), 0u) << r.err;
    EXPECT_FALSE(dir.exists("flash.img"));
}

INSTANTIATE_TEST_SUITE_P(Records, FlashRefuses, testing::ValuesIn(kRefusedRecords),
                         [](const auto& info) { return info.param.name; });

struct InfoCase {
    const char* name;
    std::string file;
    std::string report;
    int status;
};

const std::string kAbc = make_record(0x014A414E, "abc");
const std::string kAbcLine =
    "  0x00000000  application  len 3  id 0x00000000  crc 0x283f390a  computed 0x283f390a  ok\n";
const std::string kKernelLine =
    "  0x00000013  kernel       len 3  id 0x00000010  crc 0x204ad754  computed 0x204ad754  ok\n";

const InfoCase kInfoCases[] = {
    {"Intact", kAbc + make_record(0x034A414E, "abc", 0x10),
     kAbcLine + kKernelLine + "  walk ended: end of file at offset 0x00000026\n", 0},
    // The installer stops at a bad CRC: what follows is never installed, so it is not listed.
    {"BadCrcStopsTheWalk", corrupted(kAbc) + kAbc,
     "  0x00000000  application  len 3  id 0x00000000  crc 0x283f390a  computed 0x5f38099c  BAD CRC\n"
     "  walk ended: bad CRC at offset 0x00000000 (the installer stops here; the records before it are "
     "installed)\n",
     1},
    // The installer passes over a diagnostics record unchecked.
    {"BadCrcOfDiagnosticsPassedOver", corrupted(make_record(0x064A414E, "abc")) + kAbc,
     "  0x00000000  diagnostics  len 3  id 0x00000000  crc 0x01042c89  computed 0x76031c1f  BAD CRC\n" +
         kAbcLine.substr(0, 2) + "0x00000013" + kAbcLine.substr(12) +
         "  walk ended: end of file at offset 0x00000026\n",
     1},
    {"CutShort", kAbc.substr(0, 17),
     "  0x00000000  application  len 3  id 0x00000000  crc 0x283f390a  cut short: 17 of 19 bytes present\n"
     "  walk ended: record cut short at offset 0x00000000\n",
     1},
    {"TransferFiller", kAbc + std::string(109, '\x1a'),
     kAbcLine + "  walk ended: unknown magic 0x1a1a1a1a at offset 0x00000013\n", 0},
    {"StrayBytes", kAbc + std::string(15, '\0'),
     kAbcLine + "  walk ended: 15 stray bytes at offset 0x00000013\n", 0},
    {"NoRecord", "", "  walk ended: end of file at offset 0x00000000\n  no records\n", 1},
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

class Info : public testing::TestWithParam<InfoCase> {};

TEST_P(Info, WalksADownloadAndSaysWhereItEnded)
{
    const InfoCase& c = GetParam();
    TempDir dir;
    const ToolRun r = imgtool({"info", dir.write("download", c.file)});
    EXPECT_EQ(r.out, dir.path("download") + ": records\n" + c.report);
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Downloads, Info, testing::ValuesIn(kInfoCases),
                         [](const auto& info) { return info.param.name; });

std::string hex(uint32_t value)
{
    char text[11];
    snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

TEST(Info, ReadsAFlashImageAreaByArea)
{
    TempDir dir;
    ASSERT_EQ(
        imgtool({"flash", "-o", dir.path("flash.img"), "--slot2", dir.write("a", kAbc), "--env", "shell=on"})
            .status,
        0);
    std::string image = dir.read("flash.img");
    image.replace(0x01E00008, 4, "\x12\x34\x56\x78");
    image.replace(0x03F00000, kKernel.size(), kKernel);
    const std::string kernel_crc = hex(~standard_crc32(kKernel.substr(4)));
    const std::string env_crc = hex(standard_crc32("shell=on\0\0"s + std::string(0x1FFFC - 10, '\0')));

    const ToolRun r = imgtool({"info", dir.write("flash.img", image)});

    EXPECT_EQ(r.out, dir.path("flash.img") +
                         ": flash image, not a download (imgtool send takes the records themselves)\n"
                         "  slot 1      0x00000000  erased\n"
                         "  slot 2      0x00800000  " +
                         kAbcLine.substr(14) +
                         "  rootfs      0x01000000  erased\n"
                         "  kernel      0x01e00000  unknown magic 0x12345678\n"
                         "  bootcode    0x03f00000  kernel       len 6  id 0x00000000  crc " +
                         kernel_crc + "  computed " + kernel_crc +
                         "  ok  wrong type: the area holds bootcode\n"
                         "  environment 0x03fe0000  crc " +
                         env_crc + "  computed " + env_crc +
                         "  ok\n"
                         "    shell=on\n");
    EXPECT_EQ(r.status, 1);
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string error;
};

const UsageCase kUsageCases[] = {
    {"NoCommand", {}, 2, "imgtool: no command given"},
    {"UnknownCommand", {"unpack"}, 2, "imgtool: unknown command 'unpack'"},
    {"UnknownOption", {"info", "--verbose", "x"}, 2, "imgtool info: unknown option --verbose"},
    {"UnknownType", {"pack", "--type", "initrd", "p", "-o", "r"}, 2, "imgtool pack: unknown type 'initrd'"},
    {"BadId", {"pack", "--type", "kernel", "--id", "0x100000000", "p", "-o", "r"}, 2, "imgtool pack: bad id"},
    {"MissingOutput", {"pack", "--type", "kernel", "p"}, 2, "imgtool pack: missing -o RECORD"},
    {"OptionWithoutValue", {"flash", "-o"}, 2, "imgtool flash: -o needs a value"},
    {"AreaTwice",
     {"flash", "-o", "f", "--slot1", "a", "--slot1", "b"},
     2,
     "imgtool flash: --slot1 given twice"},
    {"VariableWithoutValue",
     {"flash", "-o", "f", "--env", "shell"},
     2,
     "imgtool flash: bad variable 'shell'"},
    {"VariableWithoutName", {"flash", "-o", "f", "--env", "=on"}, 2, "imgtool flash: bad variable '=on'"},
    {"VariableTwice",
     {"flash", "-o", "f", "--env", "gdb=on", "--env", "gdb=off"},
     2,
     "imgtool flash: variable gdb given twice"},
    {"EnvironmentTooBig",
     {"flash", "-o", "f", "--env", "x=" + std::string(0x1FFFA, 'y')},
     2,
     "imgtool flash: the variables take 131070 bytes; the block holds 131068"},
    {"MarkerNamedAndLeftOut",
     {"app", "--no-marker", "--name", "v1", "b", "-o", "a"},
     2,
     "imgtool app: --name"},
    {"TwoFlashImages", {"env", "a.img", "b.img"}, 2, "imgtool env: expected one FLASH.img"},
    // A mistake in the command line is told before the file it names is looked at
    {"SlotByteOutOfRange",
     {"boot", "--slot-byte", "256", "/nonexistent/flash.img"},
     2,
     "imgtool boot: --slot-byte takes a byte, 0 to 255"},
    {"UnreadableBinary",
     {"app", "/nonexistent/mp.elf", "-o", "a"},
     1,
     "imgtool app: cannot read /nonexistent/mp.elf: No such file or directory"},
    {"UnreadablePayload",
     {"pack", "--type", "kernel", "/nonexistent/p", "-o", "r"},
     1,
     "imgtool pack: cannot read /nonexistent/p: No such file or directory"},
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class Usage : public testing::TestWithParam<UsageCase> {};

TEST_P(Usage, IsRefusedWithOneLineOnStandardError)
{
    const UsageCase& c = GetParam();
    const ToolRun r = imgtool(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.find(c.error), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Usage, testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return info.param.name; });

TEST(Usage, EveryCommandHasHelp)
{
    for (const std::string command : {"pack", "info", "flash", "env", "app", "boot"}) {
        const ToolRun r = imgtool({command, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.find("Usage: imgtool " + command + " "), 0u) << r.out;
        EXPECT_NE(imgtool({"--help"}).out.find("\n  " + command + " "), std::string::npos) << command;
    }
    // The manual page takes each synopsis from one line: send's two-line usage comes joined.
    const std::string help = imgtool({"--help"}).out;
    const size_t send = help.find("\n  or:  imgtool send --line DEV ");
    ASSERT_NE(send, std::string::npos) << help;
    EXPECT_EQ(help.substr(help.find('\n', send + 1) - 9, 9), " DOWNLOAD") << help;
}

TEST(Usage, VersionIsTheProjectVersion)
{
    const ToolRun r = imgtool({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "imgtool 1.0.0\n");
    EXPECT_EQ(r.err, "");
}

TEST(Env, RefusesAFileOfAnotherSize)
{
    TempDir dir;
    const ToolRun r = imgtool({"env", dir.write("download", kAbc)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "imgtool env: " + dir.path("download") + ": not a 64 MiB flash image (19 bytes)\n");
}

// A 64 MiB flash image, sparse, whose only content is the environment block with the variables,
// zeros after them and the block's CRC word.
std::string env_flash_image(const TempDir& dir, const OptionsCase& c)
{
    std::string data;
    for (const std::string& variable : c.env)
        data += variable + '\0';
    data.resize(0x1FFFC, '\0');
    std::ofstream out(dir.path("flash.img"), std::ios::binary);
    out.seekp(0x03FE0000);
    out << be32(c.spoil_crc ? 0 : standard_crc32(data)) << data;
    return dir.path("flash.img");
}

class EnvOptions : public testing::TestWithParam<OptionsCase> {};

TEST_P(EnvOptions, AreReportedAsTheLauncherReadsThemWithEachTrap)
{
    const OptionsCase& c = GetParam();
    TempDir dir;
    const ToolRun r = imgtool({"env", "--options", env_flash_image(dir, c)});
    EXPECT_EQ(r.out, c.report);
    EXPECT_EQ(r.status, r.out.find("warning:") == std::string::npos ? 0 : 1);
}

std::vector<OptionsCase> reported_cases()
{
    std::vector<OptionsCase> cases;
    for (const OptionsCase& c : kOptionsCases) {
        if (c.report != nullptr)
            cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Environments, EnvOptions, testing::ValuesIn(reported_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
