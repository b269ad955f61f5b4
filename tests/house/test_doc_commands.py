"""The document command checker on small made-up help texts and documents."""
import pytest

import doc_commands

IMGTOOL_HELP = """Usage: imgtool COMMAND [ARGUMENTS...]
  or:  imgtool send --line DEV [--line DEV...] [--slot 1|2|boot] [--verify] DOWNLOAD
  or:  imgtool --help | --version
Makes records.

Commands:
  pack   wrap a payload in an image record
  send   do a rescue download

'imgtool COMMAND --help' describes a command; 'imgtool --version' prints the version.
"""

SEND_HELP = """Usage: imgtool send --line DEV [--line DEV...] [--slot 1|2|boot]
                    [--verify] DOWNLOAD
Does the download.

  --line DEV      the board's serial line
  --wait SECONDS  how long to wait for the rescue menu
"""

PACK_HELP = """Usage: imgtool pack --type TYPE [--id N] PAYLOAD -o RECORD
Writes PAYLOAD as an image record.

  --type TYPE  the record type, one of:
                 application  0x014a414e
  -o RECORD    the record file to write
"""

RUN_BOARD_HELP = """usage: run-board [-h] [--slot SLOT]
                 [--pty [LINK]]

Boots the board.

options:
  -h, --help            show this help message and exit
  --slot SLOT           the slot byte
  --pty [LINK]          the one line on a pseudo-terminal for a terminal program, e.g. picocom
                        -b 9600 --send-cmd "sx -vv -k" PATH
  --timeout SECONDS     for all boots together
"""

HELPS = {("imgtool",): IMGTOOL_HELP, ("imgtool", "send"): SEND_HELP, ("imgtool", "pack"): PACK_HELP,
         ("vm/run-board",): RUN_BOARD_HELP}


@pytest.fixture
def programs(tmp_path):
    (tmp_path / "vm").mkdir()
    (tmp_path / "scripts").mkdir()
    (tmp_path / "vm/board").mkdir()
    (tmp_path / "vm/run-board").write_text("#!/usr/bin/env python3\n")
    (tmp_path / "scripts/run-board").write_text("#!/usr/bin/env bash\nexec vm/run-board \"$@\"\n")
    (tmp_path / "scripts/fuzz.sh").write_text(
        "#!/usr/bin/env bash\n# Usage: scripts/fuzz.sh [--keep] [seconds [target...]]\n")
    (tmp_path / "scripts/install-deps.sh").write_text("#!/usr/bin/env bash\n")
    return doc_commands.Programs(tmp_path, lambda program: HELPS[program])


@pytest.mark.parametrize("command, problems", [
    # Commands and options as the help texts list them
    ("imgtool send --line /dev/ttyUSB0 --slot 2 --verify download.bin", []),
    ("imgtool send --wait 90 download.bin", []),
    ("imgtool --version", []),
    ("imgtool send --help", []),
    ("vm/run-board --slot 2 --pty /tmp/line --timeout 60", []),
    ("scripts/run-board --slot 2 && run-board -h", []),
    ("scripts/fuzz.sh --keep 600 installer", []),
    # Wrong ones
    ("imgtool send --speed 115200 download.bin", ["imgtool send has no option --speed"]),
    ("imgtool sned download.bin", ["imgtool has no command sned"]),
    ("imgtool --verbose", ["imgtool has no option --verbose"]),
    ("imgtool --line /dev/ttyUSB0 download.bin", ["imgtool has no option --line"]),
    ("imgtool pack --type kernel --id 0x10 uImage -o kernel.rec --slot 2", ["imgtool pack has no option --slot"]),
    ("vm/run-board --slot=2 --board 3", ["vm/run-board has no option --board"]),
    ("sudo LAUNCHER_VM_CACHE=/tmp/c scripts/run-board --bench", ["scripts/run-board has no option --bench"]),
    ("scripts/fuzz.sh --fast", ["scripts/fuzz.sh has no option --fast"]),
    ("scripts/bench-all.sh 9", ["no script scripts/bench-all.sh"]),
    ("vm/boot-time.py --boots 5", ["no script vm/boot-time.py"]),
    ("scripts/fuzz.sh -D", ["scripts/fuzz.sh has no option -D"]),
    # A wrapped description of run-board's that names picocom's and sx's options offers none of its own
    ("vm/run-board --send-cmd sx -b 9600", ["vm/run-board has no option --send-cmd",
                                            "vm/run-board has no option -b"]),
    # Placeholders, quoted messages and other programs pass
    ("imgtool COMMAND --help", []),
    ("imgtool send --line DEV [--line DEV...] [--slot 1|2|boot] [--OPTION] <download>", []),
    ("imgtool send: /dev/ttyUSB0: pressing X --now", []),
    ("scripts/install-deps.sh --anything", []),
    ("scripts/*.sh && scripts/<name>.sh && vm/board --x && vm/ && vm", []),
    ("picocom -b 9600 --send-cmd 'sx -vv' /dev/ttyUSB0", []),
])
def test_commands_are_checked_against_the_help_texts(programs, command, problems):
    found = [problem for words in doc_commands.simple_commands(command)
             for problem in doc_commands.problems_of(words, programs)]
    assert found == problems


DOCUMENT = """# Title

Run `imgtool send --line DEV
download.bin` at the desk, or `vm/run-board`.

```
imgtool pack --type kernel uImage \\
    -o kernel.rec   # the record
scripts/test.sh dev
```

```
$ imgtool info download.bin
imgtool info: output, not a command
$ scripts/test.sh
```
"""


def test_commands_come_from_inline_code_and_from_blocks_prompted_lines():
    assert list(doc_commands.code_in(DOCUMENT)) == [
        (3, "imgtool send --line DEV download.bin"),
        (4, "vm/run-board"),
        (7, "imgtool pack --type kernel uImage  -o kernel.rec   # the record"),
        (9, "scripts/test.sh dev"),
        (13, "imgtool info download.bin"),
        (15, "scripts/test.sh"),
    ]


def test_a_document_s_problems_name_its_line(programs, tmp_path):
    document = tmp_path / "doc.md"
    document.write_text("Intro.\n\n```\nimgtool send --slot 2 x\nimgtool send --sped 9 x\n```\n")
    assert doc_commands.check_document(document, "doc.md", programs) == (
        ["doc.md:5: imgtool send has no option --sped (in: imgtool send --sped 9 x)"], 2)
