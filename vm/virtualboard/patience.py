"""The harness's one addition to pexpect's waits: a deadline that stretches while a download shows
progress. A board's install prints a dot for each flash sector and a sender prints its progress, so a
run bounded for a loaded machine is not failed while it visibly goes on; a run that falls silent
past its bound is."""
import time

import pexpect

# Past its deadline a wait goes on while the child prints at least every PROGRESS_IDLE seconds, up
# to HARD_BOUND times the time it was given
PROGRESS_IDLE = 30
HARD_BOUND = 3


class Failure(Exception):
    pass


class ProgressLog:
    """A child's log, given to pexpect as its logfile_read: what the child prints is kept in the file
    at PATH as it comes, and the time it last printed is noted for the waits."""

    def __init__(self, path):
        self.name = path
        self.file = open(path, "wb")
        self.printed_at = time.monotonic()

    def write(self, data):
        self.file.write(data)
        self.file.flush()
        if data:
            self.printed_at = time.monotonic()

    def flush(self):
        self.file.flush()

    def close(self):
        self.file.close()


def patience(deadline, hard_deadline, printed_at):
    """When a wait gives up: at DEADLINE, or later while the child printed within PROGRESS_IDLE
    seconds, but never past HARD_DEADLINE."""
    return max(deadline, min(printed_at + PROGRESS_IDLE, hard_deadline))


def expect(child, pattern, deadline, hard_deadline=None):
    """pexpect's expect_exact for PATTERN (a text, or pexpect.EOF for the child's end) on CHILD, whose
    logfile_read is a ProgressLog, within the patience from DEADLINE to HARD_DEADLINE (no stretch
    without one)."""
    hard_deadline = hard_deadline or deadline
    log = child.logfile_read
    while True:
        limit = patience(deadline, hard_deadline, log.printed_at)
        try:
            return child.expect_exact(pattern, timeout=max(0.0, limit - time.monotonic()))
        except pexpect.TIMEOUT:
            # Output that came during this wait moves the limit on
            if time.monotonic() >= patience(deadline, hard_deadline, log.printed_at):
                raise Failure(f"{what(pattern)} did not show in {log.name} in time") from None
        except pexpect.EOF:
            raise Failure(f"{what(pattern)} did not show in {log.name} before its writer ended") from None


def what(pattern):
    return "the end" if pattern is pexpect.EOF else repr(pattern)
