"""The boot counter that the scenarios' checks of the launcher's console rest on."""
import pytest


@pytest.mark.parametrize("console, boots", [
    ("", []),
    ("U-Boot 2023\r\nStarting kernel\r\n", []),
    ("board: starting /bin/launcher\r\nlauncher: boot\r\nboard: reboot\r\n",
     [["launcher: boot", "board: reboot"]]),
    ("kernel text\r\nboard: starting /bin/launcher\r\na\r\nboard: poweroff\r\nafter the end\r\n"
     "board: starting /bin/launcher\r\nb\r\n\r\nboard: reboot\r\n",
     [["a", "board: poweroff"], ["b", "", "board: reboot"]]),
    # Cut short: at the end of the log, and by a power cut before the next start
    ("board: starting /bin/launcher\r\na\r\nboard: starting /bin/launcher\r\nb\r\nc",
     [["a"], ["b", "c"]]),
    # The lines must be the board's own, not text that contains them
    ("board: starting /bin/launcher \r\nx board: starting /bin/launcher\r\n", []),
    ("board: starting /bin/launcher\nlauncher: board: reboot\nboard: reboot now\n",
     [["launcher: board: reboot", "board: reboot now", ""]]),
    ("board: starting /bin/launcher\r\r\n    ... Waiting...\r\r\nboard: poweroff\r\r\n",
     [["    ... Waiting...", "board: poweroff"]]),
], ids=["empty", "no boot", "one boot", "boots among other text", "cut short", "start line inside another",
        "end line inside another", "doubled carriage returns"])
def test_each_boot_runs_from_the_start_line_to_the_end_line(boots_of, console, boots):
    assert boots_of(console) == boots
