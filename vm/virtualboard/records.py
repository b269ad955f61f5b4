"""Test support of the scenarios: image records, flash images and application archives made
in-process from the board's published formats, independently of the product's own imgtool, so that
a scenario's expectations do not come from the code under test."""
import io
import lzma
import struct
import tarfile
import zlib

MAGICS = {"application": 0x014A414E, "kernel": 0x034A414E, "rootfs": 0x044A414E, "diagnostics": 0x064A414E}
FLASH_SIZE = 64 << 20
AREAS = {"slot1": 0x00000000, "slot2": 0x00800000, "rootfs": 0x01000000, "kernel": 0x01E00000}
ENV_STRINGS = 0x03FE0004


def record(kind, payload, ident=0):
    """An image record: big-endian crc, len, magic, id, then the payload. The board's CRC is the
    register of CRC-32 from all ones without the final inversion, i.e. the complement of zlib's."""
    body = struct.pack(">III", len(payload), MAGICS[kind], ident) + payload
    return struct.pack(">I", ~zlib.crc32(body) & 0xFFFFFFFF) + body


def flash_image(areas, env):
    """64 MiB of erased flash with the given records at their area bases and the boot-loader
    environment strings (NUL-separated, ended by an empty string)."""
    image = bytearray(b"\xff" * FLASH_SIZE)
    for name, data in areas.items():
        base = AREAS[name]
        image[base:base + len(data)] = data
    strings = b"".join(item.encode() + b"\0" for item in env) + b"\0"
    image[ENV_STRINGS:ENV_STRINGS + len(strings)] = strings
    return bytes(image)


def app_archive(binary, marker=True, extra=()):
    """The application archive that the launcher unpacks under /tmp: the lzma-compressed binary and,
    for a compatible image, the distro-id marker; then any EXTRA (name, bytes, mode) members."""
    members = [("home/bin/mp.elf.strip.lzma", lzma.compress(binary, format=lzma.FORMAT_ALONE), 0o644)]
    if marker:
        members.append(("home/bin/distro-id", b"virtual board demo\n", 0o644))
    return tar_gz(members + list(extra))


def tar_gz(members):
    """A gzip-compressed tar of (name, bytes, mode) members."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w:gz") as tar:
        for name, data, mode in members:
            info = tarfile.TarInfo(name)
            info.size, info.mode = len(data), mode
            tar.addfile(info, io.BytesIO(data))
    return out.getvalue()


def with_bad_crc(record):
    """RECORD with its CRC word spoiled, the rest as it was."""
    return bytes([record[0] ^ 0xFF]) + record[1:]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
