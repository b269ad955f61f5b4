// imgtool boot: the board's boot of a flash image, dry-run with the launcher's own code, as the
// console and the shell would show it.
#include <gtest/gtest.h>

#include "tests/support/imgtool_support.h"

namespace {

struct DryRunCase {
    const char* name;
    std::vector<std::string> flash;  // imgtool flash's arguments; "app.rec" is a good application record
    std::vector<std::string> boot;   // imgtool boot's options
    std::string transcript;
    int status = 0;
    bool marker = true;  // the application archive holds the marker of a compatible image
};

void PrintTo(const DryRunCase& c, std::ostream* os) { *os << c.name; }

const std::string kUnpackAndDecompress =
    "[shell] cd /tmp\n"
    "[shell] tar mxzf /tmp/zarelimage.tar.gz\n"
    "[shell] rm /tmp/zarelimage.tar.gz\n"
    "[dry run] the slot's archive unpacked by tar into a temporary directory\n"
    "Uncompressing application image....\n"
    "[shell] lzma d /tmp/home/bin/mp.elf.strip.lzma /tmp/home/bin/mp.elf.strip\n"
    "[shell] rm /tmp/home/bin/mp.elf.strip.lzma\n"
    "[shell] chmod +x /tmp/home/bin/mp.elf.strip\n";
const std::string kHandOver =
    "[hand-over] /bin/backtrace takes over the process, arguments: \"/bin/backtrace\", "
    "environment: the launcher's own (not run)\n";
const std::string kSlot1Erased = "Image has invalid header 0xffffffff. (0x64a414e)\n"
                                 "Image1 has invalid header... trying Image2.\n";

const DryRunCase kDryRunCases[] = {
    {"GoodSlot1", {"--slot1", "app.rec"}, {}, "Booting image '1'\n" + kUnpackAndDecompress + kHandOver},
    {"SlotByte2",
     {"--slot1", "app.rec", "--slot2", "app.rec"},
     {"--slot-byte", "2"},
     "Booting image '2'\n" + kUnpackAndDecompress + kHandOver},
    {"ErasedSlot1",
     {"--slot2", "app.rec"},
     {},
     "Booting image '1'\n" + kSlot1Erased + "Booting image '2'\n" + kUnpackAndDecompress + kHandOver},
    {"BothSlotsErased",
     {"--env", "bootdelay=3"},
     {},
     "Booting image '1'\n" + kSlot1Erased +
         "Booting image '2'\n"
         "No valid application image found. Trying rescue image\n"
         "[shell] reboot\n"
         "[exit] status 0\n",
     1},
    {"RescueMenuAnswered",
     {"--slot1", "app.rec", "--env", "diagnostics=rescue"},
     {},
     "Entering Rescue Mode.\n"
     "Please select one of the following options:\n"
     "\tX) Use xmodem 1K to serial download an image\n"
     "\tR) Reboot\n"
     "\tE) Exit\n"
     "\n"
     "Option? : \n"
     "[key] E\n"
     "Booting image '1'\n" +
         kUnpackAndDecompress + kHandOver},
    {"DebugServer",
     {"--slot1", "app.rec", "--env", "gdbserver=on", "--env", "gdbserver_ip=10.1.2.3", "--env",
      "gdbport=2345"},
     {},
     "Booting image '1'\n" + kUnpackAndDecompress +
         "[shell] /bin/gdbserver 10.1.2.3:2345 /tmp/home/bin/mp.elf.strip\n"
         "[shell] reboot\n"
         "[exit] status 0\n"},
    {"ArchiveWithoutMarker",
     {"--slot1", "app.rec"},
     {"--answer", "n"},
     "Booting image '1'\n"
     "[shell] cd /tmp\n"
     "[shell] tar mxzf /tmp/zarelimage.tar.gz\n"
     "[shell] rm /tmp/zarelimage.tar.gz\n"
     "[dry run] the slot's archive unpacked by tar into a temporary directory\n"
     "WARNING: Suspected incompatible application image detected during unpacking\n"
     "Would you like to enter recovery mode to download a new image? y/N: Uncompressing application image....\n"
     "[key] n\n"
     "[shell] lzma d /tmp/home/bin/mp.elf.strip.lzma /tmp/home/bin/mp.elf.strip\n"
     "[shell] rm /tmp/home/bin/mp.elf.strip.lzma\n"
     "[shell] chmod +x /tmp/home/bin/mp.elf.strip\n" +
         kHandOver,
     0,
     false},
};

class DryRun : public testing::TestWithParam<DryRunCase> {};

TEST_P(DryRun, PrintsTheBoardsConsoleToTheHandOverOrTheReset)
{
    const DryRunCase& c = GetParam();
    TempDir dir;
    std::vector<std::string> app = {"app", dir.write("mp.elf.strip", "the application"), "-o",
                                    dir.path("app.tar.gz")};
    if (!c.marker)
        app.push_back("--no-marker");
    ASSERT_EQ(imgtool(app).status, 0);
    dir.write("app.rec", make_record(0x014A414E, dir.read("app.tar.gz")));
    std::vector<std::string> flash = {"flash", "-o", dir.path("flash.img")};
    for (const std::string& arg : c.flash)
        flash.push_back(arg == "app.rec" ? dir.path(arg) : arg);
    ASSERT_EQ(imgtool(flash).status, 0);

    std::vector<std::string> boot = {"boot", dir.path("flash.img")};
    boot.insert(boot.end(), c.boot.begin(), c.boot.end());
    const ToolRun r = imgtool(boot);

    EXPECT_EQ(r.out, c.transcript);
    EXPECT_EQ(r.status, c.status) << r.err;
}

INSTANTIATE_TEST_SUITE_P(FlashImages, DryRun, testing::ValuesIn(kDryRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
