"""A technician's terminal program on the board's line, driven through a pseudo-terminal as a person
at the keyboard drives it: what it shows is read as it comes, keys are typed."""
import os
import pty
import select
import signal
import time

CTRL_A = b"\x01"
CTRL_C = b"\x03"


class TerminalError(Exception):
    pass


class Terminal:
    """A program on a pseudo-terminal; its screen is kept whole, in SCREEN_LOG too."""

    def __init__(self, argv, screen_log, cwd):
        self.screen, self.position = b"", 0
        self.log = open(screen_log, "wb")
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            # A dumb terminal: the program's own prompts then read a plain line, with no cursor queries
            os.environ["TERM"] = "dumb"
            os.execvp(argv[0], argv)

    def read(self, seconds):
        ready, _, _ = select.select([self.fd], [], [], seconds)
        if not ready:
            return
        try:
            data = os.read(self.fd, 4096)
        except OSError:
            data = b""
        if not data:
            raise TerminalError(f"{os.path.basename(self.log.name)}: the terminal program ended")
        self.screen += data
        self.log.write(data)
        self.log.flush()

    def wait_for(self, text, seconds):
        """Waits until TEXT shows after what earlier waits found; gives what showed up to its end."""
        deadline = time.monotonic() + seconds
        wanted = text.encode()
        while True:
            found = self.screen.find(wanted, self.position)
            if found >= 0:
                shown, self.position = self.screen[self.position:found + len(wanted)], found + len(wanted)
                return shown.decode(errors="replace")
            left = deadline - time.monotonic()
            if left <= 0:
                tail = self.screen[self.position:][-400:].decode(errors="replace")
                raise TerminalError(f"{text!r} did not show within {seconds:g} s; the screen ends with {tail!r}")
            self.read(min(left, 0.2))

    def type(self, keys):
        os.write(self.fd, keys)

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)
        os.close(self.fd)
        self.log.close()


class Picocom(Terminal):
    """picocom with the board's XMODEM sender as its send command, started at the console's speed."""

    def __init__(self, line, screen_log, cwd, speed=9600):
        super().__init__(["picocom", "-b", str(speed), "--send-cmd", "sx -vv -k", line], screen_log, cwd)
        self.wait_for("Terminal ready", 10)

    def command(self, key, prompt, answer):
        """C-a and a command key; the command's prompt is answered with a line."""
        self.type(CTRL_A + key)
        self.wait_for(prompt, 10)
        self.type(answer.encode() + b"\n")

    def set_speed(self, speed):
        self.command(b"\x02", "*** baud: ", str(speed))
        self.wait_for(f"*** baud: {speed} ***", 10)

    def send(self, path):
        self.command(b"\x13", "*** file: ", path)
        self.wait_for(f"$ sx -vv -k {path}", 10)

    def quit(self):
        self.type(CTRL_A + b"\x18")
