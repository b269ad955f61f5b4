"""imgtool send as a child process on boards' lines, bounded by a deadline of its own: its standard
output (the boards' consoles and the summary) read as it comes, its standard error (its own messages
and progress) line by line, both kept in the board's workdir as send.out and send.err."""
import fcntl
import functools
import os
import subprocess
import threading
import time

from . import boardbuild
from .board import BOOT_TIMEOUT
from .runner import Console, Failure, stop


@functools.cache
def imgtool():
    # Boards run side by side, each bringing imgtool up to date: two builds at once in one build tree
    # would overwrite each other's outputs
    lock_path = os.path.join(boardbuild.ROOT, "build", "imgtool-build.lock")
    os.makedirs(os.path.dirname(lock_path), exist_ok=True)
    with open(lock_path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        return boardbuild.imgtool()


class TimedLines:
    """A stream read line by line as it comes, each line noted with the time it arrived."""

    def __init__(self, stream, log):
        self.stream, self.log, self.lines = stream, log, []
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        for line in iter(self.stream.readline, b""):
            self.lines.append((time.monotonic(), line.decode(errors="replace")))
            self.log.write(line)
            self.log.flush()

    @property
    def text(self):
        return "".join(line for _, line in self.lines)


class Send:
    """imgtool send as a child process, bounded by SECONDS: its standard output read as it comes (with
    waits for a text, as on a runner's console), its standard error line by line."""

    def __init__(self, workdir, arguments, seconds):
        self.deadline = time.monotonic() + seconds
        self.out_log = open(os.path.join(workdir, "send.out"), "wb")
        self.err_log = open(os.path.join(workdir, "send.err"), "wb")
        self.process = subprocess.Popen([imgtool(), "send", *arguments], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.out = Console(self.process.stdout, self.out_log)
        self.err = TimedLines(self.process.stderr, self.err_log)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        stop(self.process)
        self.out.thread.join(timeout=10)
        self.err.thread.join(timeout=10)
        self.out_log.close()
        self.err_log.close()

    def wait_for(self, text, start=0):
        """Position just after the first TEXT on standard output at or after START."""
        try:
            return self.out.wait_for(text, start, self.deadline, self.deadline)
        except Failure:
            raise Failure(f"imgtool send's output never showed {text!r} (send.out, send.err)") from None

    def finish(self):
        """imgtool send's exit status, once it has ended within its deadline."""
        try:
            status = self.process.wait(timeout=max(0.0, self.deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            raise Failure("imgtool send did not end within its bound (send.out, send.err)") from None
        self.out.thread.join(timeout=10)
        self.err.thread.join(timeout=10)
        return status

    def said(self, *phrases):
        """Fails unless each phrase shows on standard output or standard error."""
        for phrase in phrases:
            if phrase not in self.out.text and phrase not in self.err.text:
                raise Failure(f"imgtool send never said {phrase!r} (send.out, send.err)")


def send_arguments(links, download, *options, wait=BOOT_TIMEOUT):
    return [word for link in links for word in ("--line", link)] + ["--wait", str(wait), *options, download]
