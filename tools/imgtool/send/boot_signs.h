// What a board's console text says of its boot: a restart, its boot loader counting down or at its
// prompt, the slot the launcher boots, and whether the next boot after an install went as it should.
// Plain functions over the board's text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The first line of text that only a board starting up prints: its boot loader's banner or
// countdown, the kernel's lines, the launcher starting again.
std::optional<std::string> restart_sign(std::string_view text);

enum class LoaderState {
    Absent,        // no boot loader text
    CountingDown,  // its autoboot countdown: any key would stop it
    AtPrompt,      // stopped at its command prompt
};
// Where the boot loader stands at the end of text.
LoaderState loader_state(std::string_view text);

// The slot of the last "Booting image 'N'" line in text.
std::optional<int> booted_slot(std::string_view text);

// The next boot, from the reset to the launch (or the recovery question): empty when it booted as it
// should, else what went wrong.  A slot is compared only when the install wrote one.
struct BootVerdict {
    bool ok;
    std::string text;  // "booted slot 2", or the failure
};
BootVerdict judge_boot(std::string_view text, std::optional<int> slot_written);
