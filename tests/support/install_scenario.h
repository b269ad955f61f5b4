// The install that the power-cut and fault campaigns take apart, and the boot that judges what it
// left.  The board boots slot 1 and holds a good application in each slot; the download brings a
// kernel, a root file system and a new application, each record spanning three erase blocks (a
// first, a middle and a last one, filled in part), and the operator installs the application into
// slot 1 or slot 2.
//
// The flash reports erase blocks of 16 KiB: the launcher takes the geometry from the device, so its
// roads are those of the board's 128 KiB blocks, while a whole install has few enough erases and
// writes that a campaign can stop at every one of them within seconds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/board.h"

namespace reliability {

// What a boot started: the application of a slot as it was before the install, the new one, or
// nothing (the board reset).
enum class Started { OldOfSlot1, OldOfSlot2, NewOfSlot1, NewOfSlot2, Nothing };

std::string describe(Started started);
// "old application of slot 1 3, nothing 1": how often each start happened.
std::string describe(const std::map<Started, uint32_t>& outcomes);

class InstallScenario {
public:
    // The operator answers slot.
    InstallScenario(sim::Board& board, int slot);

    // Puts the board back as it was before the install: both slots with their old applications,
    // slot byte 1, the CPLD at power-on, erased kernel and root file system areas.
    void prepare();
    // Runs the install as the rescue menu does, with the bus and the flash up.
    sim::Run install();
    // What a sound board must start from the flash and the slot byte as they are: the slot the
    // byte names if it holds a whole record, else the other slot if it does, else nothing.
    Started expected_start() const;
    // Boots the board afresh and tells which application it started.
    Started boot();
    // Whether the slot the application goes into holds the new record byte for byte.
    bool new_application_whole() const;

private:
    Started whole_record_of(int slot) const;

    sim::Board& board_;
    int slot_;
    std::vector<uint8_t> new_application_;
};

}  // namespace reliability
