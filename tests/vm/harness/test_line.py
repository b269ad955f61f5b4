"""The line's pacing, its speed mismatch and the operator's keys, on a clock that the tests move."""
import os
import termios
import time
import tty

import pytest

START = 1000.0


class Clock:
    def __init__(self):
        self.now = START

    def __call__(self):
        return self.now

    def at(self, seconds):
        self.now = START + seconds


@pytest.fixture
def clock(monkeypatch):
    clock = Clock()
    monkeypatch.setattr(time, "monotonic", clock)
    return clock


# Ten bits a byte (8N1)
BYTE_TIMES = {9600: 1.0416667e-3, 115200: 8.6805556e-5}


@pytest.mark.parametrize("speed", [9600, 115200])
def test_each_byte_leaves_a_byte_time_after_the_one_before(line, clock, speed):
    byte_time = BYTE_TIMES[speed]
    pacer = line.Pacer(speed)
    pacer.put(b"abc")
    handed_on = []
    for byte_times in (0.99, 1.01, 1.99, 2.01, 2.99, 3.01):
        clock.at(byte_times * byte_time)
        handed_on.append(pacer.arrived())
    assert handed_on == [b"", b"a", b"", b"b", b"", b"c"]


@pytest.mark.parametrize("speed, count, seconds", [(9600, 100, 0.10416667), (115200, 1000, 0.086805556)])
def test_a_burst_takes_its_bytes_times_ten_bits_at_the_line_speed(line, clock, speed, count, seconds):
    pacer = line.Pacer(speed)
    pacer.put(bytes(count))
    clock.at(seconds * (1 - 1e-6))
    assert len(pacer.arrived()) == count - 1
    clock.at(seconds * (1 + 1e-6))
    assert len(pacer.arrived()) == 1


@pytest.mark.parametrize("idle_byte_times", [
    5.0,
    0.0,
    0.5,
])
def test_a_byte_after_the_queue_emptied_takes_one_byte_time_from_when_it_came(line, clock, idle_byte_times):
    byte_time = BYTE_TIMES[9600]
    pacer = line.Pacer(9600)
    pacer.put(b"a")
    clock.at(byte_time)
    assert pacer.arrived() == b"a"
    put_at = byte_time * (1 + idle_byte_times)
    clock.at(put_at)
    pacer.put(b"b")
    clock.at(put_at + 0.99 * byte_time)
    assert pacer.arrived() == b""
    clock.at(put_at + 1.01 * byte_time)
    assert pacer.arrived() == b"b"


@pytest.mark.parametrize("speed, count, first_wait, handed_on", [
    (115200, 1, 8.6805556e-5, 1),    # one byte: its own time
    (115200, 5, 4.3402778e-4, 5),    # all of them before a granule: the last one's time
    (115200, 100, 0.002, 23),        # a granule's worth at once
    (9600, 10, 0.002, 1),            # a byte takes about half a granule
])
def test_the_relay_hands_bytes_on_a_granule_at_a_time(line, clock, speed, count, first_wait, handed_on):
    pacer = line.Pacer(speed)
    assert pacer.wait() is None
    pacer.put(b"x" * count)
    wait = pacer.wait()
    assert wait == pytest.approx(first_wait, rel=1e-6)
    # The select that waited returns a little late, never early
    clock.at(wait + 1e-9)
    assert len(pacer.arrived()) == handed_on


def test_an_unpaced_line_hands_bytes_on_at_once(line, clock):
    pacer = line.Pacer(None)
    pacer.put(b"abc")
    assert pacer.wait() == 0.0
    assert pacer.arrived() == b"abc"
    assert pacer.wait() is None


def test_the_queue_has_room_below_4096_bytes(line, clock):
    pacer = line.Pacer(None)
    pacer.put(bytes(4095))
    assert pacer.has_room()
    pacer.put(b"x")
    assert not pacer.has_room()
    pacer.arrived()
    assert pacer.has_room()


@pytest.mark.parametrize("data, sent_at, read_at, read", [
    (b"AB\r", termios.B115200, termios.B9600, b"\0\0\0"),
    (b"AB\r", termios.B9600, termios.B115200, b"\0\0\0"),
    (b"AB\r", termios.B9600, termios.B9600, b"AB\r"),
    (b"AB\r", None, termios.B9600, b"AB\r"),
    (b"AB\r", termios.B115200, None, b"AB\r"),
    (b"", termios.B115200, termios.B9600, b""),
])
def test_bytes_between_ends_at_different_speeds_arrive_as_nuls(line, data, sent_at, read_at, read):
    assert line.across(data, sent_at, read_at) == read


TO_115200 = (b"       Change the baud rate to 115200 bps and hit the <ENTER> key\r\n"
             b"       before initiating the download.\r\n")
TO_115200_AGAIN = b"\r\n    ... Waiting for the <Enter> key to be hit before the download can start...\r\n"
BACK_TO_9600 = b"       Change the baud rate back to 9600 bps, hit the <ENTER> key\r\n"
BACK_TO_9600_AGAIN = b"\r\n    ... Waiting for the <ENTER> key to be hit...\r\n"


def keys_typed(operator, clock, reads):
    """The keys due just before and at one second after the last read; READS are (seconds, data)."""
    for seconds, data in reads:
        clock.at(seconds)
        operator.watch(data)
    last = reads[-1][0]
    clock.at(last + 0.999)
    early = operator.keys_due()
    clock.at(last + 1.0)
    return early, operator.keys_due()


@pytest.mark.parametrize("reads, keys", [
    ([(0.0, b"Rescue menu\r\n" + TO_115200)], [b"\r"]),
    ([(0.0, TO_115200_AGAIN)], [b"\r"]),
    ([(0.0, b"Received 3 blocks\r\n" + BACK_TO_9600)], [b"\n"]),
    ([(0.0, BACK_TO_9600_AGAIN)], [b"\n"]),
    ([(0.0, b"Rescue menu\r\n 1) Install\r\nbaud rate 115200 <ENTER>\r\n")], []),
    # A prompt split across two reads: the operator answers once it has all of it
    ([(0.0, TO_115200[:30]), (0.5, TO_115200[30:])], [b"\r"]),
    ([(0.0, BACK_TO_9600[:40]), (0.2, BACK_TO_9600[40:])], [b"\n"]),
    # Two prompts in one read
    ([(0.0, BACK_TO_9600 + BACK_TO_9600_AGAIN)], [b"\n", b"\n"]),
    ([(0.0, TO_115200 + BACK_TO_9600)], [b"\r", b"\n"]),
    # A prompt earlier in the read but later in the table of prompts
    ([(0.0, BACK_TO_9600_AGAIN + TO_115200)], [b"\n", b"\r"]),
])
def test_the_operator_hits_the_asked_key_a_second_after_the_prompt(line, clock, reads, keys):
    early, due = keys_typed(line.OperatorKeys(), clock, reads)
    assert (early, due) == ([], keys)


def test_each_prompt_gets_its_key_once(line, clock):
    operator = line.OperatorKeys()
    clock.at(0.0)
    operator.watch(TO_115200)
    clock.at(1.0)
    assert operator.keys_due() == [b"\r"]
    operator.watch(b"C")
    clock.at(5.0)
    assert operator.keys_due() == []


# The line's end on a host pseudo-terminal: the terminal program's side opened and closed by the test

def open_program_side(end):
    fd = os.open(end.path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    # The relay sees a program on the line only once the pty's master stops hanging up
    deadline = time.monotonic() + 5
    while end.hung_up() and time.monotonic() < deadline:
        time.sleep(0.01)
    return fd


def read_available(fd):
    os.set_blocking(fd, False)
    try:
        return os.read(fd, 4096)
    except BlockingIOError:
        return b""


@pytest.mark.parametrize("stays, after_close", [(False, "line closed"), (True, None)],
                         ids=["a-terminal-program's-line", "a-bench's-adapter"])
def test_closing_the_line_ends_the_run_unless_it_is_a_bench_adapter(line, stays, after_close):
    end = line.PtyEnd(stays=stays)
    fd = open_program_side(end)
    end.attached = True
    assert end.ended() is None
    os.close(fd)
    assert end.ended() == after_close


def test_a_bench_adapter_loses_what_the_board_sends_while_no_program_holds_it(line):
    end = line.PtyEnd(stays=True)
    # Nobody on the line: nothing to read, so the relay does not spin on the master's hang-up
    assert end.readers() == []
    end.write(b"lost while nobody listens")
    fd = open_program_side(end)
    try:
        assert end.readers() == [end.master]
        end.write(b"Option? : ")
        time.sleep(0.1)
        assert read_available(fd) == b"Option? : "
    finally:
        os.close(fd)
