// The texts a board prints on its console line that imgtool send turns on: the launcher's own,
// and those of the boot loader and the kernel before it, which only a board starting up prints.
#pragma once

#include <string_view>

namespace board_text {

// The rescue menu and its download
inline constexpr std::string_view MENU_HEADING = "Please select one of the following options:";
inline constexpr std::string_view MENU_PROMPT = "Option? : ";
inline constexpr std::string_view RESCUE_ENTERED = "Entering Rescue Mode.";
inline constexpr std::string_view SPEED_REQUEST = "Change the baud rate to ";
inline constexpr std::string_view SPEED_REQUEST_END = " bps and hit the <ENTER> key";
inline constexpr std::string_view BEFORE_DOWNLOAD = "before initiating the download.";
inline constexpr std::string_view PORT_FAILURE = "Can't open serial port!";
inline constexpr std::string_view START_REMINDER =
    "Waiting for the <Enter> key to be hit before the download can start";
inline constexpr std::string_view SPEED_BACK = "Change the baud rate back to ";
inline constexpr std::string_view SPEED_BACK_END = " bps, hit the <ENTER> key";
inline constexpr std::string_view END_REMINDER = "Waiting for the <ENTER> key to be hit...";

// The installer
inline constexpr std::string_view EXTRACTING = "Extracting images ... Do *NOT* power cycle the switch.";
inline constexpr std::string_view SLOT_QUESTION =
    "Install image as image 1 or 2 (hit return to just boot image): ";
inline constexpr std::string_view BOOTING_DOWNLOADED = "Booting downloaded image";
inline constexpr std::string_view READY_TO_BOOT = "Image ready to boot...";

// The launch
inline constexpr std::string_view BOOTING_SLOT = "Booting image '";
inline constexpr std::string_view LAUNCHING = "Uncompressing application image....";
inline constexpr std::string_view RECOVERY_QUESTION =
    "Would you like to enter recovery mode to download a new image? y/N: ";
inline constexpr std::string_view BOTH_SLOTS_FAILED = "Both image1 and image2 failed.";
inline constexpr std::string_view NO_VALID_IMAGE = "No valid application image found.";

// A boot loader's autoboot countdown, which any key received stops
inline constexpr std::string_view COUNTDOWNS[] = {
    "Hit any key to stop autoboot",
    "Press any key to stop autoboot",
    "Autobooting in",
};
// Lines only a board starting up prints: boot loaders' banners and countdowns, the kernel's first
// words and its restart, and the launcher's first line on either road
inline constexpr std::string_view RESTART_SIGNS[] = {
    "U-Boot ",
    "Hit any key to stop autoboot",
    "Press any key to stop autoboot",
    "Autobooting in",
    "## Booting kernel",
    "Starting kernel",
    "Linux version ",
    "Booting Linux",
    "reboot: Restarting system",
    RESCUE_ENTERED,
    BOOTING_SLOT,
};

}  // namespace board_text
