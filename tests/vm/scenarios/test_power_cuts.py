"""Power cuts during a rescue install on the kernel's flash drivers: a short campaign on each back
end (vm/power-cuts.py runs long ones; docs/reliability.md gives their figures). No board may boot a half-written
slot, nor be left without an application while a slot holds a whole one."""
import random

import pytest

from virtualboard.powercuts import OUTCOMES, SERIES, run_campaign, table

pytestmark = [pytest.mark.flash_access, pytest.mark.power_control, pytest.mark.slow]


@pytest.mark.parametrize("backend, cuts", [("cfi", 2), ("block2mtd", 1)])
def test_power_cut_campaign(board, backend, cuts):
    rows, faults = run_campaign(board, backend, cuts, random.Random(1))
    print(table(rows))
    assert faults == []
    # Every cut of both series was classified as one of the outcomes a sound install allows
    assert [sum(outcomes.values()) for _, outcomes, _ in rows] == [cuts] * len(SERIES)
    assert all(set(outcomes) <= set(OUTCOMES) for _, outcomes, _ in rows)
