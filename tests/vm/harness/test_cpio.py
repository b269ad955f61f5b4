"""The initramfs writer's newc archive, byte for byte, and as Debian's cpio reads it."""
import shutil
import subprocess

import pytest

# Each header in two rows:
#            magic     ino       mode      uid       gid       nlink     mtime
#            filesize  devmajor  devminor  rdevmajor rdevminor namesize  check
ARCHIVE = (b"070701" b"00000001" b"000041ED" b"00000000" b"00000000" b"00000001" b"00000000"
           b"00000000" b"00000000" b"00000000" b"00000000" b"00000000" b"00000004" b"00000000"
           b"bin\0" b"\0\0"
           b"070701" b"00000002" b"000081ED" b"00000000" b"00000000" b"00000001" b"00000000"
           b"00000003" b"00000000" b"00000000" b"00000000" b"00000000" b"0000000A" b"00000000"
           b"bin/hello\0"
           b"hi\n" b"\0"
           b"070701" b"00000003" b"0000A1FF" b"00000000" b"00000000" b"00000001" b"00000000"
           b"00000007" b"00000000" b"00000000" b"00000000" b"00000000" b"00000007" b"00000000"
           b"bin/sh\0" b"\0\0\0"
           b"busybox" b"\0"
           b"070701" b"00000004" b"00002180" b"00000000" b"00000000" b"00000001" b"00000000"
           b"00000000" b"00000000" b"00000000" b"00000005" b"00000001" b"0000000C" b"00000000"
           b"dev/console\0" b"\0\0"
           b"070701" b"00000005" b"00000000" b"00000000" b"00000000" b"00000001" b"00000000"
           b"00000000" b"00000000" b"00000000" b"00000000" b"00000000" b"0000000B" b"00000000"
           b"TRAILER!!!\0" b"\0\0\0")


@pytest.fixture
def archive(cpio_writer, tmp_path):
    hello = tmp_path / "hello"
    hello.write_bytes(b"hi\n")
    cpio = cpio_writer()
    cpio.directory("bin")
    cpio.file("bin/hello", str(hello))
    cpio.symlink("bin/sh", "busybox")
    cpio.device("dev/console", 5, 1)
    return cpio.finish()


def test_the_archive_is_newc_with_names_and_data_padded_to_four_bytes(archive):
    assert archive == ARCHIVE


def cpio_list(archive, *options):
    # A session of its own: cpio that finds an archive cut short asks /dev/tty for the next volume
    listing = subprocess.run(["cpio", "-it", "--quiet", *options], input=archive, capture_output=True, check=True,
                             start_new_session=True, timeout=10)
    return listing.stdout.decode().splitlines()


@pytest.mark.skipif(shutil.which("cpio") is None, reason="Debian's cpio is not installed")
def test_cpio_lists_what_was_added(archive):
    names, long_listing = cpio_list(archive), cpio_list(archive, "-v")
    assert list(zip((entry[0] for entry in long_listing), names)) == [
        ("d", "bin"), ("-", "bin/hello"), ("l", "bin/sh"), ("c", "dev/console")]
    assert long_listing[2].endswith("bin/sh -> busybox")
