"""The management link: the launcher's own link test (the board's mgmt-probe) on eth0 as the
interface is taken down and up on the board, and as QEMU takes the cable away and gives it back."""
import time

import pytest

from virtualboard.shell import shell_session

# How long a link change may take to show: the guest's link interrupt and the kernel's carrier
# handling run on a loaded machine
LINK_WAIT = 20
LINK_POLL = 0.5


def link_status(shell):
    return shell.run("mgmt-probe")


def link_status_becomes(shell, wanted, what):
    """Probes until the link test gives WANTED, within LINK_WAIT seconds."""
    deadline = time.monotonic() + LINK_WAIT
    while True:
        said = link_status(shell)
        if said == f"mgmt_link_status: {wanted}":
            return
        assert time.monotonic() < deadline, f"{what}: the probe still says {said!r} after {LINK_WAIT} s, not {wanted}"
        time.sleep(LINK_POLL)


@pytest.mark.flash_access
@pytest.mark.device_faults
def test_management_link(board):
    board.make_flash()
    with shell_session(board) as (shell, qmp):
        link_status_becomes(shell, 1, "eth0 brought up at boot")
        shell.run("ip link set eth0 down")
        # Taking the interface down clears its flag at once
        assert link_status(shell) == "mgmt_link_status: 0", "probe after ip link set eth0 down"
        shell.run("ip link set eth0 up")
        link_status_becomes(shell, 1, "after ip link set eth0 up")
        qmp.execute("set_link", name="n0", up=False)
        link_status_becomes(shell, 0, "after QMP set_link off")
        qmp.execute("set_link", name="n0", up=True)
        link_status_becomes(shell, 1, "after QMP set_link on")
