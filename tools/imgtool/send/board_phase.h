// Where a board stands as imgtool send follows it, in one table: for each phase the line's speed,
// what the board waits for, what the tool may type into it, and what each way of stopping does.
// decide() turns the phase and what was just read on the line (an event), or the reason the run is
// stopping, into the keys the tool types and the words it says: the conversation asks it at every
// turn it did not plan for, so that no key goes into a board that is somewhere else than the tool
// thinks.
#pragma once

#include <string>
#include <string_view>

enum class Phase {
    Booting,        // its boot loader, kernel or launcher on their way: nothing typed
    Countdown,      // its boot loader counting down: any key would stop it
    LoaderPrompt,   // its boot loader's command prompt
    Menu,           // the rescue menu
    StartEnter,     // the Enter that starts a transfer, at the transfer's speed
    Receiving,      // the blocks
    EndEnter,       // the line feed after a transfer, back at the console's speed
    SlotQuestion,   // the installer's question, a line of input
    Installing,     // writing flash
    BootingResult,  // booting what was installed, or an application booted at once
};

// What the tool read on the line, typed.
enum class Event {
    Menu,              // the menu's prompt
    RecoveryQuestion,  // the launcher asks before it boots an application
    Launching,         // the launcher unpacks an application
    Countdown,         // a boot loader's autoboot countdown
    LoaderPrompt,      // a boot loader's prompt, the last thing on the line
    RestartSign,       // a line only a board starting up prints
    StartReminder,     // the board waits for the Enter that starts a transfer
    EndReminder,       // the board waits for the line feed after a transfer
    SlotQuestion,      // the installer asks where an application goes
    KeysEchoed,        // only the keys typed came back
    Loopback,          // the erasure came back as typed: the line is looped back
    LinePromptEcho,    // the erasure was taken: a board at a line prompt
    WrongSpeed,        // bytes that are not text: the board talks at another speed
    Silence,           // the wait's time ran out
    LineLost,          // the line hung up or went away
    Stopped,           // Ctrl-C or a signal: decided with its Stop
    // What the steps of the conversation wait for in turn
    SpeedRequest,     // the board asks for the transfer's speed
    SpeedRequestEnd,  // the speed asked for ends
    PortFailure,      // the board cannot open its download port
    BeforeDownload,   // the end of its request: it switches its port now
    SpeedBack,        // after a transfer it asks for the console's speed again
    SpeedBackEnd,     // the speed asked for ends
    Extracting,       // the installer starts its walk
    ReadyToBoot,      // an application booted at once is about to start
    BootingSlot,      // the launcher boots a slot
    RescueEntered,    // the launcher enters rescue mode
    BootFailed,       // the launcher found no slot to boot
    LineEnd,
};

// Why the run is stopping, from outside the conversation.
enum class Stop {
    CtrlC,
    SecondCtrlC,
    Signal,  // SIGTERM or SIGHUP
};

// The keys a decision types.
enum class Keys {
    None,
    WakeKey,     // y: the menu shows its prompt again, the recovery question takes it as yes
    StartEnter,  // carriage return
    EndEnter,    // line feed
    SlotAnswer,  // the slot asked for (or nothing, to boot at once), and carriage return
    Erase,       // the line's erase character, DEL
};

// What the conversation does next besides typing.
enum class Next {
    Wait,         // on in the phase given
    Listen,       // listen at the transfer's speed for a board waiting for its Enter, typing nothing
    EndTransfer,  // end the transfer without a file, then switch back and see the menu again
    Follow,       // back to the console's speed, typing nothing, showing the board's first lines, then end
    End,          // this board's service ends with the words said
};

struct Decision {
    Keys keys;
    Phase phase;  // where the board stands after
    Next next;
    int status;  // when the service ends: 1 failed, 3 no board answered
    std::string said;
};

struct PhaseRow {
    Phase phase;
    std::string_view name;
    unsigned speed;  // of the board's side of the line, bit/s
    std::string_view waits_for;
    std::string_view may_type;  // the keys the tool may type there
    bool first_ctrl_c_leaves;   // else the tool ends what it began, or goes on answering the board
    std::string_view left;      // when the tool leaves there: what was done, what the board does
};

const PhaseRow& phase_row(Phase phase);

Decision decide(Phase phase, Event event);
Decision decide(Phase phase, Stop stop);

// The keys on the wire: slot is "1" or "2", or empty to boot at once.
std::string keys_text(Keys keys, const std::string& slot);
