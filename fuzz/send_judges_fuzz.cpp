// imgtool send's judges of the board's words over fuzzed console text and a fuzzed plan.  A walk
// judged installed must show, line by line, what the board prints for each planned record in the
// planned order (its banner, then its dots or its slot's success), end as the board ends it (its
// menu, or "Image ready to boot..." for a record booted at once), and hold no line of a board
// starting up.  A next boot judged good must have booted the slot just written.  The board's texts
// are written out here rather than taken from the judges, so that a text they misread shows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/installer_verdict.h"

namespace {

struct RecordText {
    const char* type;
    const char* banner;
};
constexpr RecordText kRecords[] = {
    {"kernel", "**** KERNEL ****"},
    {"rootfs", "**** ROOTFILESYSTEM ****"},
    {"bootcode", "**** BOOT CODE ****"},
    {"application", "**** APPLICATION ****"},
};

// What only a board starting up prints: its boot loader, its kernel, the launcher's first lines
constexpr std::string_view kRestartTexts[] = {
    "U-Boot ",
    "Hit any key to stop autoboot",
    "Press any key to stop autoboot",
    "Autobooting in",
    "## Booting kernel",
    "Starting kernel",
    "Linux version ",
    "Booting Linux",
    "reboot: Restarting system",
    "Entering Rescue Mode.",
    "Booting image '",
};

// The console's lines as a terminal shows them: carriage returns do not count
std::vector<std::string> console_lines(std::string_view text)
{
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n')
            lines.emplace_back();
        else if (c != '\r')
            lines.back() += c;
    }
    return lines;
}

bool is_menu(const std::string& line)
{
    return line == "Please select one of the following options:" || line.starts_with("Option? : ");
}

bool is_banner(const std::string& line)
{
    for (const RecordText& record : kRecords) {
        if (line == record.banner)
            return true;
    }
    return false;
}

bool is_dots(const std::string& line)
{
    return !line.empty() && line.find_first_not_of('.') == std::string::npos;
}

// The first banner or menu line from at on; lines.size() when none comes.
size_t next_mark(const std::vector<std::string>& lines, size_t at)
{
    while (at < lines.size() && !is_banner(lines[at]) && !is_menu(lines[at]))
        ++at;
    return at;
}

bool shows_success(const std::vector<std::string>& lines, size_t from, size_t to, const RecordText& record,
                   std::optional<int> slot)
{
    const std::string application_success =
        slot ? "Image" + std::to_string(*slot) + " updated succeeded" : "Image ready to boot...";
    for (size_t at = from; at < to; ++at) {
        if (std::string_view(record.type) == "application" ? lines[at] == application_success
                                                           : is_dots(lines[at]))
            return true;
    }
    return false;
}

// The planned records' banners in order, each with its success before the next banner or the menu,
// and the walk's end after the last.
bool walk_shows_install(const std::vector<std::string>& lines, const std::vector<const RecordText*>& planned,
                        std::optional<int> slot)
{
    size_t at = 0;
    for (const RecordText* record : planned) {
        const size_t banner = next_mark(lines, at);
        if (banner == lines.size() || lines[banner] != record->banner)
            return false;
        const size_t end = next_mark(lines, banner + 1);
        if (!shows_success(lines, banner + 1, end, *record, slot))
            return false;
        // A record booted at once ends the walk: the board never reads the records behind it
        if (std::string_view(record->type) == "application" && !slot)
            return true;
        at = end;
    }
    const size_t end = next_mark(lines, at);
    return end < lines.size() && is_menu(lines[end]);
}

bool shows_restart(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        for (std::string_view sign : kRestartTexts) {
            if (line.find(sign) != std::string::npos)
                return true;
        }
    }
    return false;
}

std::optional<int> slot_of(uint8_t bits)
{
    return bits == 0 ? std::nullopt : std::optional(bits == 1 ? 1 : 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t knobs = in.byte();
    const uint8_t shape = in.byte();
    const uint8_t types = in.byte();
    const std::string text = in.rest();
    const std::optional<int> slot = slot_of(knobs & 3);
    const std::optional<int> slot_written = slot_of((knobs >> 2) & 3);

    std::vector<PlannedRecord> plan;
    std::vector<const RecordText*> planned;
    // A record the board passes over prints nothing and is not looked for
    if (shape & 4)
        plan.push_back({"diagnostics", false});
    for (int i = 0; i <= (shape & 3); ++i) {
        const RecordText& record = kRecords[(types >> (2 * i)) & 3];
        plan.push_back({record.type, true});
        planned.push_back(&record);
    }

    const std::vector<std::string> lines = console_lines(text);
    if (judge_installer(text, plan, slot).installed) {
        fuzz::require(walk_shows_install(lines, planned, slot),
                      "installed only with each record's success in the planned order and the walk's end");
        fuzz::require(!shows_restart(lines), "installed only without a line of a board starting up");
    }

    const BootVerdict boot = judge_boot(text, slot_written);
    if (boot.ok && slot_written) {
        const size_t booting = text.rfind("Booting image '");
        fuzz::require(booting != std::string::npos && booting + 15 < text.size() &&
                          text[booting + 15] == static_cast<char>('0' + *slot_written),
                      "a good boot's last Booting image line names the slot written");
        fuzz::require(boot.text == "booted slot " + std::to_string(*slot_written),
                      "a good boot names the slot written");
    }
    return 0;
}
