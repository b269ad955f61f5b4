"""The programs and records a scenario gives a board, built in its workdir: a board's own, or a
module's on a bench, which is given records the same way and offers nothing else of the host's."""
import gzip
import os
import random

from . import boardbuild, records


class Programs:
    """The applications and records made in WORKDIR."""

    def __init__(self, workdir):
        self.workdir = workdir

    def program(self, text, bench=False):
        """The demo application saying TEXT, built in the workdir; or the bench's, which assumes nothing
        of the root file system it runs on."""
        build, name = (boardbuild.bench_application, "bench-") if bench else (boardbuild.demo_application, "")
        return build(text, os.path.join(self.workdir, "programs", name + text.replace(" ", "-")))

    def application(self, text, marker=True, bench=False):
        archive = records.app_archive(records.read(self.program(text, bench)), marker)
        return records.record("application", archive)

    def big_application(self, text, size, bench=False):
        """An application record of about SIZE bytes: random filler keeps the archive as long as its data."""
        filler = random.Random(size).randbytes(size)
        archive = records.app_archive(records.read(self.program(text, bench)), extra=[("home/filler", filler, 0o644)])
        return records.record("application", archive)

    def debugger(self):
        binary = boardbuild.debugger(os.path.join(self.workdir, "programs", "gdb"))
        return records.record("application", gzip.compress(records.read(binary)))
