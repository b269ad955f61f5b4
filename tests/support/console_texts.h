// What the board says on its console, written out here once as the operator reads it, so that a
// changed word fails every test that shows it.
#pragma once

#include <string>
#include <vector>

// A run's course as the tests expect it, a step or a console text a line.
using Lines = std::vector<std::string>;

// The rescue menu's texts, and the menu with its prompt and the newline that follows the operator's
// choice.
inline const std::string kRescueEntry = "Entering Rescue Mode.\n";
inline const std::string kRescueMenu = "Please select one of the following options:\n"
                                       "\tX) Use xmodem 1K to serial download an image\n"
                                       "\tR) Reboot\n"
                                       "\tE) Exit\n";
inline const std::string kRescuePrompt = "\nOption? : ";
inline const std::string kRescueMenuChoice = kRescueMenu + kRescuePrompt + "\n";
inline const std::string kRescueDownload = "Running xmodem rescue.....\n";

// The receiver's words to the operator before and after the transfer, and the reminders it repeats
// while no key comes.
inline const std::string kSwitchTo115200 =
    "       Change the baud rate to 115200 bps and hit the <ENTER> key\n"
    "       before initiating the download.\n";
inline const std::string kSwitchBackTo9600 =
    "       Change the baud rate back to 9600 bps, hit the <ENTER> key\n";
inline const std::string kStartReminder =
    "\r\n    ... Waiting for the <Enter> key to be hit before the download can start...\r\n";
inline const std::string kEndReminder = "\r\n    ... Waiting for the <ENTER> key to be hit...\r\n";

// The installer's first line, and its question for an application record.
inline const std::string kExtracting = "\nExtracting images ... Do *NOT* power cycle the switch.\n";
inline const std::string kSlotPrompt = "Install image as image 1 or 2 (hit return to just boot image): ";
