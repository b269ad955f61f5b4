#!/usr/bin/env python3
"""Checks the commands that README.md and docs/*.md give, in code blocks and inline code, against the
programs they name: imgtool's commands and options, the options of vm/run-board and the vm/ Python
scripts, and the scripts under scripts/ and vm/. What a program accepts is read from its own help, so a
renamed option or command fails here until the documents follow."""
import argparse
import re
import shlex
import subprocess
import sys
from pathlib import Path

DOCUMENTS = ("README.md", "docs/*.md")
FENCE = re.compile(r"^\s*(```|~~~)")
INLINE_CODE = re.compile(r"(`+)(.+?)(?<!`)\1(?!`)", re.DOTALL)
PROMPT = "$ "
COMMENT = re.compile(r"(^|\s)#.*$")
OPERATORS = {"&&", "||", ";", "|", "&"}
# Words before the program itself: what runs it, and the environment given to it
WRAPPERS = {"sudo", "env", "time", "exec", "bash", "sh", "python3"}
ASSIGNMENT = re.compile(r"^[A-Za-z_]\w*=")
OPTION = re.compile(r"(?<![\w-])--?[A-Za-z][\w-]*")
USAGE = re.compile(r"^\s*usage:", re.IGNORECASE)
# An option's own line is indented a little; a wrapped description deeper, and it may start with a
# dash where it names another program's options (picocom -b 9600)
OPTION_LINE = re.compile(r"^ {1,6}-")
SCRIPT = re.compile(r"^(scripts|vm)/[^/]+$")
# scripts/run-board hands its arguments to vm/run-board (and prints its help), as does the bare name
RUN_BOARD = "vm/run-board"
RUN_BOARD_NAMES = {"run-board", "scripts/run-board", RUN_BOARD}


def is_placeholder(word):
    """DEV, FILE, <target>, ARGUMENTS..., scripts/*.sh stand for what the reader fills in (-D does not)."""
    bare = word.strip("-[]")
    return any(mark in word for mark in ("<", "...", "…", "*")) or (len(bare) > 1 and bare.isupper())


def options_in_help(text, program, commands=frozenset()):
    """The options a help text offers: those in its usage lines, at the head of its option lines, and
    in its own example commands in quotes ('imgtool --version'). A usage line of one of its commands
    ("  or:  imgtool send --line DEV ...") offers that command's options, not the program's."""
    found = set()
    in_usage = False
    for line in text.splitlines():
        in_usage = bool(USAGE.match(line)) or (in_usage and line[:1].isspace() and bool(line.strip()))
        words = line.split()
        names_command = program in words[:-1] and words[words.index(program) + 1] in commands
        if in_usage and not names_command:
            found.update(OPTION.findall(line))
        elif OPTION_LINE.match(line):
            found.update(OPTION.findall(re.split(r"\s{2,}", line.strip())[0]))
    for example in re.findall(r"'" + re.escape(program) + r"\b[^']*'", text):
        found.update(OPTION.findall(example))
    # The help itself was asked for with it
    found.add("--help")
    return found


def commands_in_help(text):
    """The command names listed under "Commands:"."""
    section = re.search(r"^Commands:\n((?:[ \t]+\S.*\n?)+)", text, re.MULTILINE)
    return {line.split()[0] for line in section.group(1).splitlines()} if section else set()


def usage_line_options(script):
    """The options of a shell script's "# Usage:" comment, or None when it has none."""
    for line in script.read_text(errors="replace").splitlines():
        if line.startswith("# Usage:"):
            return set(OPTION.findall(line))
    return None


def is_python(script):
    with script.open("rb") as text:
        first = text.readline()
    return first.startswith(b"#!") and b"python" in first


class Programs:
    """What the documented programs accept. help_of(program) gives the help text of ("imgtool",),
    ("imgtool", COMMAND) or (SCRIPT,), a path under root."""

    def __init__(self, root, help_of):
        self.root = Path(root)
        self._help_of = help_of
        self._helps = {}

    def help(self, program):
        if program not in self._helps:
            self._helps[program] = self._help_of(program)
        return self._helps[program]

    def imgtool_commands(self):
        return commands_in_help(self.help(("imgtool",)))

    def imgtool_options(self, command):
        if command:
            return options_in_help(self.help(("imgtool", command)), "imgtool")
        return options_in_help(self.help(("imgtool",)), "imgtool", self.imgtool_commands())

    def script_exists(self, script):
        return (self.root / script).exists()

    def script_options(self, script):
        """The options of a script under root, or None when it lists none to check against (or is a
        directory, such as vm/board)."""
        path = self.root / script
        if path.is_dir():
            return None
        if is_python(path):
            return options_in_help(self.help((script,)), path.name)
        return usage_line_options(path)


def tools_help(root, imgtool):
    """help_of for Programs that asks the real programs: imgtool's binary, and the Python scripts under
    the python3 running this checker (Debian's, where their modules are installed)."""
    def help_of(program):
        if program[0] == "imgtool":
            argv = [imgtool, *program[1:], "--help"]
        else:
            argv = [sys.executable, str(Path(root) / program[0]), "--help"]
        done = subprocess.run(argv, cwd=root, capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(argv)} failed ({done.returncode}): {done.stderr.strip()}")
        return done.stdout
    return help_of


def block_commands(block):
    """(line, command) for the commands of a fenced block: its prompted lines where it has a prompt (the
    rest is output), else every line; a line ending in a backslash goes on on the next."""
    prompted = any(line.lstrip().startswith(PROMPT) for _, line in block)
    start, parts = None, []
    for number, line in block:
        text = line.strip()
        if not parts:
            if prompted and not text.startswith(PROMPT):
                continue
            start, text = number, text.removeprefix(PROMPT)
        parts.append(text.removesuffix("\\"))
        if not text.endswith("\\"):
            yield start, " ".join(parts)
            parts = []


def inline_commands(paragraph):
    """(line, code) for each inline code span of a paragraph, which may run over a line break."""
    if not paragraph:
        return
    first = paragraph[0][0]
    text = "\n".join(line for _, line in paragraph)
    for span in INLINE_CODE.finditer(text):
        yield first + text.count("\n", 0, span.start()), span.group(2).replace("\n", " ").strip()


def code_in(markdown):
    """(line, code) for every command line of the fenced blocks and every inline code span."""
    block, paragraph = None, []
    for number, line in enumerate(markdown.splitlines(), 1):
        if FENCE.match(line):
            if block is None:
                yield from inline_commands(paragraph)
                block, paragraph = [], []
            else:
                yield from block_commands(block)
                block = None
        elif block is not None:
            block.append((number, line))
        elif line.strip():
            paragraph.append((number, line))
        else:
            yield from inline_commands(paragraph)
            paragraph = []
    yield from inline_commands(paragraph)


def simple_commands(code):
    """The word lists of a command line's simple commands, comments left out."""
    code = COMMENT.sub("", code)
    try:
        words = shlex.split(code)
    except ValueError:
        words = code.split()
    command = []
    for word in words:
        if word in OPERATORS:
            yield command
            command = []
        else:
            command.append(word)
    yield command


def program_and_arguments(words):
    words = list(words)
    while words and (words[0] in WRAPPERS or ASSIGNMENT.match(words[0])):
        words.pop(0)
        while words and words[0].startswith("-"):
            words.pop(0)
    if not words:
        return None, []
    return words[0].removeprefix("./"), words[1:]


def unknown_options(arguments, known):
    for argument in arguments:
        option = argument.strip("[](),;").split("=")[0]
        if OPTION.fullmatch(option) and not is_placeholder(option) and option not in known:
            yield option


def is_imgtool(program):
    return program == "imgtool" or program.endswith("/imgtool/imgtool")


def is_ours(program):
    if program is None or is_placeholder(program):
        return False
    return is_imgtool(program) or program in RUN_BOARD_NAMES or bool(SCRIPT.match(program))


def problems_of(words, programs):
    """What is wrong with one simple command, as short texts; nothing for programs not ours."""
    program, arguments = program_and_arguments(words)
    if not is_ours(program):
        return []
    if is_imgtool(program):
        return imgtool_problems(arguments, programs)
    if program in RUN_BOARD_NAMES:
        return [f"{program} has no option {option}"
                for option in unknown_options(arguments, programs.script_options(RUN_BOARD))]
    if not programs.script_exists(program):
        return [f"no script {program}"]
    known = programs.script_options(program)
    if known is None:
        return []
    return [f"{program} has no option {option}" for option in unknown_options(arguments, known)]


def imgtool_problems(arguments, programs):
    if not arguments:
        return []
    command = arguments[0]
    if command.startswith("-"):
        return [f"imgtool has no option {option}"
                for option in unknown_options(arguments, programs.imgtool_options(None))]
    # "imgtool send: ..." is one of its messages quoted, COMMAND a placeholder
    if command.endswith(":") or is_placeholder(command):
        return []
    if command not in programs.imgtool_commands():
        return [f"imgtool has no command {command}"]
    return [f"imgtool {command} has no option {option}"
            for option in unknown_options(arguments[1:], programs.imgtool_options(command))]


def check_document(path, name, programs):
    """(problems as "name:line: text", commands of ours seen) of one document."""
    problems, seen = [], 0
    for line, code in code_in(path.read_text()):
        for words in simple_commands(code):
            seen += is_ours(program_and_arguments(words)[0])
            problems += [f"{name}:{line}: {problem} (in: {code})" for problem in problems_of(words, programs)]
    return problems, seen


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--imgtool", required=True, help="the built imgtool")
    parser.add_argument("--root", default=".", help="the top of the checkout (default: here)")
    parser.add_argument("documents", nargs="*", help="default: " + " ".join(DOCUMENTS))
    args = parser.parse_args()
    root = Path(args.root).resolve()
    documents = [Path(d) for d in args.documents] or sorted(p for g in DOCUMENTS for p in root.glob(g))
    programs = Programs(root, tools_help(root, args.imgtool))
    problems, seen = [], 0
    for document in documents:
        name = document.resolve().relative_to(root) if document.resolve().is_relative_to(root) else document
        found, count = check_document(document, name, programs)
        problems += found
        seen += count
    for problem in problems:
        print(problem)
    print(f"doc_commands: {seen} commands in {len(documents)} documents, {len(problems)} wrong")
    # Finding no command at all means the search broke, not that the documents are right
    return 1 if problems or seen == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
