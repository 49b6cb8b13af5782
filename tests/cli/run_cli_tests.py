#!/usr/bin/env python3
"""Runs a built binary through CLI cases: sevenparam through cli_cases.py,
or another program through the cases module named with --cases (for
sevenparam-report, report_cli_cases.py).

Each case runs in a fresh temporary directory of its own, with a working
directory "cwd" inside it, and is judged on

  - the exit status (-1 is seen as 255 by the caller);
  - standard output: always the argument echo first; then, as the case says,
    nothing more, the estimation's listing, the listing and the prediction
    report, or a golden file compared byte for byte (the elapsed-time line by
    pattern);
  - standard error, byte for byte;
  - every file in the case's directory afterwards: the result files byte for
    byte, and no file that the case does not expect (a failed run leaves no
    result file behind).

A case may instead bring a check function of its own, for what a single
run with piped output cannot show (closed or failing standard output,
profiles through pipes, concurrent runs); it gets a Session that starts the
binary as the runner would. Cases marked POSIX-only are skipped for a
Windows build, those marked unsanitized-only for a sanitizer build.

The platform's differences are parameters, so that one suite serves every
build:

  --emulator WORD        one word of a command prefix that runs the binary,
                         e.g. --emulator /usr/lib/wine/wine64 (repeatable).
  --file-line-end        line end of the result file: lf, or crlf where the
                         C library writes text files with CR LF.
  --console-line-end     line end of standard output and standard error.
  --sanitized            the binary is built with a sanitizer: cases marked
                         unsanitized-only are skipped.
  --no-crs               the binary has no CRS support (built without PROJ):
                         cases that need it are skipped, those of its
                         refusal run.
  --exe-dir              how the case's "executable directory" is made:
      argv0-backslash    the program's own path holds no backslash, so its
                         executable directory is empty: the default result
                         file and the second try for a profile resolve
                         against the current directory. Cases that need a
                         real executable directory run the binary with an
                         argv[0] of the form "<case dir>/bin\\sevenparam",
                         whose executable directory "<case dir>/bin\\" puts
                         the file "x" at "<case dir>/bin\\x".
      beside-binary      the program's own path is a path with backslashes
                         (Windows): each case runs its own copy of the binary
                         in "<case dir>/bin", the executable directory.

A run's expected standard output, or an expected file, may also be an
object with a method check(actual, convert) that returns None or what is
wrong, `convert` turning "\\n" into the platform's line end: programs
without an argument echo describe their output that way.

Usage: run_cli_tests.py --binary PATH [--cases MODULE] [--group G] [--case NAME]
[platform options]; --list-groups prints the group names, one a line.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).resolve().parent))
import importlib  # noqa: E402

import cli_cases as cc  # noqa: E402

GOLDEN_DIR = Path(__file__).resolve().parent / "golden"
RUN_TIMEOUT_SECONDS = 120

LINE_ENDS = {"lf": b"\n", "crlf": b"\r\n"}

ELAPSED_LINE = re.compile(re.escape(cc.ELAPSED_TIME) + rb"[0-9][0-9.e+-]* s")


# PROJ's database beside a Windows program with CRS support.
PROJ_DATABASE = "proj.db"


class Failure(Exception):
    pass


class Platform:
    def __init__(self, args):
        self.binary = Path(args.binary).resolve()
        self.emulator = list(args.emulator or [])
        self.file_eol = LINE_ENDS[args.file_line_end]
        self.console_eol = LINE_ENDS[args.console_line_end]
        self.exe_dir_rule = args.exe_dir
        self.sanitized = args.sanitized
        self.crs = not args.no_crs
        if self.exe_dir_rule == "argv0-backslash":
            if "\\" in str(self.binary):
                raise SystemExit("the binary's path holds a backslash: use --exe-dir beside-binary")
            if self.emulator:
                raise SystemExit("--exe-dir argv0-backslash cannot set argv[0] through an emulator")

    def prepare(self, root, launch):
        """Returns (argv0, executable, exe_dir_path) for one case, where
        exe_dir_path(name) is the host path at which the program sees `name`
        under its executable directory."""
        cwd = root / "cwd"
        if self.exe_dir_rule == "beside-binary":
            bin_dir = root / "bin"
            bin_dir.mkdir()
            copy = bin_dir / self.binary.name
            shutil.copy2(self.binary, copy)
            # PROJ's database, which the Windows programs look for beside
            # themselves, linked rather than copied for every case.
            database = self.binary.parent / PROJ_DATABASE
            if database.is_file():
                (bin_dir / PROJ_DATABASE).symlink_to(database)
            return str(copy), None, lambda name: bin_dir / name
        if launch == cc.EXE_DIR:
            argv0 = str(root / "bin") + "\\" + self.binary.name
            return argv0, str(self.binary), lambda name: root / ("bin\\" + name)
        return str(self.binary), None, lambda name: cwd / name

    def console(self, text):
        return text.replace(b"\n", self.console_eol)

    def file(self, text):
        return text.replace(b"\n", self.file_eol)


def snapshot(root, skip):
    """Every file under `root` (relative path -> bytes), `skip` left out."""
    files = {}
    for path in root.rglob("*"):
        if path.is_file() and path not in skip:
            files[path.relative_to(root).as_posix()] = path.read_bytes()
    return files


def echo_of(args):
    return b"".join(a.encode() + b"\n" for a in args)


def lines_of(data, eol):
    parts = data.split(eol)
    if parts and parts[-1] == b"":
        parts.pop()
    return parts


def check_golden(platform, name, actual):
    expected = platform.console((GOLDEN_DIR / name).read_bytes())
    exp_lines = lines_of(expected, platform.console_eol)
    act_lines = lines_of(actual, platform.console_eol)
    if len(exp_lines) != len(act_lines) or not actual.endswith(platform.console_eol):
        raise Failure(f"stdout has {len(act_lines)} lines, golden {name} has {len(exp_lines)}")
    for number, (exp, act) in enumerate(zip(exp_lines, act_lines), 1):
        if exp.startswith(cc.ELAPSED_TIME):
            if not ELAPSED_LINE.fullmatch(act):
                raise Failure(f"stdout line {number}: {act!r} is no elapsed-time line")
        elif exp != act:
            raise Failure(f"stdout line {number}: {act!r}, golden {name} has {exp!r}")


def expected_prediction(run):
    """The joined text the console's prediction line must carry."""
    if run.predicted is not None:
        return run.predicted
    for content in run.results.values():
        if isinstance(content, bytes):
            for line in content.split(b"\n"):
                if line.startswith(b"output="):
                    return line[len(b"output="):]
    return None


def check_stdout(platform, run, actual):
    if hasattr(run.stdout, "check"):
        problem = run.stdout.check(actual, platform.console)
        if problem:
            raise Failure(f"stdout: {problem}")
        return
    echo = platform.console(echo_of(run.args))
    if isinstance(run.stdout, cc.Golden):
        check_golden(platform, run.stdout.name, actual)
        return
    if not actual.startswith(echo):
        raise Failure(f"stdout does not begin with the argument echo: {actual[:200]!r}")
    if run.stdout == cc.ECHO_ONLY:
        if actual != echo:
            raise Failure(f"stdout holds more than the echo: {actual[len(echo):][:300]!r}")
        return
    lines = lines_of(actual[len(echo):], platform.console_eol)
    report_lines = [l for l in lines if l.startswith(cc.REPORT_PREFIXES)]
    if run.stdout == cc.PARTIAL:
        # The estimation stopped on an error: whatever it printed, no report.
        if report_lines:
            raise Failure(f"stdout holds report lines: {report_lines!r}")
        return
    if cc.PARAMETERS_HEADING not in lines:
        raise Failure("stdout lacks the estimation's final parameters")
    if run.stdout == cc.LISTING:
        if report_lines:
            raise Failure(f"stdout holds report lines without test points: {report_lines!r}")
        return
    # cc.REPORT: the prediction line, then sigma0, the sigmax listing and the
    # elapsed time as the last line.
    predicted = [l for l in lines if l.startswith(cc.PREDICTION_RESULT)]
    if len(predicted) != 1:
        raise Failure(f"stdout holds {len(predicted)} prediction lines")
    joined = expected_prediction(run)
    if joined is not None:
        expected_line = cc.PREDICTION_RESULT + joined
        if predicted[0] != expected_line:
            raise Failure(f"prediction line {predicted[0]!r}, expected {expected_line!r}")
    tail = lines[lines.index(predicted[0]):]
    if (len(tail) < 5 or not tail[1].startswith(cc.UNIT_WEIGHT_ERROR)
            or tail[2] != cc.PARAMETER_ERRORS or tail[3] != b"sigmax"
            or not ELAPSED_LINE.fullmatch(tail[-1])):
        raise Failure(f"prediction report incomplete or out of order: {tail!r}")


class Session:
    """What a case's own check function (cli_cases.Case.check) works with:
    runs of the binary in the case's directory, and the platform."""

    def __init__(self, platform, root, argv0, executable, host_path):
        self.platform = platform
        self.root = root
        self.windows = platform.exe_dir_rule == "beside-binary"
        self._argv0 = argv0
        self._executable = executable
        self.path = host_path

    def start(self, args, **popen_args):
        """Starts the binary with `args` in the case's working directory;
        standard output and error are pipes unless given otherwise."""
        popen_args.setdefault("stdout", subprocess.PIPE)
        popen_args.setdefault("stderr", subprocess.PIPE)
        return subprocess.Popen(self.platform.emulator + [self._argv0] + args,
                                executable=self._executable, cwd=self.root / "cwd",
                                **popen_args)

    def finish(self, proc, stdin_bytes=None):
        """Waits for a started run: (status, stdout bytes, stderr bytes). A
        run that outlives the timeout is killed, not left behind."""
        try:
            out, err = proc.communicate(stdin_bytes, timeout=RUN_TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise
        return proc.returncode, out, err

    def run(self, args, stdin_bytes=None, **popen_args):
        """Runs the binary to its end: (status, stdout bytes, stderr bytes)."""
        if stdin_bytes is not None:
            popen_args["stdin"] = subprocess.PIPE
        return self.finish(self.start(args, **popen_args), stdin_bytes)

    def console(self, text):
        return self.platform.console(text)

    def file(self, text):
        return self.platform.file(text)


def run_case(platform, case):
    with tempfile.TemporaryDirectory(prefix="sevenparam_cli_") as tmp:
        root = Path(tmp)
        (root / "cwd").mkdir()
        argv0, executable, exe_dir_path = platform.prepare(root, case.launch)

        def host_path(place):
            where, _, name = place.partition(":")
            return root / "cwd" / name if where == "cwd" else exe_dir_path(name)

        skip = ({Path(argv0), Path(argv0).parent / PROJ_DATABASE}
                if platform.exe_dir_rule == "beside-binary" else set())
        for place, content in case.files.items():
            path = host_path(place)
            if content is cc.DIRECTORY:
                path.mkdir(parents=True)
            else:
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_bytes(content)

        if case.check is not None:
            try:
                case.check(Session(platform, root, argv0, executable, host_path))
            except cc.CheckFailed as failure:
                raise Failure(str(failure)) from None
            return

        expected_files = snapshot(root, skip)
        for number, run in enumerate(case.runs, 1):
            where = f"run {number}: " if len(case.runs) > 1 else ""
            proc = subprocess.run(platform.emulator + [argv0] + run.args, executable=executable,
                                  cwd=root / "cwd", stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=RUN_TIMEOUT_SECONDS)
            try:
                if proc.returncode != run.status & 0xFF:
                    raise Failure(f"exit status {proc.returncode}, expected {run.status & 0xFF}"
                                  f"; stderr {proc.stderr[:300]!r}")
                expected_err = platform.console(run.stderr)
                if proc.stderr != expected_err:
                    raise Failure(f"stderr {proc.stderr!r}, expected {expected_err!r}")
                check_stdout(platform, run, proc.stdout)

                for place, content in run.results.items():
                    path = host_path(place)
                    key = path.relative_to(root).as_posix()
                    if hasattr(content, "check"):
                        if not path.is_file():
                            raise Failure(f"file {key} is missing")
                        data = path.read_bytes()
                        problem = content.check(data, platform.file)
                        if problem:
                            raise Failure(f"file {key}: {problem}")
                        expected_files[key] = data
                    elif isinstance(content, cc.SameAs):
                        expected_files[key] = expected_files[
                            host_path(content.place).relative_to(root).as_posix()]
                    else:
                        expected_files[key] = platform.file(content)
                actual_files = snapshot(root, skip)
                for key in sorted(set(expected_files) | set(actual_files)):
                    if key not in actual_files:
                        raise Failure(f"file {key} is missing")
                    if key not in expected_files:
                        raise Failure(f"unexpected file {key}: {actual_files[key][:200]!r}")
                    if actual_files[key] != expected_files[key]:
                        raise Failure(f"file {key} holds {actual_files[key]!r}, "
                                      f"expected {expected_files[key]!r}")
            except Failure as failure:
                raise Failure(where + str(failure)) from None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary")
    parser.add_argument("--group", action="append")
    parser.add_argument("--case", action="append")
    parser.add_argument("--cases", default="cli_cases")
    parser.add_argument("--list-groups", action="store_true")
    parser.add_argument("--emulator", action="append")
    parser.add_argument("--file-line-end", choices=LINE_ENDS, default="lf")
    parser.add_argument("--console-line-end", choices=LINE_ENDS, default="lf")
    parser.add_argument("--sanitized", action="store_true")
    parser.add_argument("--no-crs", action="store_true")
    parser.add_argument("--exe-dir", choices=["argv0-backslash", "beside-binary"],
                        default="argv0-backslash")
    args = parser.parse_args()
    all_cases = importlib.import_module(args.cases).CASES

    if args.list_groups:
        seen = []
        for case in all_cases:
            if case.group not in seen:
                seen.append(case.group)
        print("\n".join(seen))
        return 0
    if not args.binary:
        parser.error("--binary is required")

    names = [c.name for c in all_cases]
    duplicates = {n for n in names if names.count(n) > 1}
    if duplicates:
        raise SystemExit(f"duplicate case names: {sorted(duplicates)}")
    cases = [c for c in all_cases
             if (not args.group or c.group in args.group)
             and (not args.case or c.name in args.case)]
    if not cases:
        raise SystemExit("no case selected")

    platform = Platform(args)
    failed = 0
    for case in cases:
        if case.posix_only and platform.exe_dir_rule == "beside-binary":
            print(f"skip  {case.name}: POSIX systems only")
            continue
        if case.unsanitized_only and platform.sanitized:
            print(f"skip  {case.name}: not under a sanitizer")
            continue
        if case.needs_crs and not platform.crs:
            print(f"skip  {case.name}: this build has no CRS support")
            continue
        if case.no_crs_only and platform.crs:
            print(f"skip  {case.name}: for a build without CRS support")
            continue
        try:
            run_case(platform, case)
            print(f"ok    {case.name}")
        except (Failure, subprocess.TimeoutExpired) as failure:
            failed += 1
            print(f"FAIL  {case.name}: {failure}")
    print(f"{len(cases) - failed} of {len(cases)} cases passed (skipped ones included)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
