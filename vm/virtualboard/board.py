"""A board of the host's harness: its flash image, EEPROM and workdir, the records it is given, and
its boots through run-board."""
import contextlib
import os
import signal
import time

from . import boardbuild, records
from .programs import Programs
from .patience import HARD_BOUND, Failure
from .runner import Runner, boots_of
from .target import Target

RUN_BOARD = os.path.join(boardbuild.VM, "run-board")
# Where the board's launcher unpacks the application it starts
APP = "/tmp/home/bin/mp.elf.strip"
# A key typed before the launcher has switched the console to raw keys would be echoed by the
# terminal; the launcher switches right after its prompt, so a key waits this long after it.
KEY_DELAY = 1.0
# Bounded waits, with margin for a loaded machine: one boot takes a few seconds, a download as long
# as its bytes take on a line far slower than the board's (see patience.py for the stretch past it)
BOOT_TIMEOUT = 60
TRANSFER_FLOOR = 1024
# The field's line speed, and what the line carries of payload in a second at that speed, with room
# for a loaded machine
LINE_SPEED = 115200
TRANSFER_RATE = 8 * 1024
# A bench board runs until the scenario ends it; these only bound one that is forgotten
BENCH_BOOTS = 100
BENCH_SECONDS = 900


def transfer_bound(download):
    """Seconds that DOWNLOAD may take on the paced line."""
    return BOOT_TIMEOUT + os.path.getsize(download) // TRANSFER_RATE


class Board(Programs):
    """A board's flash image and workdir; boots it through run-board."""

    def __init__(self, workdir, launcher, probe, cpu, flash_backend="cfi"):
        super().__init__(workdir)
        self.launcher, self.probe, self.cpu = launcher, probe, cpu
        self.flash_backend = flash_backend
        self.flash = os.path.join(workdir, "flash.img")
        self.eeprom = os.path.join(workdir, "eeprom.img")

    def make_flash(self, env=(), **areas):
        records.write(self.flash, records.flash_image(areas, list(env)))

    def make_two_slots(self, env=()):
        """A flash with an application in each slot, saying which slot it came from."""
        self.make_flash(env, slot1=self.application("demo application from slot 1"),
                        slot2=self.application("demo application from slot 2"))

    def command(self, slot, boots, seconds, *options):
        """run-board's command line: on a fresh EEPROM holding SLOT, or on the board's EEPROM as it is
        when SLOT is None."""
        eeprom = ["--eeprom", self.eeprom] if slot is None else ["--slot", str(slot)]
        programs = [word for option, path in (("--launcher", self.launcher), ("--mgmt-probe", self.probe)) if path
                    for word in (option, path)]
        return [RUN_BOARD, "--cpu", self.cpu, "--flash", self.flash, "--flash-backend", self.flash_backend,
                *eeprom, "--workdir", self.workdir, *programs,
                "--boots", str(boots), "--timeout", str(HARD_BOUND * seconds), *options]

    @contextlib.contextmanager
    def runner(self, slot, boots, *options, seconds=None):
        """run-board on a fresh EEPROM holding SLOT, or on the board's EEPROM as it is when SLOT is None."""
        seconds = seconds or BOOT_TIMEOUT * boots
        runner = Runner(self.command(slot, boots, seconds, *options), self.workdir, seconds)
        try:
            yield runner
        finally:
            runner.close()

    def boot(self, slot, boots=3, keys=(), send=None, one_line=False, options=()):
        """Runs the runner; KEYS are (text, bytes) pairs: after TEXT appears on the console, type BYTES;
        OPTIONS go to the runner as they are. Gives (exit status, launcher lines per boot)."""
        options = (["--send", send] if send else []) + (["--one-line"] if one_line else []) + list(options)
        seconds = BOOT_TIMEOUT * boots + (os.path.getsize(send) // TRANSFER_FLOOR if send else 0)
        with self.runner(slot, boots, *options, seconds=seconds) as runner:
            for text, typed in keys:
                runner.expect(text)
                time.sleep(KEY_DELAY)
                runner.type(typed)
            status = runner.finish()
        return status, boots_of(runner.console_text())

    @contextlib.contextmanager
    def line_on_pty(self, slot, boots, seconds, *options):
        """run-board with the line on a pty paced at the field's speed; gives (runner, the line's path)
        once run-board has made the line. The board boots when a program opens it."""
        link = os.path.join(self.workdir, "line")
        with self.runner(slot, boots, "--pty", link, "--line-speed", str(LINE_SPEED), *options,
                         seconds=seconds) as runner:
            while not os.path.exists(link):
                if runner.process.poll() is not None or time.monotonic() > runner.deadline:
                    raise Failure("run-board gave no line to open")
                time.sleep(0.2)
            yield runner, link

    @contextlib.contextmanager
    def bench(self):
        """The board as a bench reaches a module: the line on a pty that outlives the programs that
        open it, at the field's speed, and the power cycled with SIGUSR1 to run-board; each power-on
        goes through the boot loader, whose banner and countdown a module's line carries. The bench's
        set-up is an application in each slot and rescue mode on, unless the scenario made a flash.
        The target reads the flash and the slot byte as the running board holds them, and cuts the
        power at the moment the scenario chooses."""
        if not os.path.exists(self.flash):
            self.make_two_slots(["diagnostics=rescue"])
        with self.line_on_pty(1, BENCH_BOOTS, BENCH_SECONDS, "--bench", "--boot-loader") as (runner, link):
            with Target(link, self.workdir, f"kill -USR1 {runner.process.pid}", None, BOOT_TIMEOUT,
                        LiveFlash(self), self.cut_power) as target:
                yield target

    def cut_power(self):
        """Cuts the power of the board that runs now: its QEMU killed at once, with the flash and the
        EEPROM as that moment leaves them."""
        with open(os.path.join(self.workdir, "qemu.pid")) as f:
            os.kill(int(f.read()), signal.SIGKILL)

    def slot_byte(self):
        return records.read(self.eeprom)[1]

    def flash_bytes(self, offset, count):
        with open(self.flash, "rb") as f:
            f.seek(offset)
            return f.read(count)


class LiveFlash:
    """The flash and the slot byte of a BOARD that is running: the flash image QEMU writes through,
    and the EEPROM's bytes on the state disk, where the board keeps them within 2 ms of a change
    (run-board copies them to the EEPROM image only when a boot ends)."""

    def __init__(self, board):
        self.board = board

    def slot_byte(self):
        return records.read(os.path.join(self.board.workdir, "board-state.img"))[1]

    def flash_bytes(self, offset, count):
        return self.board.flash_bytes(offset, count)
