#include "imgtool/send/boot_signs.h"

#include "imgtool/send/board_texts.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/line_watch.h"

namespace {

// A boot loader's prompt is the last thing it prints, with nothing after it
constexpr std::string_view kLoaderPrompts[] = {"=> ", "U-Boot> ", "U-Boot# "};

// The launcher's lines of a boot that did not take the slot it tried first, or found none
constexpr std::string_view kBootFailures[] = {
    "CRC failed, trying Image",
    "has invalid header... trying Image",
    board_text::BOTH_SLOTS_FAILED,
    board_text::NO_VALID_IMAGE,
    "Failed to ",
};

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> restart_sign(std::string_view text)
{
    for (const std::string& line : lines_of(text)) {
        for (std::string_view sign : board_text::RESTART_SIGNS) {
            if (contains(line, sign))
                return line;
        }
    }
    return std::nullopt;
}

LoaderState loader_state(std::string_view text)
{
    const size_t line_end = text.find_last_of('\n');
    std::string_view last = line_end == std::string_view::npos ? text : text.substr(line_end + 1);
    while (!last.empty() && last.front() == '\r')
        last.remove_prefix(1);
    for (std::string_view prompt : kLoaderPrompts) {
        if (last == prompt)
            return LoaderState::AtPrompt;
    }
    // A countdown counts only when the launcher has not started since
    size_t countdown = std::string_view::npos;
    for (std::string_view sign : board_text::COUNTDOWNS) {
        const size_t at = text.rfind(sign);
        if (at != std::string_view::npos && (countdown == std::string_view::npos || at > countdown))
            countdown = at;
    }
    if (countdown == std::string_view::npos)
        return LoaderState::Absent;
    const std::string_view after = text.substr(countdown);
    if (contains(after, board_text::RESCUE_ENTERED) || contains(after, board_text::BOOTING_SLOT))
        return LoaderState::Absent;
    return LoaderState::CountingDown;
}

std::optional<int> booted_slot(std::string_view text)
{
    const size_t at = text.rfind(board_text::BOOTING_SLOT);
    if (at == std::string_view::npos || at + board_text::BOOTING_SLOT.size() >= text.size())
        return std::nullopt;
    const char digit = text[at + board_text::BOOTING_SLOT.size()];
    if (digit != '1' && digit != '2')
        return std::nullopt;
    return digit - '0';
}

BootVerdict judge_boot(std::string_view text, std::optional<int> slot_written)
{
    std::optional<std::string> failure_line;
    for (const std::string& line : lines_of(text)) {
        for (std::string_view failure : kBootFailures) {
            if (!failure_line && contains(line, failure))
                failure_line = line;
        }
    }
    const std::optional<int> slot = booted_slot(text);
    if (!slot)
        return {false, std::string(phrase::NO_BOOT_AFTER_RESET) +
                           (failure_line ? " (its line: \"" + *failure_line + "\")" : "")};
    const std::string booted = "booted slot " + std::to_string(*slot);
    if (slot_written && *slot != *slot_written)
        return {false, std::string(phrase::BOOTED_OTHER_SLOT) + " " + std::to_string(*slot) + ", not slot " +
                           std::to_string(*slot_written) +
                           (failure_line ? " (its line: \"" + *failure_line + "\")" : "")};
    if (failure_line)
        return {false, std::string(phrase::REPORTED) + " " + *failure_line};
    if (contains(text, board_text::RECOVERY_QUESTION))
        return {false,
                std::string(phrase::ASKS_RECOVERY) + " after it " + booted +
                    " (the application looks made for other hardware): it waits for y, which shows the "
                    "rescue menu, or any other key, which starts that application anyway"};
    return {true, booted};
}
