"""run-board as a child process: its console read as it comes, with bounded waits for a text to
appear, and keys typed on its standard input."""
import os
import subprocess
import threading
import time

BOOT_START = "board: starting /bin/launcher"
BOOT_ENDS = ("board: reboot", "board: poweroff")
# Past its bound a wait goes on while the board's console shows progress (the installer's dots) at
# least every PROGRESS_IDLE seconds, up to HARD_BOUND times the bound.
PROGRESS_IDLE = 30
HARD_BOUND = 3


class Failure(Exception):
    pass


def stop(process):
    """Ends a child that is still running: asked first, killed after ten seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Console:
    """A child's standard output, read as it comes, with waits for a text to appear."""

    def __init__(self, stream, log):
        self.stream, self.log, self.text, self.done = stream, log, "", False
        self.changed_at = time.monotonic()
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        while True:
            data = os.read(self.stream.fileno(), 4096)
            with self.changed:
                if not data:
                    self.done = True
                else:
                    self.changed_at = time.monotonic()
                    self.text += data.decode(errors="replace")
                    self.log.write(data)
                    self.log.flush()
                self.changed.notify_all()
            if not data:
                return

    def patience(self, deadline, hard_deadline):
        """How long to wait: until DEADLINE, or past it while the console keeps changing, up to
        HARD_DEADLINE."""
        return max(deadline, min(self.changed_at + PROGRESS_IDLE, hard_deadline))

    def wait_for(self, text, start, deadline, hard_deadline):
        """Position just after the first TEXT at or after START, within the patience."""
        with self.changed:
            while True:
                found = self.text.find(text, start)
                if found >= 0:
                    return found + len(text)
                now = time.monotonic()
                limit = self.patience(deadline, hard_deadline)
                if self.done or now >= limit:
                    raise Failure(f"the console never showed {text!r}")
                self.changed.wait(limit - now)


def boots_of(console_text):
    """The launcher's console lines of each boot: from the board's start line to its end line."""
    boots, current = [], None
    for line in console_text.replace("\r", "").split("\n"):
        if line == BOOT_START:
            current = []
            boots.append(current)
        elif current is not None and line in BOOT_ENDS:
            current.append(line)
            current = None
        elif current is not None:
            current.append(line)
    return boots


class Runner:
    """run-board as a child process: its console read as it comes, keys typed on its standard input,
    everything bounded by one deadline. Its console goes to console.log in WORKDIR, its own messages
    (and QEMU's) to run-board.log."""

    def __init__(self, command, workdir, seconds):
        self.deadline = time.monotonic() + seconds
        self.hard_deadline = time.monotonic() + HARD_BOUND * seconds
        self.log = open(os.path.join(workdir, "console.log"), "wb")
        self.errors = open(os.path.join(workdir, "run-board.log"), "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.errors)
        self.console = Console(self.process.stdout, self.log)

    def wait_for(self, text, start):
        return self.console.wait_for(text, start, self.deadline, self.hard_deadline)

    def type(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def finish(self):
        """The runner's exit status once it has ended by itself, within the console's patience."""
        while True:
            try:
                status = self.process.wait(timeout=1)
                break
            except subprocess.TimeoutExpired:
                if time.monotonic() >= self.console.patience(self.deadline, self.hard_deadline):
                    raise Failure("the board neither ended nor showed progress on its console")
        self.console.thread.join(timeout=10)
        return status

    def close(self):
        stop(self.process)
        self.log.close()
        self.errors.close()
