"""The virtual board's build steps: the ppc launcher installed into a staging root as an integrator's
root file system build installs it, the kernel and busybox (cached outside the checkout by
vm/build-kernel.sh and vm/build-busybox.sh), the board's demo programs and the initramfs. Each step
says on standard error what it is doing."""
import gzip
import os
import shutil
import subprocess
import sys

# The package sits in vm/, beside the board's sources and build scripts
VM = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(VM)
BUILD = os.path.join(ROOT, "build", "vm")
# The ppc preset's board files and the virtual board's test program, installed with the prefix /usr
STAGE = os.path.join(BUILD, "stage")
IMGTOOL = os.path.join(ROOT, "build", "dev", "tools", "imgtool", "imgtool")
CROSS = "powerpc-linux-gnu-"
SYSROOT_LIB = "/usr/powerpc-linux-gnu/lib"
# Debian's U-Boot for QEMU's ppce500 machine (u-boot-qemu): QEMU takes its ELF as the machine's firmware
U_BOOT = "/usr/lib/u-boot/qemu-ppce500/uboot.elf"
# Its default console speed, and the module's: the same number of bytes, so the environment keeps its
# layout, and the leading zeros read as decimal all the same
U_BOOT_BAUDRATE, MODULE_BAUDRATE = b"\0baudrate=115200\0", b"\0baudrate=009600\0"
CPUS = ("e500mc", "e500v2")


def say(text):
    print("vm: " + text, file=sys.stderr, flush=True)


def run(command, **kwargs):
    subprocess.run(command, check=True, **kwargs)


def staged_root():
    """Builds the ppc preset's launcher and management link probe and installs them into STAGE, as a
    root file system build does: DESTDIR, the prefix /usr, the components board and board-test."""
    # Built every time (incrementally, so at once when nothing changed): a program left over from an
    # older checkout must not be what the board runs.
    say("building the ppc launcher and mgmt_probe (scripts/stage-libi2c.sh, cmake --preset ppc)")
    run([os.path.join(ROOT, "scripts", "stage-libi2c.sh")], cwd=ROOT, stdout=sys.stderr)
    if not os.path.isfile(os.path.join(ROOT, "build", "ppc", "CMakeCache.txt")):
        run(["cmake", "--preset", "ppc"], cwd=ROOT, stdout=sys.stderr)
    run(["cmake", "--build", "--preset", "ppc", "--target", "launcher", "mgmt_probe", "-j", "2"],
        cwd=ROOT, stdout=sys.stderr)
    say(f"installing them into {STAGE} (cmake --install build/ppc --prefix /usr, DESTDIR)")
    # A fresh root swapped in whole: nothing left from an older install, and a board booting
    # meanwhile reads whole files
    fresh = f"{STAGE}.{os.getpid()}.part"
    shutil.rmtree(fresh, ignore_errors=True)
    for component in ("board", "board-test"):
        run(["cmake", "--install", os.path.join(ROOT, "build", "ppc"), "--prefix", "/usr", "--component", component],
            cwd=ROOT, stdout=sys.stderr, env={**os.environ, "DESTDIR": fresh})
    old = f"{STAGE}.{os.getpid()}.old"
    if os.path.isdir(STAGE):
        os.replace(STAGE, old)
    os.replace(fresh, STAGE)
    shutil.rmtree(old, ignore_errors=True)
    return STAGE


def staged_files(stage):
    """The files of a staging root by their names in the board's root file system."""
    files = {}
    for directory, _, names in os.walk(stage):
        for name in names:
            path = os.path.join(directory, name)
            files[os.path.relpath(path, stage)] = path
    return files


def project_files(launcher_path=None, probe_path=None):
    """The board's files from the project, by their names in the root file system: those of a fresh
    staged install, or the launcher and the management link probe given, which are taken as they
    are (a campaign may boot an older launcher)."""
    for path in (launcher_path, probe_path):
        if path and not os.path.isfile(path):
            raise SystemExit(f"vm: no program at {path} (vm/run-board --build-only builds the checkout's launcher "
                             f"and management link probe and installs them in {STAGE}/bin)")
    files = staged_files(staged_root()) if not (launcher_path and probe_path) else {}
    if launcher_path:
        files["bin/launcher"] = launcher_path
    if probe_path:
        files["bin/mgmt-probe"] = probe_path
    return files


def imgtool():
    """The host's imgtool of the dev preset, brought up to date like the board's programs."""
    say("building imgtool (cmake --preset dev, target imgtool)")
    if not os.path.isfile(os.path.join(ROOT, "build", "dev", "CMakeCache.txt")):
        run(["cmake", "--preset", "dev"], cwd=ROOT, stdout=sys.stderr)
    run(["cmake", "--build", "--preset", "dev", "--target", "imgtool", "-j", "2"], cwd=ROOT, stdout=sys.stderr)
    return IMGTOOL


def boot_loader():
    """Debian's U-Boot for the machine, its console at the module's 9600 bit/s instead of 115200: the
    launcher, the kernel and the technician's terminal all keep the console at 9600, and a module's
    boot loader speaks on the line at that speed too."""
    output = os.path.join(BUILD, "u-boot-9600.elf")
    if not os.path.isfile(U_BOOT):
        raise SystemExit(f"vm: {U_BOOT} is missing (run scripts/install-deps.sh)")
    if os.path.isfile(output) and os.path.getmtime(output) >= os.path.getmtime(U_BOOT):
        return output
    with open(U_BOOT, "rb") as f:
        image = f.read()
    if image.count(U_BOOT_BAUDRATE) != 1:
        raise SystemExit(f"vm: {U_BOOT} has no single default baudrate=115200 to set to 9600")
    say(f"setting the console speed of {U_BOOT} to 9600 bit/s in {output}")
    replaced(output, image.replace(U_BOOT_BAUDRATE, MODULE_BAUDRATE))
    return output


def uimage(cpu, vmlinux):
    """VMLINUX wrapped as U-Boot's bootm takes a kernel: its loaded bytes, to run at 0, behind mkimage's
    legacy header."""
    output = os.path.join(BUILD, f"uImage-{cpu}")
    if os.path.isfile(output) and os.path.getmtime(output) >= os.path.getmtime(vmlinux):
        return output
    if not shutil.which("mkimage"):
        raise SystemExit("vm: mkimage is missing (run scripts/install-deps.sh)")
    say(f"wrapping {vmlinux} for the boot loader (objcopy -O binary, mkimage -T kernel)")
    os.makedirs(BUILD, exist_ok=True)
    binary = f"{output}.{os.getpid()}.bin"
    part = f"{output}.{os.getpid()}.part"
    try:
        run([CROSS + "objcopy", "-O", "binary", vmlinux, binary])
        run(["mkimage", "-A", "powerpc", "-O", "linux", "-T", "kernel", "-C", "none", "-a", "0", "-e", "0",
             "-n", f"virtual board {cpu}", "-d", binary, part], stdout=subprocess.DEVNULL)
        os.replace(part, output)
    finally:
        for leftover in (binary, part):
            if os.path.exists(leftover):
                os.remove(leftover)
    return output


def replaced(output, data):
    """OUTPUT written whole: boots that run side by side each write their own part and swap it in."""
    os.makedirs(os.path.dirname(output), exist_ok=True)
    part = f"{output}.{os.getpid()}.part"
    with open(part, "wb") as f:
        f.write(data)
    os.replace(part, output)


def cached(script, *args):
    """Runs a cached build script; its one line of output is the cache entry's directory."""
    result = subprocess.run([os.path.join(VM, script), *args], check=True, stdout=subprocess.PIPE, text=True)
    return result.stdout.strip()


def kernel(cpu):
    return cached("build-kernel.sh", cpu)


def busybox():
    return cached("build-busybox.sh")


def compile_program(source, output, *flags):
    """Cross-compiles one of the board's C programs when its source is newer than the output."""
    source = os.path.join(VM, "board", source)
    if os.path.isfile(output) and os.path.getmtime(output) >= os.path.getmtime(source):
        return output
    os.makedirs(os.path.dirname(output), exist_ok=True)
    run([CROSS + "gcc", "-O2", "-Wall", "-Wextra", "-Werror", "-s", *flags, source, "-o", output])
    return output


def demo_application(text, output):
    """The demo application, dynamically linked, saying TEXT when it runs."""
    return saying(text, "demo-app.c", output)


def bench_application(text, output):
    """The bench's application, static and without a C library, saying TEXT when it runs."""
    return saying(text, "bench-app.c", output, "-static", "-nostdlib", "-ffreestanding", "-fno-stack-protector")


def saying(text, source, output, *flags):
    """One of the board's applications built from SOURCE with TEXT as the words it says."""
    literal = '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    os.makedirs(os.path.dirname(output), exist_ok=True)
    run([CROSS + "gcc", "-O2", "-Wall", "-Wextra", "-Werror", "-s", *flags, f"-DIMAGE_TEXT={literal}",
         os.path.join(VM, "board", source), "-o", output])
    return output


def debugger(output):
    """The stand-in debugger that a boot with gdb=on takes from the other slot."""
    return compile_program("show-args.c", output)


def board_programs():
    programs = os.path.join(BUILD, "programs")
    return {
        "bin/backtrace": compile_program("backtrace.c", os.path.join(programs, "backtrace")),
        "bin/monotonic": compile_program("monotonic.c", os.path.join(programs, "monotonic"), "-static"),
        "bin/timed": compile_program("timed.c", os.path.join(programs, "timed"), "-static"),
        "bin/eeprom-keeper": compile_program("eeprom-keeper.c", os.path.join(programs, "eeprom-keeper"), "-static"),
        "bin/gdbserver": compile_program("show-args.c", os.path.join(programs, "gdbserver")),
        "lib/libduma.so.0.0.0": compile_program("demo-duma.c", os.path.join(programs, "libduma.so.0.0.0"),
                                                "-shared", "-fPIC", "-Wl,-soname,libduma.so.0"),
    }


class Cpio:
    """An initramfs archive in the kernel's "newc" format, written without touching the host's
    devices or file ownership: every entry belongs to root."""

    def __init__(self):
        self.data = bytearray()
        self.inode = 0

    def add(self, name, mode, content=b"", rdev=(0, 0)):
        self.inode += 1
        name_bytes = name.encode() + b"\0"
        fields = [self.inode, mode, 0, 0, 1, 0, len(content), 0, 0, rdev[0], rdev[1], len(name_bytes), 0]
        self.data += b"070701" + b"".join(b"%08X" % field for field in fields) + name_bytes
        self.pad()
        self.data += content
        self.pad()

    def pad(self):
        self.data += b"\0" * (-len(self.data) % 4)

    def directory(self, name):
        self.add(name, 0o040755)

    def file(self, name, path, mode=0o100755):
        with open(path, "rb") as f:
            self.add(name, mode, f.read())

    def symlink(self, name, target):
        self.add(name, 0o120777, target.encode())

    def device(self, name, major, minor):
        self.add(name, 0o020600, rdev=(major, minor))

    def finish(self):
        self.add("TRAILER!!!", 0)
        return bytes(self.data)


def initramfs(cpu, project, kernel_dir, busybox_dir):
    """The board's root file system: busybox, the board's scripts and programs, the cross sysroot's
    loader and libc for the dynamic programs, i2c-stub for this kernel, and the project's files (the
    launcher and the management link probe)."""
    say(f"making the initramfs for {cpu}")
    board = os.path.join(VM, "board")
    own = {"init": os.path.join(board, "init"),
           "bin/board-state": os.path.join(board, "board-state"), "bin/lzma": os.path.join(board, "lzma"),
           "sbin/reboot": os.path.join(board, "reboot"), "sbin/poweroff": os.path.join(board, "poweroff"),
           "lib/ld.so.1": os.path.join(SYSROOT_LIB, "ld.so.1"),
           "lib/libc.so.6": os.path.join(SYSROOT_LIB, "libc.so.6"),
           "lib/modules/i2c-stub.ko": os.path.join(kernel_dir, "i2c-stub.ko")}
    own.update(board_programs())
    own.update(project)
    archive = Cpio()
    directories = {"bin", "sbin", "usr", "usr/bin", "usr/sbin", "lib", "lib/modules", "dev", "proc", "sys", "tmp"}
    for name in own:
        parent = os.path.dirname(name)
        while parent:
            directories.add(parent)
            parent = os.path.dirname(parent)
    for name in sorted(directories):
        archive.directory(name)
    archive.device("dev/console", 5, 1)
    archive.file("bin/busybox", os.path.join(busybox_dir, "busybox"))
    with open(os.path.join(busybox_dir, "busybox.links")) as links:
        for link in links.read().split():
            name = link.lstrip("/")
            # The board's own lzma, reboot and poweroff stand in for busybox's
            if os.path.basename(name) not in ("lzma", "reboot", "poweroff", "linuxrc"):
                archive.symlink(name, "/bin/busybox")
    for name, path in sorted(own.items()):
        archive.file(name, path)
    output = os.path.join(BUILD, f"initramfs-{cpu}.cpio.gz")
    replaced(output, gzip.compress(archive.finish(), compresslevel=6, mtime=0))
    return output


def board(cpu, launcher_path=None, probe_path=None):
    """Everything a boot needs, built where missing: (vmlinux, initramfs)."""
    if cpu not in CPUS:
        raise SystemExit(f"vm: unknown CPU model {cpu} (one of {', '.join(CPUS)})")
    for tool in (CROSS + "gcc", "qemu-system-ppc"):
        if not shutil.which(tool):
            raise SystemExit(f"vm: {tool} is missing (run scripts/install-deps.sh)")
    project = project_files(launcher_path, probe_path)
    kernel_dir = kernel(cpu)
    busybox_dir = busybox()
    return os.path.join(kernel_dir, "vmlinux"), initramfs(cpu, project, kernel_dir, busybox_dir)
