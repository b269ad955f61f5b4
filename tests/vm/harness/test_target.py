"""A target's pure parts: the boot loader's countdown and prompt recognised on the line, and the boot
wait after a power cycle, with the operator's five minutes on top when a hand cycles the power."""
import pytest

# The countdown as U-Boot 2023.01 prints it: the number rewritten over backspaces each second, and a
# line end once it has stopped
BANNER = b"U-Boot 2023.01\r\n\r\nDRAM:  256 MiB\r\n"
COUNTDOWN = b"Hit any key to stop autoboot:  1 "


@pytest.mark.parametrize("line, shown, stopped", [
    (BANNER, False, False),
    (BANNER + COUNTDOWN, True, False),
    (BANNER + b"Hit any key to stop autoboot:  3 \x08\x08\x08 2 ", True, False),
    # Run out: the kernel starts; the launcher's own lines never start with the prompt
    (BANNER + COUNTDOWN + b"\x08\x08\x08 0 \r\n## Booting kernel from Legacy Image at 02000000 ...\r\n"
     b"board: starting /bin/launcher\r\nOption? : ", True, False),
    # A key stopped it: the prompt on a line of its own, alone or with a command typed after it
    (BANNER + COUNTDOWN + b"\x08\x08\x08 0 \r\n=> ", True, True),
    (BANNER + COUNTDOWN + b"\x08\x08\x08 0 \r\n=> boot\r\n", True, True),
    # The arrow inside a line is not the prompt, nor is a prompt before any countdown
    (BANNER + COUNTDOWN + b"\r\nbootcmd => bootm\r\n", True, False),
    (b"=> " + BANNER, False, False),
    (b"Hit any key to stop autoboot: ", False, False),
], ids=["banner only", "counting", "counting down", "run out", "stopped", "boot typed", "arrow in a line",
        "prompt before", "no number yet"])
def test_boot_loader_on_the_line(countdown_shown, stopped_at_loader, line, shown, stopped):
    assert (countdown_shown(line), stopped_at_loader(line)) == (shown, stopped)


@pytest.mark.parametrize("cycled_at, boot_wait, by_hand, deadline", [
    (1000.0, 90, False, 1090.0),
    (1000.0, 90, True, 1390.0),
], ids=["power command", "the operator's hand"])
def test_boot_deadline(boot_deadline, cycled_at, boot_wait, by_hand, deadline):
    assert boot_deadline(cycled_at, boot_wait, by_hand) == deadline
