"""The device tree that the virtual board boots with: QEMU's own for the machine, with a UART clock
under which the speeds the board sets are the speeds QEMU's UART model sets on the host's side.

QEMU's ppce500 tree gives each UART the platform's 400 MHz clock, while its 16550 model divides
399193 by the kernel's divisor: the kernel's 9600 bit/s then reaches the host's side of the line as
200 bit/s (QEMU rounds to the next standard speed up to a tenth above it), and 115200 as 2400. The
model's own clock (16 x 399193 Hz) is no cure: 115200 then takes divisor 3, which QEMU reads as
133064 and rounds to 230400. Under the 7.3728 MHz of a common UART crystal, the kernel's divisors
for 9600 and 115200 are 48 and 4, which QEMU reads as 8316 and 99798 and sets as 9600 and 115200.
The boot loader reads the same clock from the same tree, so its console's speed is what it sets too.

The tree is written packed: QEMU dumps it in the 1 MiB it builds it in and pads a tree it is given by
a further 10000 bytes, while the boot loader maps a single 1 MiB page over the tree before it moves
it, and faults on the padding's end."""
import struct
import subprocess

UART_CLOCK = 7372800

FDT_MAGIC = 0xD00DFEED
FDT_BEGIN_NODE, FDT_END_NODE, FDT_PROP, FDT_NOP, FDT_END = 1, 2, 3, 4, 9


def aligned(offset):
    return (offset + 3) & ~3


def set_uart_clocks(blob):
    """BLOB (a flattened device tree) with every serial node's clock-frequency set to UART_CLOCK."""
    blob = bytearray(blob)
    magic, _, structure, strings = struct.unpack_from(">IIII", blob, 0)
    if magic != FDT_MAGIC:
        raise ValueError("not a flattened device tree")
    offset, path, patched = structure, [], 0
    while True:
        (token,) = struct.unpack_from(">I", blob, offset)
        offset += 4
        if token == FDT_BEGIN_NODE:
            end = blob.index(b"\0", offset)
            path.append(blob[offset:end].decode())
            offset = aligned(end + 1)
        elif token == FDT_END_NODE:
            path.pop()
        elif token == FDT_PROP:
            length, name_offset = struct.unpack_from(">II", blob, offset)
            name = blob[strings + name_offset:blob.index(b"\0", strings + name_offset)].decode()
            if path and path[-1].startswith("serial@") and name == "clock-frequency" and length == 4:
                struct.pack_into(">I", blob, offset + 8, UART_CLOCK)
                patched += 1
            offset = aligned(offset + 8 + length)
        elif token == FDT_END:
            break
        elif token != FDT_NOP:
            raise ValueError(f"device tree token {token} at {offset - 4}")
    if not patched:
        raise ValueError("no serial node with a clock-frequency")
    return bytes(blob)


def packed(blob):
    """BLOB with its free space past the strings block cut off."""
    strings, strings_size = struct.unpack_from(">I", blob, 12)[0], struct.unpack_from(">I", blob, 32)[0]
    end = strings + strings_size
    return struct.pack(">II", FDT_MAGIC, end) + blob[8:end]


def board_tree(qemu_command, path):
    """Writes the tree for QEMU_COMMAND (QEMU's own, dumped by the same command) to PATH; gives the
    options that boot with it."""
    subprocess.run([*qemu_command, "-machine", f"dumpdtb={path}"], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(path, "rb") as f:
        blob = f.read()
    with open(path, "wb") as f:
        f.write(packed(set_uart_clocks(blob)))
    return ["-dtb", path]
