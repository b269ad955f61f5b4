"""What scenarios of several themes expect: the launcher's console texts, and the board's slots and
slot byte afterwards. Texts that one theme alone expects stay beside its tests."""

APP = "/tmp/home/bin/mp.elf.strip"
SLOT_BASES = {1: 0x00000000, 2: 0x00800000}
PROMPT = "Would you like to enter recovery mode to download a new image? y/N: "
MENU = ["Please select one of the following options:", "\tX) Use xmodem 1K to serial download an image",
        "\tR) Reboot", "\tE) Exit", ""]
# A download on the two lines: the console shows the port's prompts, and the receiver's lines
DOWNLOAD = ["Option? : ", "Running xmodem rescue.....", "Init serial",
            "       Change the baud rate to 115200 bps and hit the <ENTER> key",
            "       before initiating the download.", "Init serial done", "EOT", "All done",
            "       Change the baud rate back to 9600 bps, hit the <ENTER> key", "",
            "Extracting images ... Do *NOT* power cycle the switch."]


def launched(slot, text):
    """The boot of SLOT's application, which says TEXT and powers the board off."""
    return [f"Booting image '{slot}'", "Uncompressing application image....",
            f"backtrace: starting {APP}", f"{APP}: {text}", "board: poweroff"]


def expect_boots(status, boots, wanted):
    """run-board ended well, after boots whose launcher lines are WANTED, boot by boot."""
    assert status == 0, "run-board's exit status"
    assert len(boots) == len(wanted), f"boots: {boots}"
    for number, (got, lines) in enumerate(zip(boots, wanted), start=1):
        assert got == lines, f"console lines of boot {number}"


def expect_installed(board, slot, application):
    """The slot byte names SLOT, which holds APPLICATION."""
    assert board.slot_byte() == slot, "slot byte"
    assert board.flash_bytes(SLOT_BASES[slot], len(application)) == application, f"slot {slot}"
