"""The board's one serial line, console and download port together as on the module: QEMU's UART at
one end, the operator's at the other (run-board's own terminal, or a host pseudo-terminal that a
terminal program opens), and sx in the operator's place while run-board sends a file.

The runner relays the line's bytes. With a line speed set, a byte arrives no sooner than the time
it takes on the wire (8N1: ten bits a byte), in each direction. On a pseudo-terminal the two ends'
own speeds count as on a real line: QEMU sets the speed of the board's UART on its side (see
devicetree.py for the UART clock that makes it the board's speed), the terminal program its own on
the other; while they differ, every byte arrives as a UART reads a character sent at
another speed, as a framing error, which Linux reads as a NUL byte."""
import contextlib
import os
import pty
import select
import socket
import subprocess
import sys
import termios
import time

from .boardbuild import say

# What one direction of the relay holds before it reads more from its source: a whole XMODEM block
QUEUE_LIMIT = 4096
# The receiver's replies on the line: once sx has gone, what the board printed after the last of
# them is the board's own text again, and the operator sees it
XMODEM_REPLIES = b"\x06\x15\x18"
# The receiver's refusal among them, and the bytes that start a block (128 bytes, 1024 bytes)
NAK = 0x15
BLOCK_STARTS = b"\x01\x02"
# The relay hands on what the wire has carried at least this often, and the last byte queued as it
# arrives: a relay woken for every byte of a paced 115200 bit/s line takes CPU time from the board
GRANULE = 0.002
FRAMING_ERROR = b"\0"
# Bytes that left the board's UART just before it changed speed may reach the relay a moment after
SPEED_CHANGE_GRACE = 0.05
RECEIVER_PROMPT = b"Change the baud rate to 115200 bps and hit the <ENTER> key"
# What the board says on the console when it waits for the operator's key on the download port, and
# the key: a carriage return starts the transfer, a line feed ends it
PORT_PROMPTS = ((RECEIVER_PROMPT, b"\r"),
                (b"Waiting for the <Enter> key to be hit before the download can start", b"\r"),
                (b"Change the baud rate back to 9600 bps, hit the <ENTER> key", b"\n"),
                (b"Waiting for the <ENTER> key to be hit...", b"\n"))
# An operator switches the terminal's speed before hitting the key
OPERATOR_DELAY = 1.0
# On run-board's own terminal the line takes every key, QEMU's escape keys too (their 'x' would reach
# the rescue menu as X): this key, as telnet's escape, stops the board instead of crossing the line
QUIT_KEY = b"\x1d"
QUIT_KEY_NAME = "Ctrl-]"
# Why the operator's end ended the run
LINE_CLOSED, QUIT = "line closed", "quit key"


class OperatorKeys:
    """The operator's keys on the download port: the board asks for them on the console, and asks
    again with a reminder when one was lost; each is typed a moment after the board asked."""

    def __init__(self):
        self.seen, self.due = b"", []

    def watch(self, data):
        self.seen = (self.seen + data)[-300:]
        # The prompts in the order the board printed them, each answered once
        while True:
            found = [(self.seen.find(prompt), prompt, key) for prompt, key in PORT_PROMPTS]
            found = [hit for hit in found if hit[0] >= 0]
            if not found:
                return
            at, prompt, key = min(found, key=lambda hit: hit[0])
            self.due.append((time.monotonic() + OPERATOR_DELAY, key))
            self.seen = self.seen[at + len(prompt):]

    def keys_due(self):
        now = time.monotonic()
        due = [key for at, key in self.due if at <= now]
        self.due = [(at, key) for at, key in self.due if at > now]
        return due


class Pacer:
    """One direction of the line: bytes wait in a queue and leave once the wire has carried them."""

    def __init__(self, speed):
        self.byte_time = 10 / speed if speed else 0.0
        self.queue = bytearray()
        # When the wire has carried the byte at the head of the queue
        self.carried_at = 0.0

    def put(self, data):
        if not self.queue:
            # The wire is free from when it carried the last byte; a byte takes a byte time on it
            self.carried_at = max(self.carried_at, time.monotonic() + self.byte_time)
        self.queue += data

    def cut_in(self, data):
        """DATA leaves right after the byte on the wire, ahead of the bytes queued behind it: a second
        sender on the same wire, whose bytes fall between the first one's."""
        if not self.queue:
            self.put(data)
        else:
            self.queue[1:1] = data

    def has_room(self):
        return len(self.queue) < QUEUE_LIMIT

    def wait(self):
        """Seconds until bytes are due to be handed on; None with nothing on the wire."""
        if not self.queue:
            return None
        now = time.monotonic()
        last_carried_at = self.carried_at + (len(self.queue) - 1) * self.byte_time
        return max(0.0, self.carried_at - now, min(last_carried_at - now, GRANULE))

    def arrived(self):
        """Takes the bytes that the wire has carried by now off the queue."""
        now = time.monotonic()
        if not self.queue or now < self.carried_at:
            return b""
        count = len(self.queue)
        if self.byte_time:
            count = min(count, 1 + int((now - self.carried_at) / self.byte_time))
        data = bytes(self.queue[:count])
        del self.queue[:count]
        self.carried_at += count * self.byte_time
        return data


def line_speed(fd):
    """The speed set on a pseudo-terminal's slave (a termios B-constant), read through its master."""
    try:
        return termios.tcgetattr(fd)[5]
    except termios.error:
        return None


def across(data, sent_at, read_at):
    """DATA as a receiver set to READ_AT reads it from a sender set to SENT_AT (None: not modelled)."""
    if data and None not in (sent_at, read_at) and sent_at != read_at:
        return FRAMING_ERROR * len(data)
    return data


def write_all(fd, data):
    view = memoryview(data)
    while view:
        try:
            written = os.write(fd, view)
        except BlockingIOError:
            select.select([], [fd], [], 1)
            continue
        view = view[written:]


class StdioEnd:
    """The operator at run-board's own standard input and output, who ends the run with QUIT_KEY."""

    speed = None

    def __init__(self):
        self.input = None if sys.stdin.closed else sys.stdin.fileno()
        self.quit = False

    def readers(self):
        return [self.input] if self.input is not None else []

    def read(self):
        data = os.read(self.input, 4096)
        if not data:
            self.input = None
        data, key, _ = data.partition(QUIT_KEY)
        if key:
            self.quit, self.input = True, None
        return data

    def write(self, data):
        sys.stdout.buffer.write(data)
        sys.stdout.flush()

    def ended(self):
        """QUIT once the operator typed the quit key, else None."""
        return QUIT if self.quit else None


class PtyEnd:
    """A host pseudo-terminal that a terminal program opens as it would the module's serial adapter.
    An end that STAYS is a bench's adapter: it outlives the programs that open and close it, and what
    the board sends while none holds it open is lost."""

    def __init__(self, stays=False):
        self.stays = stays
        self.master, slave = pty.openpty()
        self.path = os.ttyname(slave)
        # Until a program opens the line, nobody listens on it; the master hangs up until then
        os.close(slave)
        os.set_blocking(self.master, False)
        self.attached = False

    @property
    def speed(self):
        return line_speed(self.master)

    def hung_up(self):
        poller = select.poll()
        poller.register(self.master, select.POLLIN)
        return any(event & select.POLLHUP for _, event in poller.poll(0))

    def wait_for_program(self, deadline):
        """True once a program holds the line open; False when the deadline passed first."""
        while self.hung_up():
            if time.monotonic() >= deadline:
                return False
            time.sleep(0.1)
        self.attached = True
        return True

    def readers(self):
        # A master with no program on the line is always readable, at its hang-up
        return [] if self.stays and self.hung_up() else [self.master]

    def read(self):
        try:
            return os.read(self.master, 4096)
        except (BlockingIOError, OSError):
            return b""

    def write(self, data):
        # The pty would keep the bytes for the next program to open it; an adapter nobody reads drops them
        if self.stays and self.hung_up():
            return
        with contextlib.suppress(OSError):
            write_all(self.master, data)

    def ended(self):
        """LINE_CLOSED once the program that opened the line has closed it, else None."""
        return LINE_CLOSED if self.attached and not self.stays and self.hung_up() else None


class Refusals:
    """The receiver's NAKs as sx meets them. A NAK answers what sx sent since the receiver's last
    reply: a refused block, which sx then sends again, or the end of transmission, which the
    receiver refuses once to have it confirmed."""

    def __init__(self):
        self.naks = self.refused = self.resent = 0
        # What sx sent since the receiver's last reply, and the number of the refused block that sx
        # is to send next
        self.sent, self.refused_number = bytearray(), None

    def sent_by_sx(self, data):
        self.sent += data
        if self.refused_number is not None and len(self.sent) >= 2:
            if self.sent[0] in BLOCK_STARTS and self.sent[1] == self.refused_number:
                self.resent += 1
            self.refused_number = None

    def heard_by_sx(self, data):
        for byte in data:
            if byte not in XMODEM_REPLIES:
                continue
            if byte == NAK:
                self.naks += 1
                if len(self.sent) >= 2 and self.sent[0] in BLOCK_STARTS:
                    self.refused += 1
                    self.refused_number = self.sent[1]
            self.sent.clear()

    def report(self):
        return (f"{self.naks} NAKs from the receiver, {self.refused} of them refusing a block, "
                f"{self.resent} of those blocks sent again")


def start_sx(path, channel):
    """sx -k sending PATH over CHANNEL, a descriptor or socket of the download port's far end: the one
    way the harness sends a file, on run-board's download port and through the relay alike. Its own
    messages would land in the caller's terminal; the caller reports how it ended."""
    return subprocess.Popen(["sx", "-k", path], stdin=channel, stdout=channel, stderr=subprocess.DEVNULL)


class Sender:
    """sx -k in the operator's place on the line, with a copy of what the board said to it and a count
    of the blocks the receiver refused."""

    def __init__(self, path):
        self.path = path
        self.relay_end, sender_end = socket.socketpair()
        self.process = start_sx(path, sender_end)
        sender_end.close()
        self.relay_end.setblocking(False)
        self.heard = bytearray()
        self.refusals = Refusals()
        self.ended = False
        # The transfer's time runs from sx's first byte (its first block) to its end
        self.first_byte_at = None

    def fileno(self):
        return self.relay_end.fileno()

    def read(self):
        try:
            data = self.relay_end.recv(4096)
        except BlockingIOError:
            return b""
        except OSError:
            data = b""
        if not data:
            self.ended = True
            return data
        if self.first_byte_at is None:
            self.first_byte_at = time.monotonic()
        self.refusals.sent_by_sx(data)
        return data

    def write(self, data):
        self.heard += data
        self.refusals.heard_by_sx(data)
        with contextlib.suppress(OSError):
            self.relay_end.sendall(data)

    def close(self):
        """Reports how sx ended; gives what the board printed after its last reply to sx."""
        self.relay_end.close()
        status = self.process.wait()
        report = f"sx ended with status {status}"
        if status == 0 and self.first_byte_at is not None:
            seconds = time.monotonic() - self.first_byte_at
            size = os.path.getsize(self.path)
            report += f": {size} bytes in {seconds:.2f} s from its first block ({size / seconds:.0f} bytes/s)"
        say(f"{report}; {self.refusals.report()}")
        last_reply = max(self.heard.rfind(byte) for byte in XMODEM_REPLIES)
        return bytes(self.heard[last_reply + 1:])


# The relay is our own, where pexpect drives the programs on the line (terminal.py, shell.py): pexpect
# waits for what one program prints, and its interact() copies bytes between two ends as they come.
# The relay is the wire between two ends instead: it holds each byte until the line's speed has
# carried it, turns bytes into framing errors while the two ends' speeds differ, puts the operator's
# keys between sx's bytes, and hands sx over to the operator's end when it ends.
class Line:
    """The relay: QEMU's UART on one pseudo-terminal, the operator's END on the other side. With a
    file to SEND, run-board stands in for the operator: it types the keys that the board asks for
    around the transfer, and sx sends the file once the receiver asks for it with a 'C'."""

    def __init__(self, end, speed=None, send=None):
        self.board, self.board_slave = pty.openpty()
        os.set_blocking(self.board, False)
        self.end, self.send = end, send
        self.operator = OperatorKeys() if send else None
        self.to_operator, self.to_board = Pacer(speed), Pacer(speed)
        self.sender, self.seen, self.asking = None, b"", False
        self.board_speed, self.earlier_board_speed, self.board_speed_since = None, None, 0.0

    def device(self):
        """What QEMU opens as the UART's far side."""
        return os.ttyname(self.board_slave)

    def sending_speed(self):
        """The board UART's speed for the bytes that reach the relay now."""
        speed, now = line_speed(self.board), time.monotonic()
        if speed != self.board_speed:
            self.earlier_board_speed, self.board_speed, self.board_speed_since = self.board_speed, speed, now
        if now - self.board_speed_since < SPEED_CHANGE_GRACE and self.earlier_board_speed is not None:
            return self.earlier_board_speed
        return speed

    def pump(self, wait):
        """Relays for up to WAIT seconds, or less when a byte is due."""
        readers = []
        if self.to_operator.has_room():
            readers.append(self.board)
        if self.to_board.has_room():
            readers += self.end.readers()
            if self.sender:
                readers.append(self.sender)
        waits = [w for w in (self.to_operator.wait(), self.to_board.wait()) if w is not None]
        ready, _, _ = select.select(readers, [], [], min([wait, *waits]))
        board_speed = self.sending_speed()
        if self.board in ready:
            try:
                self.to_operator.put(across(os.read(self.board, 4096), board_speed, self.end.speed))
            except (BlockingIOError, OSError):
                pass
        for end in self.end.readers():
            if end in ready:
                data = across(self.end.read(), self.end.speed, board_speed)
                # sx hands the relay a whole block at once: the operator's keys typed meanwhile go
                # out between its bytes, as on one wire, not after the block
                if self.sender:
                    self.to_board.cut_in(data)
                else:
                    self.to_board.put(data)
        if self.sender and self.sender in ready:
            self.to_board.put(self.sender.read())
        self.deliver()

    def deliver(self):
        arrived = self.to_board.arrived()
        if arrived:
            write_all(self.board, arrived)
        arrived = self.to_operator.arrived()
        if self.sender:
            if arrived:
                self.sender.write(arrived)
            if self.sender.ended:
                self.end_sending()
        elif arrived:
            self.end.write(arrived)
            self.watch(arrived)
        if self.operator:
            for key in self.operator.keys_due():
                self.to_board.put(key)

    def watch(self, data):
        if not self.operator:
            return
        self.operator.watch(data)
        if not self.send:
            return
        self.seen = (self.seen + data)[-200:]
        if not self.asking and RECEIVER_PROMPT in self.seen:
            self.asking, self.seen = True, self.seen[self.seen.find(RECEIVER_PROMPT) + len(RECEIVER_PROMPT):]
        if self.asking and b"C" in self.seen:
            say(f"sending {self.send} with sx -k")
            self.sender, self.send = Sender(self.send), None

    def end_sending(self):
        board_text = self.sender.close()
        self.sender = None
        self.end.write(board_text)
        self.watch(board_text)

    def power_lost(self):
        """The board lost its power: what was on the wire is lost, and the next boot's UART starts with
        nothing queued."""
        self.to_operator.queue.clear()
        self.to_board.queue.clear()
        termios.tcflush(self.board_slave, termios.TCIOFLUSH)

    def unpowered(self, wait):
        """The board without power for up to WAIT seconds: what the operator types meanwhile is lost."""
        ready, _, _ = select.select(self.end.readers(), [], [], wait)
        for end in ready:
            self.end.read()

    def drain(self):
        """Delivers what is still on the wire, at the line's speed."""
        while self.to_operator.queue or self.to_board.queue:
            self.pump(0.05)

    def close(self):
        if self.sender:
            self.sender.process.kill()
            self.sender.close()
        os.close(self.board)
        os.close(self.board_slave)
