// imgtool send's judgements of a board's words, over the board's literal lines: the installer's
// walk, the next boot, the boot loader; and every failure phrase with its row in the runbook.
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

#include "imgtool/send/boot_signs.h"
#include "imgtool/send/installer_verdict.h"

namespace {

const char* const kMenuAgain =
    "Please select one of the following options:\r\n"
    "\tX) Use xmodem 1K to serial download an image\r\n\tR) Reboot\r\n\tE) Exit\r\n\r\n"
    "Option? : ";
const char* const kRestart = "\r\n\0\0\0\0\r\nU-Boot 2023.01\r\n\r\nDRAM:  512 MiB\r\nStarting kernel ...\r\n"
                             "Entering Rescue Mode.\r\n";

const std::vector<PlannedRecord> kKernelAndApplication = {{"kernel", true}, {"application", true}};

struct InstallCase {
    const char* name;
    std::string text;  // after "Extracting images ..."
    std::vector<PlannedRecord> plan;
    std::optional<int> slot;
    bool installed;
    std::string said;
};

const InstallCase kInstalls[] = {
    {"KernelAndApplicationInSlot2",
     "\r\n**** KERNEL ****\r\n.\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just "
     "boot image): 2\r\n\r\nInstalling image as image2...\r\n.\r\nImage2 updated succeeded\r\n" +
         std::string(kMenuAgain),
     kKernelAndApplication, 2, true, "kernel, application in slot 2"},
    {"WrittenButNotSelected",
     "\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just boot image): 2\r\n\r\n"
     "Installing image as image2...\r\n.\r\nImage2 updated succeeded\r\nImage2 written but not selected: the "
     "slot byte could not be stored\r\n" +
         std::string(kMenuAgain),
     {{"application", true}},
     2,
     false,
     "the board reported: Image2 written but not selected: the slot byte could not be stored"},
    {"FewerRecordsHandledThanPlanned",
     "\r\n**** KERNEL ****\r\n.\r\n" + std::string(kMenuAgain),
     {{"kernel", true}, {"rootfs", true}, {"diagnostics", false}, {"application", true}},
     2,
     false,
     "the board handled 1 of the 3 records it was sent"},
    // 0x00100000 bytes in all: sixteen erase blocks of 64 KiB
    {"KernelFillingItsAreaExactly",
     "\r\n**** KERNEL ****\r\n................\r\n" + std::string(kMenuAgain),
     {{"kernel", true}},
     std::nullopt,
     true,
     "kernel"},
    // The flash layer's line follows the dots of the blocks written before it, an empty line after it
    {"SlotWriteFailedInTheFlash",
     "\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just boot image): 2\r\n\r\n"
     "Installing image as image2...\r\n.Flash Write mtd erase failed.\r\n\r\nImage2 updated failed\r\n" +
         std::string(kMenuAgain),
     {{"application", true}},
     2,
     false,
     "the board reported: Image2 updated failed (Flash Write mtd erase failed.)"},
    {"KernelWriteFailedInTheFlash",
     "\r\n**** KERNEL ****\r\n...Flash Write mtd write failed.\r\n\r\nkernel image updated failed\r\n" +
         std::string(kMenuAgain),
     kKernelAndApplication, 2, false,
     "the board reported: kernel image updated failed (Flash Write mtd write failed.)"},
    {"RecordsInAnotherOrder",
     "\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just boot image): 2\r\n\r\n"
     "Installing image as image2...\r\n.\r\nImage2 updated succeeded\r\n**** KERNEL ****\r\n.\r\n" +
         std::string(kMenuAgain),
     kKernelAndApplication, 2, false,
     "the board handled an application record where the download holds a kernel record"},
    {"RecordOfAnotherType",
     "\r\n**** ROOTFILESYSTEM ****\r\n.\r\n" + std::string(kMenuAgain),
     {{"kernel", true}},
     std::nullopt,
     false,
     "the board handled a rootfs record where the download holds a kernel record"},
    {"RestartInTheSlotWrite",
     "\r\n**** KERNEL ****\r\n.\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just "
     "boot image): 2\r\n\r\nInstalling image as image2...\r\n.........." +
         std::string(kRestart, 86) + kMenuAgain,
     kKernelAndApplication, 2, false,
     "the board restarted during the install (its line: \"U-Boot 2023.01\"): slot 2 was being written and must "
     "not be trusted; the board boots the slot it booted before this download (the slot changes only after a "
     "whole write); download again"},
    {"RestartInTheKernelWrite", "\r\n**** KERNEL ****\r\n...." + std::string(kRestart, 86) + kMenuAgain,
     kKernelAndApplication, 2, false,
     "the board restarted during the install (its line: \"U-Boot 2023.01\"): the kernel's area was being "
     "written and must not be trusted; the board boots the slot it booted before this download (the slot "
     "changes only after a whole write); download again"},
    {"RestartAfterTheSlotsSuccess",
     "\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just boot image): 2\r\n\r\n"
     "Installing image as image2...\r\n.\r\nImage2 updated succeeded" +
         std::string(kRestart, 86) + kMenuAgain,
     {{"application", true}},
     2,
     false,
     "the board restarted during the install (its line: \"U-Boot 2023.01\"): slot 2 was being written and must "
     "not be trusted; the board boots the slot it booted before this download (the slot changes only after a "
     "whole write); download again"},
    {"GarbledFailureLine",
     "\r\n**** KERNEL ****\r\n...\r\nkernel imzge updated fa!led\r\n" + std::string(kMenuAgain),
     {{"kernel", true}},
     std::nullopt,
     false,
     "the board reported: kernel imzge updated fa!led"},
    {"BootedAtOnce",
     "\r\n**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return to just boot image): \r\nBooting "
     "downloaded image\r\nImage ready to boot...",
     {{"application", true}, {"kernel", true}},
     std::nullopt,
     true,
     "application booted at once"},
    {"MenuNeverCameBack",
     "\r\n**** KERNEL ****\r\n..\r\n",
     {{"kernel", true}},
     std::nullopt,
     false,
     "the board did not end its install: its menu did not come back"},
};

void PrintTo(const InstallCase& c, std::ostream* os) { *os << c.name; }

class InstallerVerdict : public testing::TestWithParam<InstallCase> {};

TEST_P(InstallerVerdict, IsTheBoardsOwnWord)
{
    const InstallCase& c = GetParam();
    const InstallVerdict verdict = judge_installer(c.text, c.plan, c.slot);
    EXPECT_EQ(verdict.installed, c.installed);
    EXPECT_EQ(verdict.text, c.said);
}

INSTANTIATE_TEST_SUITE_P(Walks, InstallerVerdict, testing::ValuesIn(kInstalls),
                         [](const auto& info) { return info.param.name; });

TEST(EmptyReturn, IsTheBoardsOwnLineOrTheEmptyFile)
{
    const struct {
        std::string text;  // after the switch back to 9600 bit/s
        std::string said;
    } rows[] = {
        {"\r\nCan't write file!: No space left on device\r\n" + std::string(kMenuAgain),
         "the board reported: Can't write file!: No space left on device (nothing was installed)"},
        {"\r\n\r\n    ... Waiting for the <ENTER> key to be hit...\r\n" + std::string(kMenuAgain),
         "the board installed nothing: the file arrived empty"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(empty_return_cause(row.text), row.said) << row.text;
}

struct BootCase {
    const char* name;
    std::string text;  // after R
    std::optional<int> slot_written;
    bool ok;
    std::string said;
};

const BootCase kBoots[] = {
    {"NewSlotBooted", "\r\nBooting image '2'\r\nUncompressing application image....\r\n", 2, true,
     "booted slot 2"},
    {"FallbackToTheOldSlot",
     "Booting image '2'\r\nImage2 CRC failed, trying Image1 now.\r\nBooting image '1'\r\nUncompressing "
     "application image....\r\n",
     2, false, "the board booted slot 1, not slot 2 (its line: \"Image2 CRC failed, trying Image1 now.\")"},
    {"WrongSlotBooted", "Booting image '1'\r\nUncompressing application image....\r\n", 2, false,
     "the board booted slot 1, not slot 2"},
    {"NoSlotWrittenAnySlotDoes", "Booting image '1'\r\nUncompressing application image....\r\n", std::nullopt,
     true, "booted slot 1"},
    {"IncompatibleImageQuestion",
     "Booting image '2'\r\nWARNING: Suspected incompatible application image detected during unpacking\r\nWould "
     "you like to enter recovery mode to download a new image? y/N: ",
     2, false,
     "the board asks whether to enter recovery mode after it booted slot 2 (the application looks made for other "
     "hardware): it waits for y, which shows the rescue menu, or any other key, which starts that application "
     "anyway"},
    {"NeverBooted", "reboot: Restarting system\r\n", 2, false, "the board did not boot after the reset"},
};

void PrintTo(const BootCase& c, std::ostream* os) { *os << c.name; }

class NextBoot : public testing::TestWithParam<BootCase> {};

TEST_P(NextBoot, IsJudgedByTheLaunchersLines)
{
    const BootCase& c = GetParam();
    const BootVerdict verdict = judge_boot(c.text, c.slot_written);
    EXPECT_EQ(verdict.ok, c.ok);
    EXPECT_EQ(verdict.text, c.said);
}

INSTANTIATE_TEST_SUITE_P(Boots, NextBoot, testing::ValuesIn(kBoots),
                         [](const auto& info) { return info.param.name; });

TEST(BootLoader, CountdownAndPromptAreRecognised)
{
    const struct {
        std::string text;
        LoaderState state;
    } rows[] = {
        {"U-Boot 2023.01\r\nHit any key to stop autoboot:  2 ", LoaderState::CountingDown},
        {"Hit any key to stop autoboot:  2 \b\b\b 0 \r\n=> ", LoaderState::AtPrompt},
        {"U-Boot 2010.06\r\nU-Boot> ", LoaderState::AtPrompt},
        {"Hit any key to stop autoboot:  0 \r\nStarting kernel ...\r\nEntering Rescue Mode.\r\n",
         LoaderState::Absent},
        {"Option? : ", LoaderState::Absent},
    };
    for (const auto& row : rows)
        EXPECT_EQ(loader_state(row.text), row.state) << row.text;
}

std::string file_text(const char* path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The phrases as the header spells them, so that a phrase added there needs no second list
std::vector<std::string> failure_phrases()
{
    const std::string header = file_text(FAILURE_PHRASES_HEADER);
    const std::regex definition(R"re(inline constexpr std::string_view \w+ =\s*"([^"\\]*)";)re");
    std::vector<std::string> phrases;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), definition);
         it != std::sregex_iterator(); ++it)
        phrases.push_back((*it)[1]);
    return phrases;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(FailurePhrases, EachHasItsRowInTheRunbook)
{
    const std::string runbook = file_text(RUNBOOK);
    ASSERT_FALSE(runbook.empty());
    const std::vector<std::string> phrases = failure_phrases();
    // A phrase written so that the pattern misses it would escape the check
    ASSERT_EQ(phrases.size(), occurrences(file_text(FAILURE_PHRASES_HEADER), "inline constexpr"));
    ASSERT_FALSE(phrases.empty());
    for (const std::string& phrase : phrases)
        EXPECT_NE(runbook.find("\n| `" + phrase + "`"), std::string::npos) << phrase;
}

}  // namespace
