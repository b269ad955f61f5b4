"""The boot road and the boot-loader environment's options: the slot byte's slot starts, a slot that
is erased, damaged or unmarked, a diagnostics record, the debugging options, and imgtool boot's dry
run of a boot against the board's console."""
import lzma
import os
import re
import subprocess

import pytest
from expected import APP, MENU, PROMPT, expect_boots, launched

from virtualboard import boardbuild, records
from virtualboard.board import BOOT_TIMEOUT
from virtualboard.imgtool_send import imgtool

pytestmark = pytest.mark.flash_access


# The e500v2 is the real board's core class: one boot on it, the rest on the e500mc
@pytest.mark.parametrize("slot, cpu, one_line", [(1, "e500mc", False), (2, "e500mc", False), (1, "e500mc", True),
                                                 (1, "e500v2", False)],
                         ids=["slot1", "slot2", "on-one-line", "e500v2"])
def test_boots_the_named_slot(board, slot, one_line):
    """The slot byte names SLOT, whose application starts, and the byte stays."""
    board.make_two_slots()
    status, boots = board.boot(slot=slot, one_line=one_line)
    expect_boots(status, boots, [launched(slot, f"demo application from slot {slot}")])
    assert board.slot_byte() == slot


def test_erased_slot1_falls_back(board):
    board.make_flash(slot2=board.application("demo application from slot 2"))
    status, boots = board.boot(slot=1)
    expect_boots(status, boots, [["Booting image '1'",
                                  "Image has invalid header 0xffffffff. (0x64a414e)",
                                  "Image1 has invalid header... trying Image2."]
                                 + launched(2, "demo application from slot 2")])


def test_bad_crc_in_both_resets(board):
    board.make_flash(slot1=records.with_bad_crc(board.application("demo application from slot 1")),
                     slot2=records.with_bad_crc(board.application("demo application from slot 2")))
    status, boots = board.boot(slot=1, boots=1)
    expect_boots(status, boots, [["Booting image '1'", "Image1 CRC failed, trying Image2 now.",
                                  "Booting image '2'", "Both image1 and image2 failed.", "board: reboot"]])
    assert board.slot_byte() == 1


# imgtool boot's own lines, which say what the board would run rather than what its console shows
DRY_RUN_NOTE = re.compile(r"\[(shell|key|dry run|hand-over|exit)\] ")


def test_dry_run_shows_the_boards_console(board):
    """imgtool boot's transcript of a flash whose slot 1 fails its CRC has, up to the hand-over, the
    console lines of the launcher on the board, and hands over to the program that the board starts."""
    board.make_flash(slot1=records.with_bad_crc(board.application("demo application from slot 1")),
                     slot2=board.application("demo application from slot 2"))
    dry_run = subprocess.run([imgtool(), "boot", "--slot-byte", "1", board.flash], capture_output=True, text=True,
                             timeout=BOOT_TIMEOUT)
    assert dry_run.returncode == 0, f"imgtool boot's exit status: {dry_run.stderr}"
    transcript = dry_run.stdout.splitlines()
    hand_over = next((number for number, line in enumerate(transcript) if line.startswith("[hand-over] ")), None)
    assert hand_over is not None, f"imgtool boot shows no hand-over: {transcript}"
    assert transcript[hand_over].startswith("[hand-over] /bin/backtrace "), "imgtool boot's hand-over"
    status, boots = board.boot(slot=1, boots=1)
    assert status == 0 and len(boots) == 1, f"run-board's exit status {status}, boots: {boots}"
    # /bin/backtrace's first line is the hand-over on the board: the launcher's lines end before it
    launcher_lines = boots[0][:boots[0].index(f"backtrace: starting {APP}")]
    assert [line for line in transcript[:hand_over] if not DRY_RUN_NOTE.match(line)] == launcher_lines, \
        "imgtool boot's console lines against the board's"
    assert launcher_lines == ["Booting image '1'", "Image1 CRC failed, trying Image2 now.", "Booting image '2'",
                              "Uncompressing application image...."]


def test_diagnostics_record(board):
    diagnostics = boardbuild.demo_application("diagnostics application",
                                              os.path.join(board.workdir, "programs", "mpdiag"))
    archive = records.tar_gz([
        ("home/bin/mp.elf.strip.lzma", lzma.compress(b"replaced", format=lzma.FORMAT_ALONE), 0o644),
        ("home/bin/distro-id", b"diagnostics\n", 0o644),
        ("mpdiag.elf.strip", records.read(diagnostics), 0o755)])
    board.make_flash(slot2=records.record("diagnostics", archive))
    status, boots = board.boot(slot=2)
    expect_boots(status, boots, [["Booting image '2'", "Uncompressing application image....", "install diags image",
                                  f"backtrace: starting {APP}", f"{APP}: diagnostics application", "board: poweroff"]])


def unmarked_slot1(board):
    board.make_flash(slot1=board.application("demo application from slot 1", marker=False))


def test_missing_marker_answered_n(board):
    unmarked_slot1(board)
    status, boots = board.boot(slot=1, keys=[(PROMPT, b"n")])
    expect_boots(status, boots, [["Booting image '1'",
                                  "WARNING: Suspected incompatible application image detected during unpacking",
                                  PROMPT + "Uncompressing application image....",
                                  f"backtrace: starting {APP}", f"{APP}: demo application from slot 1",
                                  "board: poweroff"]])


def test_missing_marker_answered_y_then_exit(board):
    unmarked_slot1(board)
    status, boots = board.boot(slot=1, keys=[(PROMPT, b"y"), ("Option? : ", b"e")])
    expect_boots(status, boots, [
        ["Booting image '1'", "WARNING: Suspected incompatible application image detected during unpacking",
         PROMPT + "Entering Rescue Mode."] + MENU
        + ["Option? : ", "Uncompressing application image....", f"backtrace: starting {APP}",
           f"{APP}: demo application from slot 1", "board: poweroff"]])


def debug_boot(board, env, lines, slot2=None):
    board.make_flash(env, slot1=board.application("demo application from slot 1"),
                     slot2=slot2 or board.application("demo application from slot 2"))
    status, boots = board.boot(slot=1, boots=1)
    expect_boots(status, boots, [["Booting image '1'"] + lines])


@pytest.mark.parametrize("env, lines", [
    (["gdbserver=on", "gdbserver_ip=10.1.2.3", "gdbport=2345"],
     ["Uncompressing application image....", f"/bin/gdbserver 10.1.2.3:2345 {APP}", "board: reboot"]),
    (["gdbserver=on", "gdbserver_ip=192.168.1.10", "gdbport=7", "memchk=on"],
     ["Uncompressing application image....", "libduma.so.0.0.0: memory checker loaded",
      f"/bin/gdbserver 192.168.1.10:7 {APP}", "board: reboot"]),
    (["memchk=on"],
     ["Uncompressing application image....", "libduma.so.0.0.0: memory checker loaded",
      f"{APP}: demo application from slot 1", "board: poweroff"]),
], ids=["gdbserver-command-line", "gdbserver-with-memchk", "memchk-preloads-duma"])
def test_debug_options(board, env, lines):
    debug_boot(board, env, lines)


def test_gdb_from_other_slot(board):
    gdb = board.debugger()
    debug_boot(board, ["gdb=on"],
               ["Extracting GDB from image slot 2", f"Found GDB image 2 of length = {len(gdb) - 16}.",
                "decompressing GDB....", "Uncompressing application image....", "*** Launching under GDB ***",
                f"/tmp/gdb {APP}", "board: reboot"], slot2=gdb)
