#include "imgtool/send/line_events.h"

#include <algorithm>

#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"

namespace {

struct EventText {
    Event event;
    std::string_view text;
};

constexpr EventText kEventTexts[] = {
    {Event::Menu, board_text::MENU_PROMPT},
    {Event::RecoveryQuestion, board_text::RECOVERY_QUESTION},
    {Event::Launching, board_text::LAUNCHING},
    {Event::StartReminder, board_text::START_REMINDER},
    {Event::EndReminder, board_text::END_REMINDER},
    {Event::SlotQuestion, board_text::SLOT_QUESTION},
    {Event::SpeedRequest, board_text::SPEED_REQUEST},
    {Event::SpeedRequestEnd, board_text::SPEED_REQUEST_END},
    {Event::PortFailure, board_text::PORT_FAILURE},
    {Event::BeforeDownload, board_text::BEFORE_DOWNLOAD},
    {Event::SpeedBack, board_text::SPEED_BACK},
    {Event::SpeedBackEnd, board_text::SPEED_BACK_END},
    {Event::Extracting, board_text::EXTRACTING},
    {Event::ReadyToBoot, board_text::READY_TO_BOOT},
    {Event::BootingSlot, board_text::BOOTING_SLOT},
    {Event::RescueEntered, board_text::RESCUE_ENTERED},
    {Event::BootFailed, board_text::BOTH_SLOTS_FAILED},
    {Event::BootFailed, board_text::NO_VALID_IMAGE},
    {Event::LineEnd, "\n"},
};

// Fewer stray bytes than this are noise on the line, not a board talking at another speed
constexpr size_t kWrongSpeedRun = 8;

bool wanted_event(std::span<const Event> wanted, Event event)
{
    return std::find(wanted.begin(), wanted.end(), event) != wanted.end();
}

// Keeps the earliest find; at one place the event asked first wins.
void consider(std::optional<FoundEvent>& first, size_t& first_at, Event event, size_t at, size_t end)
{
    if (!first || at < first_at) {
        first = FoundEvent{event, end};
        first_at = at;
    }
}

void find_texts(std::string_view text, size_t from, Event event, std::span<const std::string_view> texts,
                std::optional<FoundEvent>& first, size_t& first_at)
{
    for (std::string_view sign : texts) {
        const size_t at = text.find(sign, from);
        if (at != std::string_view::npos)
            consider(first, first_at, event, at, at + sign.size());
    }
}

}  // namespace

std::optional<FoundEvent> find_event(std::string_view text, size_t from, std::span<const Event> wanted)
{
    std::optional<FoundEvent> first;
    size_t first_at = 0;
    for (const EventText& known : kEventTexts) {
        if (wanted_event(wanted, known.event))
            find_texts(text, from, known.event, std::span(&known.text, 1), first, first_at);
    }
    if (wanted_event(wanted, Event::Countdown))
        find_texts(text, from, Event::Countdown, board_text::COUNTDOWNS, first, first_at);
    if (wanted_event(wanted, Event::RestartSign))
        find_texts(text, from, Event::RestartSign, board_text::RESTART_SIGNS, first, first_at);
    if (first)
        return first;
    if (wanted_event(wanted, Event::LoaderPrompt) && loader_state(text.substr(from)) == LoaderState::AtPrompt)
        return FoundEvent{Event::LoaderPrompt, text.size()};
    if (wanted_event(wanted, Event::WrongSpeed) && wrong_speed_bytes(text.substr(from)) >= kWrongSpeedRun)
        return FoundEvent{Event::WrongSpeed, text.size()};
    return std::nullopt;
}

size_t wrong_speed_bytes(std::string_view text)
{
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x80 || (byte < 0x20 && byte != '\r' && byte != '\n' && byte != '\t' && byte != '\b' &&
                                byte != '\a' && byte != 0x1B);
    }));
}
