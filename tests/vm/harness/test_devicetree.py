"""The UART clock edit and the packing of a flattened device tree made here by hand."""
import struct

import pytest

BEGIN_NODE, END_NODE, PROP, NOP, END = 1, 2, 3, 4, 9
STRINGS = b"compatible\0clock-frequency\0#address-cells\0"
COMPATIBLE, CLOCK_FREQUENCY, ADDRESS_CELLS = 0, 11, 27
PLATFORM_CLOCK = 400000000


def word(value):
    return struct.pack(">I", value)


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def node(name, *contents):
    return word(BEGIN_NODE) + padded(name.encode() + b"\0") + b"".join(contents) + word(END_NODE)


def prop(name_offset, value):
    return word(PROP) + word(len(value)) + word(name_offset) + padded(value)


def blob(root):
    """A version 17 tree: the 40-byte header, an empty memory reservation map, ROOT, the strings."""
    structure = root + word(END)
    structure_at = 40 + 16
    strings_at = structure_at + len(structure)
    total = strings_at + len(STRINGS)
    header = struct.pack(">10I", 0xD00DFEED, total, structure_at, strings_at, 40, 17, 16, 0,
                         len(STRINGS), len(structure))
    return header + bytes(16) + structure + STRINGS


def board(uart_clock):
    """Two UARTs among nodes whose clock-frequency is not a UART's; NUL-padded values of odd length."""
    return blob(node("",
                     prop(ADDRESS_CELLS, word(1)),
                     node("cpus", node("cpu@0", prop(CLOCK_FREQUENCY, word(1200000000)))),
                     node("soc@e0000000",
                          node("serial@4500", prop(COMPATIBLE, b"ns16550a\0"), prop(CLOCK_FREQUENCY, word(uart_clock))),
                          word(NOP),
                          node("serial@4600", prop(CLOCK_FREQUENCY, word(uart_clock)), prop(COMPATIBLE, b"ns16550a\0")),
                          node("timer@41100", prop(CLOCK_FREQUENCY, word(PLATFORM_CLOCK))))))


def test_every_uart_clock_reads_the_crystal_and_nothing_else_changes(set_uart_clocks):
    edited = set_uart_clocks(board(PLATFORM_CLOCK))
    assert edited == board(0x00708000)
    assert edited.count(b"\x00\x70\x80\x00") == 2


def test_an_edited_tree_stays_as_it_is(set_uart_clocks):
    assert set_uart_clocks(board(7372800)) == board(7372800)


@pytest.mark.parametrize("tree, complaint", [
    (blob(node("", node("soc", node("timer@41100", prop(CLOCK_FREQUENCY, word(PLATFORM_CLOCK)))))),
     "no serial node"),
    (blob(node("", node("serial@4500", prop(COMPATIBLE, b"ns16550a\0")))), "no serial node"),
    (b"\xd0\x0d\xfe\xef" + board(PLATFORM_CLOCK)[4:], "not a flattened device tree"),
    (blob(node("", word(7), node("serial@4500", prop(CLOCK_FREQUENCY, word(PLATFORM_CLOCK))))),
     "device tree token 7 at 64"),
], ids=["no serial node", "a serial node without a clock", "another magic", "an unknown token"])
def test_a_tree_without_a_uart_clock_to_set_is_refused(set_uart_clocks, tree, complaint):
    with pytest.raises(ValueError, match=complaint):
        set_uart_clocks(tree)


def test_a_packed_tree_ends_with_its_strings(packed_tree):
    tree = board(7372800)
    in_a_mebibyte = tree[:4] + word(1 << 20) + tree[8:] + bytes((1 << 20) - len(tree))
    assert packed_tree(in_a_mebibyte) == tree
