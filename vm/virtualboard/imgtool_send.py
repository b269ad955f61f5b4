"""imgtool send as a child process on boards' lines, bounded by a deadline of its own: its standard
output (the boards' consoles and the summary) driven through pexpect, its standard error (its own
messages and progress) read line by line as it comes, both kept in the board's workdir as send.out
and send.err."""
import fcntl
import functools
import os
import subprocess
import threading
import time

import pexpect
from pexpect import fdpexpect

from . import boardbuild
from .board import BOOT_TIMEOUT
from .patience import Failure, ProgressLog, expect
from .runner import stop

# How often a wait for a note looks at standard error: a note can open a moment that lasts a fraction
# of a second on the board's 9600 bit/s console
NOTE_POLL = 0.01


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
    """imgtool send as a child process, bounded by SECONDS: its standard output driven through
    pexpect (on a pipe, as a script runs it, rather than the terminal a technician's progress line
    needs), its standard error line by line."""

    def __init__(self, workdir, arguments, seconds):
        self.deadline = time.monotonic() + seconds
        self.out_log = ProgressLog(os.path.join(workdir, "send.out"))
        self.err_log = open(os.path.join(workdir, "send.err"), "wb")
        out, out_end = os.pipe()
        try:
            self.process = subprocess.Popen([imgtool(), "send", *arguments], stdin=subprocess.DEVNULL,
                                            stdout=out_end, stderr=subprocess.PIPE)
        finally:
            os.close(out_end)
        self.out = fdpexpect.fdspawn(out)
        self.out.logfile_read = self.out_log
        self.err = TimedLines(self.process.stderr, self.err_log)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        stop(self.process)
        self.err.thread.join(timeout=10)
        self.out.close()
        self.out_log.close()
        self.err_log.close()

    def expect(self, text, deadline=None):
        """Waits until TEXT shows on standard output after what earlier waits found, by DEADLINE when
        given."""
        expect(self.out, text, deadline or self.deadline)

    def expect_note(self, phrase):
        """Waits until PHRASE shows in a line of standard error, which comes line by line as it is
        written."""
        while not any(phrase in line for _, line in self.err.lines):
            if self.process.poll() is not None or time.monotonic() > self.deadline:
                raise Failure(f"imgtool send never said {phrase!r} (send.err)")
            time.sleep(NOTE_POLL)

    def finish(self, deadline=None):
        """imgtool send's exit status, once it has ended within its deadline, or by DEADLINE when given."""
        expect(self.out, pexpect.EOF, deadline or self.deadline)
        status = self.process.wait(timeout=10)
        self.err.thread.join(timeout=10)
        return status

    def printed(self):
        """All standard output so far, as send.out keeps it."""
        with open(self.out_log.name, "rb") as out:
            return out.read().decode(errors="replace")

    def said(self, *phrases):
        """Fails unless each phrase shows on standard output or standard error."""
        printed = self.printed()
        for phrase in phrases:
            if phrase not in printed and phrase not in self.err.text:
                raise Failure(f"imgtool send never said {phrase!r} (send.out, send.err)")


def send_arguments(links, download, *options, wait=BOOT_TIMEOUT):
    return [word for link in links for word in ("--line", link)] + ["--wait", str(wait), *options, download]
