"""What the tests exercise of the virtual board's harness, imported here and nowhere else: where the
harness keeps it is this file's concern, and the tests take it as fixtures."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "vm"))
from virtualboard import boardbuild, devicetree  # noqa: E402
from virtualboard import line as line_module  # noqa: E402
from virtualboard import patience as patience_module  # noqa: E402
from virtualboard import runner as scenarios  # noqa: E402
from virtualboard import target  # noqa: E402


@pytest.fixture
def line():
    return line_module


@pytest.fixture
def set_uart_clocks():
    return devicetree.set_uart_clocks


@pytest.fixture
def packed_tree():
    return devicetree.packed


@pytest.fixture
def cpio_writer():
    return boardbuild.Cpio


@pytest.fixture
def boots_of():
    return scenarios.boots_of


@pytest.fixture
def countdown_shown():
    return target.countdown_shown


@pytest.fixture
def stopped_at_loader():
    return target.stopped_at_loader


@pytest.fixture
def boot_deadline():
    return target.boot_deadline


@pytest.fixture
def patience():
    return patience_module.patience
