// The board's installer judged by its own words: for each record the success text it prints, the
// walk ended as the board ends it, and no sign of a restart in between.  A plain function over
// the text the board printed after "Extracting images ...".
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "imgtool/send/session.h"

struct InstallVerdict {
    bool installed;
    // "kernel, application in slot 2" when installed, else the failure to report
    std::string text;
};

// text runs from the end of the installer's first line to the menu's prompt or the line of an
// application booted at once; plan holds the download's records; slot is where an application
// goes (none: booted at once).
InstallVerdict judge_installer(std::string_view text, std::span<const PlannedRecord> plan,
                               std::optional<int> slot);

// What to say when the board shows its menu again after the switch back without starting its
// installer: its own line when it printed one (a download it could not store), else the empty file
// it was given.  text runs from the switch back to the menu.
std::string empty_return_cause(std::string_view text);
