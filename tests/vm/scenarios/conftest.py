"""The virtual board's scenarios: the board fixture, the options that name the board's programs and
where boards keep their files, and the slow scenarios first, so that two workers end together."""
import os
import re
import shutil
import sys
import tempfile

import pytest

# pytest-xdist's workers and the programs the scenarios start read the checkout's modules, which
# stays free of byte-code caches
sys.dont_write_bytecode = True
os.environ["PYTHONDONTWRITEBYTECODE"] = "1"
pytest.register_assert_rewrite("expected")

from virtualboard.board import Board  # noqa: E402

# What a failed scenario's board leaves to read, by its file name in the board's workdir
KEPT_FILES = (("console", "console.log"), ("run-board's log", "run-board.log"),
              ("QEMU's log of the console", "console-qemu.log"), ("flash image", "flash.img"))
WORKDIR = pytest.StashKey[str]()
FAILED = pytest.StashKey[bool]()


def pytest_addoption(parser):
    group = parser.getgroup("virtual board")
    group.addoption("--launcher", help="the ppc launcher to boot (default: the ppc preset's, installed into a "
                    "staging root, built when missing)")
    group.addoption("--mgmt-probe", help="the ppc management link probe (default: as the launcher)")
    group.addoption("--logs", default=tempfile.gettempdir(), metavar="DIR",
                    help="where each scenario's board keeps its flash, state and logs (removed when it passes)")
    group.addoption("--keep", action="store_true", help="keep the board's files of a passing scenario too")


def pytest_collection_modifyitems(items):
    items.sort(key=lambda item: item.get_closest_marker("slow") is None)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    workdir = item.stash.get(WORKDIR, None)
    if report.failed and workdir:
        item.stash[FAILED] = True
        kept = [f"{what}: {os.path.join(workdir, name)}" for what, name in KEPT_FILES
                if os.path.exists(os.path.join(workdir, name))]
        report.sections.append(("the board's files, kept", "\n".join(kept + [f"all of them: {workdir}"])))


@pytest.fixture
def cpu():
    """The board's core; a scenario parametrised by cpu boots another."""
    return "e500mc"


@pytest.fixture
def board(request, cpu):
    """A board of its own for the scenario, in a workdir under --logs: removed when the scenario
    passes, kept with its paths in the report when it fails."""
    options = request.config.option
    os.makedirs(options.logs, exist_ok=True)
    name = re.sub(r"[^\w.-]+", "-", request.node.name)
    workdir = tempfile.mkdtemp(prefix=f"vm-{name}-", dir=options.logs)
    request.node.stash[WORKDIR] = workdir
    yield Board(workdir, options.launcher, options.mgmt_probe, cpu)
    if options.keep:
        print(f"the board's files: {workdir}")
    elif not request.node.stash.get(FAILED, False):
        shutil.rmtree(workdir, ignore_errors=True)
