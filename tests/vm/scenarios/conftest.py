"""The board scenarios: the board fixture, a virtual board of the scenario's own, and the target
fixture, the board as a bench reaches it: a virtual board's bench, or (--board serial) a module
reached only through its serial line and its power; the options that name the board's programs and
where boards keep their files; and the slow scenarios first, so that two workers end together."""
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path

import pytest

# pytest-xdist's workers and the programs the scenarios start read the checkout's modules, which
# stays free of byte-code caches
sys.dont_write_bytecode = True
os.environ["PYTHONDONTWRITEBYTECODE"] = "1"
pytest.register_assert_rewrite("expected")

from virtualboard.board import BOOT_TIMEOUT, Board  # noqa: E402
from virtualboard.programs import Programs  # noqa: E402
from virtualboard.target import Target  # noqa: E402

# What a failed scenario's board leaves to read, by its file name in the board's workdir
KEPT_FILES = (("console", "console.log"), ("the target's line", "line.log"), ("run-board's log", "run-board.log"),
              ("QEMU's log of the console", "console-qemu.log"), ("flash image", "flash.img"))
# What the serial kind cannot do, by the marker of the scenarios that need it; the first that a
# scenario carries gives its reason, so the narrower needs come first
NOT_ON_A_MODULE = {
    "power_control": "cuts the board's power at a chosen moment, which a bench's power command cannot time",
    "device_faults": "takes devices away from the virtual board or changes them under it",
    "flash_access": "reads or prepares the board's flash image file, which a module on a bench does not offer",
}
SCENARIOS = Path(__file__).parent
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
    group = parser.getgroup("module on a bench")
    group.addoption("--board", choices=("virtual", "serial"), default="virtual",
                    help="virtual: a virtual board of its own for each scenario (default); serial: the module on "
                    "--line, for the scenarios that need nothing but its line and power (the rest are skipped)")
    group.addoption("--line", metavar="DEV", help="with --board serial: the module's serial line, e.g. /dev/ttyUSB0")
    group.addoption("--power-cmd", metavar="COMMAND", help="with --board serial: a shell command that power-cycles "
                    "the module; without it the suite asks the operator to and waits")
    group.addoption("--boot-wait", type=int, default=BOOT_TIMEOUT, metavar="SECONDS",
                    help=f"with --board serial: how long the module may take from power-on to its rescue menu, "
                    f"its boot loader's countdown included (default {BOOT_TIMEOUT} s)")


def pytest_configure(config):
    if config.option.board == "serial" and not config.option.line:
        raise pytest.UsageError("--board serial needs --line DEV, the module's serial line")
    if config.option.board == "serial" and config.getoption("numprocesses", None):
        raise pytest.UsageError("--board serial cannot go with -n: there is one module on the line, and its "
                                "scenarios run one at a time")
    if config.option.boot_wait <= 0:
        raise pytest.UsageError("--boot-wait needs a positive number of seconds")


def pytest_collection_modifyitems(config, items):
    items.sort(key=lambda item: item.get_closest_marker("slow") is None)
    # The harness's unit tests may be collected beside the scenarios; the rule is the scenarios'
    for item in items:
        if SCENARIOS not in item.path.parents:
            continue
        needs = [marker for marker in NOT_ON_A_MODULE if item.get_closest_marker(marker)]
        # A scenario says how it reaches the board, so that none runs on a module by omission
        if bool(needs) == bool(item.get_closest_marker("bench")):
            raise pytest.UsageError(f"{item.nodeid}: a scenario is marked either bench or with what it needs "
                                    f"beyond the line and the power ({', '.join(NOT_ON_A_MODULE)})")
        if config.option.board == "serial" and needs:
            item.add_marker(pytest.mark.skip(reason=f"on a module: {NOT_ON_A_MODULE[needs[0]]}"))


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
def flash_backend():
    """The virtual board's flash; a scenario parametrised by flash_backend boots another."""
    return "cfi"


def operator(config):
    """Tells the operator at the terminal, past pytest's capture of the output."""
    def tell(text):
        with config.pluginmanager.getplugin("capturemanager").global_and_fixture_disabled():
            print(f"\n>>> {text}", flush=True)
    return tell


@pytest.fixture
def workdir(request):
    """The scenario's directory under --logs: removed when the scenario passes, kept with its paths in
    the report when it fails."""
    options = request.config.option
    os.makedirs(options.logs, exist_ok=True)
    name = re.sub(r"[^\w.-]+", "-", request.node.name)
    workdir = tempfile.mkdtemp(prefix=f"vm-{name}-", dir=options.logs)
    request.node.stash[WORKDIR] = workdir
    yield workdir
    if options.keep:
        print(f"the board's files: {workdir}")
    elif not request.node.stash.get(FAILED, False):
        shutil.rmtree(workdir, ignore_errors=True)


@pytest.fixture
def board(request, workdir, cpu, flash_backend):
    """A virtual board of the scenario's own."""
    if request.config.option.board == "serial":
        pytest.fail("a scenario on a module reaches it through the target fixture, not a virtual board")
    return Board(workdir, request.config.option.launcher, request.config.option.mgmt_probe, cpu, flash_backend)


@pytest.fixture
def programs(workdir):
    """The records a scenario gives its target, made in its directory."""
    return Programs(workdir)


@pytest.fixture
def target(request, workdir):
    """The board as a bench reaches it, at its rescue menu's reach: a virtual board's bench, with its
    flash and timed power cuts; or the module on --line, with nothing but its line and power."""
    options = request.config.option
    if options.board == "serial":
        with Target(options.line, workdir, options.power_cmd, operator(request.config), options.boot_wait) as target:
            yield target
    else:
        with Board(workdir, options.launcher, options.mgmt_probe, "e500mc").bench() as target:
            yield target
