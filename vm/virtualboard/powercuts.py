"""Power cuts during a rescue install on the virtual board: the board's kernel, its MTD driver and
its flash, cut by ending QEMU with SIGKILL.

Each round starts from the same board: a whole, different application in each slot, the slot byte
naming slot 1, rescue mode in the boot-loader environment. A download of a kernel, a root file
system and an application (each an erase block and a half, spanning two) is sent with sx -k and
installed, the application into slot 2 (series "unbooted") or slot 1 (series "booted"); at a chosen
moment of the install QEMU is killed. The board then boots again from the flash and EEPROM as the cut left them,
without rescue mode, and the outcome is classified. The moments come from the install's own
timeline, measured first in a round without a cut: spread evenly (with a seeded jitter) over the
time the install spends writing flash, the operator's answer left out, with one cut in SLOT_SHARE
falling in the time the slot byte takes after the application is written (the EEPROM's gate and
write cycle waits)."""
import os
import shutil
import time

from . import records
from .board import APP, BOOT_TIMEOUT, KEY_DELAY
from .runner import boots_of

SLOT_BASES = {1: 0x00000000, 2: 0x00800000}
ERASE_SIZES = {"cfi": 64 << 10, "block2mtd": 128 << 10}
# The installer's slot answer for each series: the slot not booted, or the booted one
SERIES = {"unbooted": 2, "booted": 1}
EXTRACTING = "Extracting images ... Do *NOT* power cycle the switch."
INSTALL_PROMPT = "(hit return to just boot image): "
SUCCEEDED = "updated succeeded"
MENU_PROMPT = "Option? : "
# The install's steps as the console shows them, in order: the cut's phase is the last one shown
PHASES = (("kernel", "**** KERNEL ****"), ("root file system", "**** ROOTFILESYSTEM ****"),
          ("application", "Installing image as image"), ("slot byte", SUCCEEDED),
          ("after the install", MENU_PROMPT))
OUTCOMES = ("old application", "new application", "fallback to the other slot",
            "the selected slot's previous application", "no application")
BOOTED_BEFORE = "application A, first in slot 1"
# A boot after the cut takes a few seconds; a round's transfer is bounded by the round's own deadline
ROUND_SECONDS = 240
SLOT_SHARE = 5
# A round whose reboot ends in a reset is booted once more: a board that resets for ever does so again
BOOTS_AFTER_CUT = 2


class Campaign:
    """One back end's board files and records, and the rounds run on them."""

    def __init__(self, backend, board, rng):
        self.backend, self.workdir, self.board = backend, board.workdir, board
        board.flash_backend = backend
        # An erase block and a half: every record spans two, the second in part, and the download
        # stays small enough for a round well under a minute on the board's line
        size = ERASE_SIZES[backend] * 3 // 2
        self.apps = {name: (board.big_application(text, size), text) for name, text in (
            ("slot 1", BOOTED_BEFORE), ("slot 2", "application B, first in slot 2"),
            ("download", "application N from the download"))}
        kernel = records.record("kernel", rng.randbytes(size), 0x11)
        rootfs = records.record("rootfs", rng.randbytes(size), 0x22)
        self.download = os.path.join(self.workdir, "download.bin")
        records.write(self.download, kernel + rootfs + self.apps["download"][0])
        self.initial_flash = os.path.join(self.workdir, "initial-flash.img")
        self.board.make_flash(["diagnostics=rescue"], slot1=self.apps["slot 1"][0], slot2=self.apps["slot 2"][0])
        shutil.copyfile(self.board.flash, self.initial_flash)

    def install(self, answer, cut_at=None):
        """Boots into rescue mode and installs the download, answering ANSWER for the application.
        Without CUT_AT, gives the install's timeline in seconds: (flash writes before the answer,
        flash writes after it, the slot byte's time after them). With CUT_AT = (anchor, seconds),
        QEMU is killed that long after the anchor (the start of the install, or the answer) and the
        phase the cut fell in is given."""
        shutil.copyfile(self.initial_flash, self.board.flash)
        # A fresh EEPROM naming slot 1
        with self.board.runner(1, 1, "--send", self.download, seconds=ROUND_SECONDS) as runner:
            runner.expect(MENU_PROMPT)
            runner.type(b"x")
            runner.expect(EXTRACTING)
            started = time.monotonic()
            if cut_at and cut_at[0] == "start":
                return self.cut(runner, started + cut_at[1])
            runner.expect(INSTALL_PROMPT)
            prompted = time.monotonic()
            time.sleep(KEY_DELAY)
            runner.type(f"{answer}\r".encode())
            answered = time.monotonic()
            if cut_at:
                return self.cut(runner, answered + cut_at[1])
            runner.expect(SUCCEEDED)
            written = time.monotonic()
            runner.expect(MENU_PROMPT)
            finished = time.monotonic()
            runner.type(b"r")
            runner.finish()
        return prompted - started, written - answered, finished - written

    def cut(self, runner, at):
        time.sleep(max(0.0, at - time.monotonic()))
        self.board.cut_power()
        runner.finish()
        text = runner.console_text()
        shown = [(text.rfind(marker, text.find(EXTRACTING)), name) for name, marker in PHASES]
        position, phase = max(shown)
        return phase if position >= 0 else "before the install"

    def boot_after_cut(self):
        """Boots the board as the cut left it, without rescue mode; gives the console lines of each boot."""
        with open(self.board.flash, "r+b") as f:
            f.seek(records.ENV_STRINGS)
            f.write(b"\0\0")
        with self.board.runner(None, BOOTS_AFTER_CUT, seconds=BOOT_TIMEOUT * BOOTS_AFTER_CUT) as runner:
            runner.finish()
        return boots_of(runner.console_text())

    def whole_records(self, slot):
        """The texts of the applications whose whole record the slot holds."""
        held = []
        for record, text in self.apps.values():
            if self.board.flash_bytes(SLOT_BASES[slot], len(record)) == record:
                held.append(text)
        return held

    def classify(self, boots):
        """(outcome, fault or None) of the first boot after the cut."""
        lines = boots[0] if boots else []
        started = [line.split(": ", 1)[1] for line in lines if line.startswith(APP + ": ")]
        slots = [int(line[len("Booting image '")]) for line in lines if line.startswith("Booting image '")]
        if not started:
            whole = [slot for slot in SLOT_BASES if self.whole_records(slot)]
            fault = f"no application while slot {whole[0]} is whole" if whole else None
            return "no application", fault
        slot, text = slots[-1], started[0]
        if text not in self.whole_records(slot):
            return "booted a half-written slot", f"slot {slot} started {text!r} from a record that is not whole"
        if len(slots) > 1:
            return "fallback to the other slot", None
        if text == BOOTED_BEFORE:
            return "old application", None
        if text == self.apps["download"][1]:
            return "new application", None
        # The slot byte names the slot installed into, whose new bytes never reached the flash
        return "the selected slot's previous application", None


def cut_moments(timeline, cuts, rng):
    """CUTS moments, each at a random point of its even share of the install's time: the flash
    writes, and the slot byte's time weighted down to one share in SLOT_SHARE."""
    before, application, slot_byte = timeline
    writing = before + application
    segments = [("start", 0.0, before, before), ("answer", 0.0, application, application),
                ("answer", application, slot_byte, writing / (SLOT_SHARE - 1))]
    total = sum(weight for *_, weight in segments)
    moments = []
    for index in range(cuts):
        at = (index + rng.random()) / cuts * total
        for anchor, offset, length, weight in segments:
            if at < weight or (anchor, offset) == segments[-1][:2]:
                moments.append((anchor, offset + min(at / weight, 1.0) * length))
                break
            at -= weight
    return moments


def run_series(campaign, series, timeline, cuts, rng):
    answer = SERIES[series]
    outcomes = {name: 0 for name in OUTCOMES}
    phases, faults = {}, []
    for number, moment in enumerate(cut_moments(timeline, cuts, rng), start=1):
        phase = campaign.install(answer, cut_at=moment)
        phases[phase] = phases.get(phase, 0) + 1
        outcome, fault = campaign.classify(campaign.boot_after_cut())
        say(f"cut {number}/{cuts} {moment[1]:.2f} s after the {moment[0]} ({phase}): {outcome}")
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
        if fault:
            faults.append(f"cut {number}: {fault}")
    return outcomes, phases, faults


def run_campaign(board, backend, cuts, rng, series_names=tuple(SERIES)):
    """A campaign on BOARD's flash back end: the install's timeline, then CUTS cuts in each series;
    gives its table rows (label, outcomes, phases) and its faults."""
    campaign = Campaign(backend, board, rng)
    # The two series differ only in the slot answered: one timeline serves both
    timeline = campaign.install(SERIES["unbooted"])
    say(f"{backend}: the install writes flash for {timeline[0]:.2f} s before the operator's answer and "
        f"{timeline[1]:.2f} s after it; the slot byte takes {timeline[2]:.2f} s more")
    rows, faults = [], []
    for series in series_names:
        outcomes, phases, series_faults = run_series(campaign, series, timeline, cuts, rng)
        rows.append((f"{backend}, into the {series} slot", outcomes, phases))
        faults += [f"{backend}, {series}: {fault}" for fault in series_faults]
        say("cuts fell in: " + ", ".join(f"{name} {count}" for name, count in sorted(phases.items())))
    return rows, faults


def say(text):
    print(text, flush=True)


def table(rows):
    names = list(OUTCOMES) + sorted({name for _, outcomes, _ in rows for name in outcomes} - set(OUTCOMES))
    header = ["back end, series", "cuts"] + names
    lines = [header] + [[label, str(sum(outcomes.values()))] + [str(outcomes.get(name, 0)) for name in names]
                        for label, outcomes, _ in rows]
    widths = [max(len(line[column]) for line in lines) for column in range(len(header))]
    return "\n".join("  ".join(cell.ljust(width) for cell, width in zip(line, widths)) for line in lines)
