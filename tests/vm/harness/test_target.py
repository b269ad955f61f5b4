"""A module's target: the boot wait given on the command line, the operator's six minutes on top when
the power is cycled by hand, and no flash to read."""
import pytest


@pytest.mark.parametrize("power_command, boot_wait, waited", [
    ("outlet-tool cycle 3", 90, 90),
    (None, 90, 390),
], ids=["a power command", "the operator's hand"])
def test_a_modules_target(module, tmp_path, power_command, boot_wait, waited):
    with module(str(tmp_path), "/dev/ttyUSB0", power_command, print, boot_wait).bench() as target:
        assert (target.line, target.boot_wait, target.flash) == ("/dev/ttyUSB0", waited, None)
