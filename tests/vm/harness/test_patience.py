"""How long a wait on a child lasts: its deadline, stretched while the child printed within the last
30 seconds, never past its hard deadline."""
import pytest


@pytest.mark.parametrize("deadline, hard_deadline, printed_at, gives_up_at", [
    (100.0, 300.0, 40.0, 100.0),
    (100.0, 300.0, 95.0, 125.0),
    (100.0, 300.0, 200.0, 230.0),
    (100.0, 300.0, 290.0, 300.0),
    (100.0, 100.0, 99.0, 100.0),
], ids=["quiet before the deadline", "printed just before it", "still printing past it", "capped by the hard bound",
        "no stretch"])
def test_patience(patience, deadline, hard_deadline, printed_at, gives_up_at):
    assert patience(deadline, hard_deadline, printed_at) == gives_up_at
