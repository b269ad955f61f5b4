#include "imgtool/send/installer_verdict.h"

#include <algorithm>
#include <vector>

#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/line_watch.h"

namespace {

struct Banner {
    std::string_view line;
    std::string_view type;
    std::string_view area;          // what is written, as the technician is told
    std::string_view write_failed;  // the installer's line when the flash write fails
};
constexpr Banner kBanners[] = {
    {"**** BOOT CODE ****", "bootcode", "the boot loader's area", "uboot image updated failed"},
    {"**** KERNEL ****", "kernel", "the kernel's area", "kernel image updated failed"},
    {"**** ROOTFILESYSTEM ****", "rootfs", "the root file system's area", "RFS image updated failed"},
    {"**** APPLICATION ****", "application", "", ""},
};

const Banner* banner_of(const std::string& line)
{
    for (const Banner& banner : kBanners) {
        if (line == banner.line)
            return &banner;
    }
    return nullptr;
}

bool starts_with(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

bool is_menu(const std::string& line)
{
    return line == board_text::MENU_HEADING || starts_with(line, board_text::MENU_PROMPT);
}

// The dots the board prints, one per erase block it writes.
bool is_progress(const std::string& line)
{
    return !line.empty() && line.find_first_not_of('.') == std::string::npos;
}

// The dots carry no line end of their own, so a flash failure's line starts with those of the
// blocks written before it.
std::string without_dots(const std::string& line)
{
    const size_t text = line.find_first_not_of('.');
    return text == std::string::npos ? line : line.substr(text);
}

// One record's lines, from its banner to the next banner or the menu.
struct Segment {
    const Banner* banner;
    std::vector<std::string> lines;
};

struct Walk {
    std::vector<std::string> before;  // lines before the first banner
    std::vector<Segment> segments;
    bool menu_again = false;
};

Walk split_walk(const std::vector<std::string>& lines)
{
    Walk walk;
    for (const std::string& line : lines) {
        if (is_menu(line)) {
            walk.menu_again = true;
            break;
        }
        if (const Banner* banner = banner_of(line))
            walk.segments.push_back({banner, {}});
        else if (!line.empty())
            (walk.segments.empty() ? walk.before : walk.segments.back().lines).push_back(line);
    }
    return walk;
}

std::string write_failed_line(const Segment& segment, std::optional<int> slot)
{
    if (segment.banner->type != "application")
        return std::string(segment.banner->write_failed);
    return slot ? "Image" + std::to_string(*slot) + " updated failed" : "";
}

// The installer's line that names the failed record is the one the runbook explains, so it comes
// first, with the flash's own lines before it as its cause; any other line is quoted as it came.
std::string reported(const std::vector<std::string>& unexpected, const std::string& write_failed)
{
    const std::string said = std::string(phrase::REPORTED) + " ";
    const auto named = std::find(unexpected.begin(), unexpected.end(), write_failed);
    if (write_failed.empty() || named == unexpected.end())
        return said + unexpected.front();
    std::string causes;
    for (auto cause = unexpected.begin(); cause != named; ++cause)
        causes += (causes.empty() ? "" : "; ") + *cause;
    return said + *named + (causes.empty() ? "" : " (" + causes + ")");
}

// Why a record's lines are not the board's success, or nothing when they are.
std::optional<std::string> segment_failure(const Segment& segment, std::optional<int> slot)
{
    const std::string slot_name = slot ? "image" + std::to_string(*slot) : "";
    const std::string succeeded = "Image" + std::to_string(slot.value_or(0)) + " updated succeeded";
    bool confirmed = false;
    std::vector<std::string> unexpected;
    for (const std::string& line : segment.lines) {
        const bool expected = segment.banner->type != "application"
                                  ? is_progress(line) && !confirmed
                                  : is_progress(line) || starts_with(line, board_text::SLOT_QUESTION) ||
                                        (slot && line == "Installing image as " + slot_name + "...") ||
                                        (!slot && (line == board_text::BOOTING_DOWNLOADED ||
                                                   line == board_text::READY_TO_BOOT));
        if (!expected && line != succeeded) {
            unexpected.push_back(without_dots(line));
            continue;
        }
        if (segment.banner->type != "application")
            confirmed = confirmed || is_progress(line);
        else
            confirmed = confirmed || (slot ? line == succeeded : line == board_text::READY_TO_BOOT);
    }
    if (!unexpected.empty())
        return reported(unexpected, write_failed_line(segment, slot));
    if (confirmed)
        return std::nullopt;
    if (segment.banner->type != "application")
        return std::string(phrase::NOT_CONFIRMED) + " the " + std::string(segment.banner->type) +
               ": no progress dots after its banner";
    return std::string(phrase::NOT_CONFIRMED) + " the application: no \"" +
           (slot ? succeeded : std::string(board_text::READY_TO_BOOT)) + "\"";
}

std::string a_record(std::string_view type)
{
    return (type == "application" ? "an " : "a ") + std::string(type) + " record";
}

std::string what_was_written(const Segment& segment, std::optional<int> slot)
{
    if (segment.banner->type != "application")
        return std::string(segment.banner->area);
    return slot ? "slot " + std::to_string(*slot) : "";
}

// The walk up to the restart's first line judged: what was being written then, and which slot the
// board boots now.
InstallVerdict restarted(std::string_view text, const std::string& sign, const Walk& walk,
                         std::optional<int> slot)
{
    std::string written;
    bool slot_selected = false;
    for (const Segment& segment : walk.segments) {
        // An area's dots end with a line end when its write ends, but a restart's first line may bring
        // one too: only the next banner shows that the last area was written whole
        const bool last = &segment == &walk.segments.back();
        const bool whole =
            !segment_failure(segment, slot).has_value() && (!last || segment.banner->type == "application");
        if (segment.banner->type == "application" && slot)
            slot_selected = whole;
        if (!whole && written.empty())
            written = what_was_written(segment, slot);
    }
    std::string said = std::string(phrase::RESTARTED) + " (its line: \"" + sign + "\"): ";
    if (!written.empty())
        said += written + " was being written and must not be trusted; ";
    if (const std::optional<int> booting = booted_slot(text))
        said += "the board boots slot " + std::to_string(*booting) + "; ";
    else if (slot_selected)
        said += "the board boots slot " + std::to_string(*slot) + ", written whole before the restart; ";
    else
        said += "the board boots the slot it booted before this download (the slot changes only after a "
                "whole write); ";
    return {false, said + "download again"};
}

}  // namespace

InstallVerdict judge_installer(std::string_view text, std::span<const PlannedRecord> plan,
                               std::optional<int> slot)
{
    // Lines up to the menu: a restart prints the menu too, after its boot lines
    const std::vector<std::string> lines = lines_of(text);
    if (std::optional<std::string> sign = restart_sign(text)) {
        const auto restart = std::find(lines.begin(), lines.end(), *sign);
        return restarted(text, *sign, split_walk({lines.begin(), restart}), slot);
    }
    const Walk walk = split_walk(lines);
    if (!walk.before.empty())
        return {false, std::string(phrase::REPORTED) + " " + walk.before.front()};
    std::vector<const PlannedRecord*> planned;
    for (const PlannedRecord& record : plan) {
        if (record.installed)
            planned.push_back(&record);
    }
    std::string summary;
    for (size_t i = 0; i < walk.segments.size(); ++i) {
        const Segment& segment = walk.segments[i];
        if (i >= planned.size() || planned[i]->type != segment.banner->type)
            return {false, std::string(phrase::RECORDS_HANDLED) + " " + a_record(segment.banner->type) +
                               " where the download holds " +
                               (i < planned.size() ? a_record(planned[i]->type) : "no more records")};
        if (std::optional<std::string> failure = segment_failure(segment, slot))
            return {false, *failure};
        std::string what(segment.banner->type);
        if (what == "application")
            what += slot ? " in slot " + std::to_string(*slot) : " booted at once";
        summary += (summary.empty() ? "" : ", ") + what;
    }
    // A record booted at once ends the walk: the records behind it are never looked at
    const bool booted = !slot && !walk.segments.empty() && walk.segments.back().banner->type == "application";
    if (!booted && walk.segments.size() < planned.size())
        return {false, std::string(phrase::RECORDS_HANDLED) + " " + std::to_string(walk.segments.size()) +
                           " of the " + std::to_string(planned.size()) + " records it was sent"};
    if (!booted && !walk.menu_again)
        return {false, std::string(phrase::WALK_NOT_ENDED) + ": its menu did not come back"};
    return {true, summary};
}

std::string empty_return_cause(std::string_view text)
{
    for (const std::string& line : lines_of(text)) {
        if (is_menu(line))
            break;
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line.find(board_text::END_REMINDER) == std::string::npos)
            return std::string(phrase::REPORTED) + " " + line.substr(start) + " (nothing was installed)";
    }
    return std::string(phrase::EMPTY_FILE);
}
