"""The CLI cases of sevenparam, run by run_cli_tests.py.

A case is one or more runs of the binary in one fresh directory. Files are
placed as "cwd:NAME" (in the run's working directory) or "exe:NAME" (under the
program's executable directory; see run_cli_tests.py for how that directory is
made on each platform). Expected file contents and messages are written with
"\\n" line ends; the runner turns them into the platform's line ends.

Data sets:
  TINY_*   four corner points of a 10-unit cube and the same points shifted by
           (100, 200, 300): every parameter is exactly 0, sigma0 exactly 0, and
           each test point moves by the shift.
  ROT_*    five points and their images under the linearised model with
           ex = 0.003, ey = 0.002, ez = 0.001 (radians), m = 0.5 and a shift of
           (10, 20, 30), written as exact decimals: the estimate is exact to
           six places and the test points land on exact decimals.
  ECEF_*   ten common points (metres, millimetre texts) spread over about
           300 km near 39.9 N 116.4 E, and their images under the same model
           with tx, ty, tz = -93.4, 128.7, 77.25 m, ex = 1.21e-5,
           ey = -8.7e-6, ez = 1.54e-5 rad, m = 4.2e-6, rounded to 0.1 mm.
           The expected result files were taken from a run and agree to the
           last printed digit with an independent Gauss-Newton solution of the
           same equations in double precision.
"""

import errno
import os
import subprocess
import time
from dataclasses import dataclass, field

# Console texts, GBK bytes as the program writes them.
PARAMETERS_HEADING = "七参数输出: ".encode("gbk")
PREDICTION_RESULT = "模型预测结果: ".encode("gbk")
UNIT_WEIGHT_ERROR = "单位权中误差: ".encode("gbk")
PARAMETER_ERRORS = "参数中误差:".encode("gbk")
ELAPSED_TIME = "消耗时间: ".encode("gbk")
REPORT_PREFIXES = (PREDICTION_RESULT, UNIT_WEIGHT_ERROR, PARAMETER_ERRORS, ELAPSED_TIME)

# What standard output holds after the argument echo.
ECHO_ONLY = "echo only"      # nothing: the run stopped before estimating
PARTIAL = "partial"          # some of the listing, no report: estimation failed
LISTING = "listing"          # the whole listing, no report: no test points
REPORT = "report"            # the listing and the whole prediction report


@dataclass
class Golden:
    """Standard output compared with tests/cli/golden/NAME, byte for byte but
    for the elapsed seconds."""
    name: str


@dataclass
class SameAs:
    """A result file that must equal the file at `place`."""
    place: str


DIRECTORY = object()  # an input that is an empty directory
PLAIN = "plain"       # the binary under its own path
EXE_DIR = "exe-dir"   # the binary under a path that gives it an executable directory

FAIL = -1


@dataclass
class Run:
    args: list
    status: int = 0
    stdout: object = LISTING
    stderr: bytes = b""
    results: dict = field(default_factory=dict)  # place -> bytes or SameAs
    # The joined text of the console's prediction line; by default the
    # "output=" line of the run's result file.
    predicted: bytes = None


@dataclass
class Case:
    name: str
    group: str
    runs: list
    files: dict = field(default_factory=dict)  # place -> bytes or DIRECTORY
    launch: str = PLAIN
    # A function of a run_cli_tests.Session that runs and judges the case
    # itself, raising CheckFailed; `runs` is then empty.
    check: object = None
    posix_only: bool = False  # pipes, FIFOs, signals, links, /dev files
    # Memory limits: a sanitizer reserves far more address space than any
    # limit a case could set.
    unsanitized_only: bool = False
    needs_crs: bool = False    # points in coordinate reference systems (PROJ)
    no_crs_only: bool = False  # what a build without CRS support alone does


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def case(name, group, args, files=None, launch=PLAIN, **expect):
    return Case(name, group, [Run(args, **expect)], files or {}, launch)


def lines(*texts):
    return "".join(t + "\n" for t in texts).encode()


def cannot_write(path, reason="No such file or directory"):
    return f"sevenparam: cannot write result file '{path}': {reason}\n".encode()


TINY_SRC = "0,0,0,10,0,0,0,10,0,0,0,10"
TINY_DES = "100,200,300,110,200,300,100,210,300,100,200,310"
TINY_TEST = "2.5,2.5,2.5,1,2,3"
ZERO_ARGS = "args=" + ",".join(["0.000000"] * 7)
TINY_PARAMETERS = lines(ZERO_ARGS, "avesrc=2.500000,2.500000,2.500000",
                        "avetar=102.500000,202.500000,302.500000")
# The same lists with source and target exchanged.
TINY_SWAPPED = lines(ZERO_ARGS, "avesrc=102.500000,202.500000,302.500000",
                     "avetar=2.500000,2.500000,2.500000")
TINY_OUTPUT = "102.500000,202.500000,302.500000,101.000000,202.000000,303.000000"
TINY_ARGS = ["--inputsrc", TINY_SRC, "--inputdes", TINY_DES]

ROT_SRC = "1000,0,0,0,1000,0,0,0,1000,1000,1000,0,0,0,0"
ROT_DES = "1510,18.5,33,11.5,1520,25.5,7,24.5,1530,1511.5,1518.5,28.5,10,20,30"
ROT_TEST = "400,400,200,100,-200,300"
ROT_OUTPUT = "610.000000,620.300000,329.400000,158.800000,-278.800000,481.200000"

ECEF_SRC = ("-2154143.609,4318986.534,4131969.249,-2302076.422,4276888.934,4207699.461,"
            "-2277464.318,4434327.743,3951137.934,-2055572.514,4353265.209,3940130.331,"
            "-2281857.429,4470811.755,4144504.467,-2290496.655,4367204.964,3968701.179,"
            "-2032158.759,4465912.004,3951734.710,-2261534.332,4357850.507,3953211.934,"
            "-2115033.790,4264623.059,4038692.402,-2302991.114,4536857.191,3991497.685")
ECEF_DES = ("-2154143.5954,4319216.5447,4132030.3344,-2302077.0192,4277121.9624,4207762.6609,"
            "-2277464.6194,4434557.9492,3951197.9372,-2055573.2276,4353491.5244,3940189.3384,"
            "-2281855.5047,4471044.5219,4144564.8791,-2290497.8920,4367435.3015,3968762.1815,"
            "-2032157.5385,4466138.5724,3951792.1994,-2261535.7262,4358080.1718,3953272.7327,"
            "-2115035.2609,4264851.1105,4038753.4132,-2302989.5925,4537088.7093,3991556.8392")
ECEF_TEST = ("-2200258.599,4400511.780,4008723.178,-2132860.738,4319619.612,4123253.477,"
             "-2195192.541,4438392.917,4153073.705")
ECEF_OUTPUT = ("-2200258.595890,4400741.352011,4008783.160542,"
               "-2132860.701141,4319849.192164,4123314.333000,"
               "-2195190.677391,4438624.316741,4153133.791370")
ECEF_PARAMETERS = lines(
    "args=0.000000,0.000000,0.000000,0.000012,-0.000009,0.000015,0.000004",
    "avesrc=-2207332.894200,4384672.790000,4027927.935200",
    "avetar=-2207332.997640,4384902.636810,4027988.251600")
# The same lists as a person might type them: a space after every comma.
ECEF_SRC_SPACED = ECEF_SRC.replace(",", ", ")
ECEF_DES_SPACED = ECEF_DES.replace(",", ", ")
ECEF_TEST_SPACED = ECEF_TEST.replace(",", " , ")


def prediction(src, des, test, output):
    return lines("src=" + src, "des=" + des, "test=" + test, "output=" + output)


TINY_PREDICTION = prediction(TINY_SRC, TINY_DES, TINY_TEST, TINY_OUTPUT)


CASES = [
    # --- The option table, seen through the echo and the values used. ---
    case("options_value_after_its_option_in_any_order", "options",
         ["--inputdes", TINY_DES, "--outfile", "r.txt", "--inputsrc", TINY_SRC],
         results={"cwd:r.txt": TINY_PARAMETERS}),
    # Values fill empty entries in key order (--inputdes before --inputsrc),
    # not in the order the options were given.
    case("options_values_fill_in_key_order", "options",
         ["--outfile", "r.txt", "--inputtest", TINY_TEST, "--inputsrc", "--inputdes",
          TINY_SRC, TINY_DES],
         stdout=REPORT,
         results={"cwd:r.txt": prediction(
             TINY_DES, TINY_SRC, TINY_TEST,
             "-97.500000,-197.500000,-297.500000,-99.000000,-198.000000,-297.000000")}),
    # "--outfile" stays present with an empty value: no file can be made.
    case("options_outfile_left_empty_by_key_order", "options",
         ["--outfile", "--inputfile", "p.ini"],
         files={"cwd:p.ini": lines("src=" + TINY_SRC, "des=" + TINY_DES)},
         status=FAIL, stderr=cannot_write("")),
    case("options_arguments_without_an_empty_entry_are_dropped", "options",
         ["dropped"] + TINY_ARGS + ["--outfile", "r.txt", "surplus", "--help"],
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("options_repeated_name_takes_the_next_value", "options",
         ["--outfile", "r.txt", "--inputsrc", TINY_DES, "--inputdes", TINY_DES,
          "--inputsrc", TINY_SRC],
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("options_other_case_and_joined_forms_are_no_options", "options",
         ["--INPUTSRC", TINY_SRC, "--inputsrc=" + TINY_SRC, "--inputdes", TINY_DES,
          "--Outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY),
    case("options_empty_argument_keeps_its_entry_empty", "options",
         ["--outfile", "r.txt", "--inputdes", "--inputsrc", "", TINY_DES, TINY_SRC],
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("options_option_name_is_never_a_value", "options",
         ["--inputsrc", "--outfile", TINY_SRC, "--inputdes", TINY_DES, "r.txt"],
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("options_help_is_an_ordinary_argument", "options", ["--help"],
         status=FAIL, stdout=ECHO_ONLY),

    # --- The run sequence's own edges. ---
    case("run_no_arguments", "run", [], status=FAIL, stdout=ECHO_ONLY),
    case("run_missing_target_text", "run", ["--inputsrc", TINY_SRC, "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY),
    case("run_empty_source_text", "run", ["--inputsrc", "", "--inputdes", TINY_DES],
         status=FAIL, stdout=ECHO_ONLY),
    # Without a backslash in the program's path the executable directory is
    # empty, so the default result file lands in the current directory.
    case("run_default_result_file", "run", TINY_ARGS,
         results={"exe:out.txt": TINY_PARAMETERS}),
    case("run_default_result_file_under_executable_directory", "run", TINY_ARGS,
         launch=EXE_DIR, results={"exe:out.txt": TINY_PARAMETERS}),
    case("run_outfile_last_names_no_file", "run", TINY_ARGS + ["--outfile"],
         status=FAIL, stderr=cannot_write("")),
    case("run_empty_test_text_gives_parameter_output", "run",
         TINY_ARGS + ["--outfile", "r.txt", "--inputtest", ""],
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("run_blank_test_text_gives_parameter_output", "run",
         TINY_ARGS + ["--outfile", "r.txt", "--inputtest", "   "],
         results={"cwd:r.txt": TINY_PARAMETERS}),

    # --- Both forms of the result file. ---
    case("result_parameters_tiny_whole_stdout", "results",
         TINY_ARGS + ["--outfile", "r.txt"], stdout=Golden("parameters_tiny.stdout"),
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("result_prediction_tiny_whole_stdout", "results",
         TINY_ARGS + ["--inputtest", TINY_TEST, "--outfile", "r.txt"],
         stdout=Golden("prediction_tiny.stdout"), results={"cwd:r.txt": TINY_PREDICTION}),
    case("result_parameters_exact_rotation_and_scale", "results",
         ["--inputsrc", ROT_SRC, "--inputdes", ROT_DES, "--outfile", "r.txt"],
         results={"cwd:r.txt": lines(
             "args=0.000000,0.000000,0.000000,0.003000,0.002000,0.001000,0.500000",
             "avesrc=400.000000,400.000000,200.000000",
             "avetar=610.000000,620.300000,329.400000")}),
    case("result_prediction_exact_rotation_and_scale", "results",
         ["--inputsrc", ROT_SRC, "--inputdes", ROT_DES, "--inputtest", ROT_TEST,
          "--outfile", "r.txt"],
         stdout=REPORT, results={"cwd:r.txt": prediction(ROT_SRC, ROT_DES, ROT_TEST,
                                                         ROT_OUTPUT)}),
    case("result_parameters_ecef", "results",
         ["--inputsrc", ECEF_SRC, "--inputdes", ECEF_DES, "--outfile", "r.txt"],
         results={"cwd:r.txt": ECEF_PARAMETERS}),
    # The input texts are repeated with their spaces; "output=" has none.
    case("result_prediction_ecef_texts_repeated_as_given", "results",
         ["--inputsrc", ECEF_SRC_SPACED, "--inputdes", ECEF_DES_SPACED,
          "--inputtest", ECEF_TEST_SPACED, "--outfile", "r.txt"],
         stdout=REPORT, results={"cwd:r.txt": prediction(
             ECEF_SRC_SPACED, ECEF_DES_SPACED, ECEF_TEST_SPACED, ECEF_OUTPUT)}),
    case("result_earlier_file_replaced_whole", "results",
         TINY_ARGS + ["--outfile", "r.txt"],
         files={"cwd:r.txt": b"an earlier, much longer result file\n" * 10},
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("result_file_in_a_subdirectory", "results",
         TINY_ARGS + ["--outfile", "sub/r.txt"], files={"cwd:sub": DIRECTORY},
         results={"cwd:sub/r.txt": TINY_PARAMETERS}),

    # --- Every error path: a message naming the input, status -1, no file. ---
    case("error_result_file_in_missing_directory", "errors",
         TINY_ARGS + ["--outfile", "missing/r.txt"],
         status=FAIL, stderr=cannot_write("missing/r.txt")),
    # The report is printed in full before the failure is reported.
    case("error_result_file_unwritable_with_test_points", "errors",
         TINY_ARGS + ["--inputtest", TINY_TEST, "--outfile", "missing/r.txt"],
         status=FAIL, stdout=REPORT, predicted=TINY_OUTPUT.encode(),
         stderr=cannot_write("missing/r.txt")),
    case("error_outfile_given_empty", "errors", ["--outfile", ""] + TINY_ARGS,
         status=FAIL, stderr=cannot_write("")),
    # Both lists are bad: the source is read first and reported.
    case("error_source_field_not_a_number", "errors",
         ["--inputsrc", "0,0,0,abc,0,0,0,10,0,0,0,10", "--inputdes", "1,x", "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b'sevenparam: src field 4 "abc": invalid stod argument\n'),
    case("error_target_field_empty", "errors",
         ["--inputsrc", TINY_SRC, "--inputdes", "100,,300,110,200,300,100,210,300,100,200,310",
          "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b'sevenparam: des field 2 "": invalid stod argument\n'),
    # Spaces are removed before the field is taken, so the message shows it
    # without them.
    case("error_test_field_out_of_range", "errors",
         TINY_ARGS + ["--inputtest", "1, 2, 3 e999", "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b'sevenparam: test field 3 "3e999": stod argument out of range\n'),
    case("error_test_point_incomplete", "errors",
         TINY_ARGS + ["--inputtest", "1,2,3,4,5,6,7", "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b"sevenparam: test holds 7 values, not whole points of 3\n"),
    case("error_source_not_whole_points", "errors",
         ["--inputsrc", TINY_SRC + ",5", "--inputdes", TINY_DES, "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b"source list holds 13 values, not whole points of 3\n"),
    case("error_unequal_point_counts", "errors",
         ["--inputsrc", TINY_SRC, "--inputdes", "100,200,300,110,200,300,100,210,300",
          "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b"source and target hold different numbers of points: 4 and 3\n"),
    case("error_too_few_points", "errors",
         ["--inputsrc", "0,0,0,10,0,0", "--inputdes", "100,200,300,110,200,300",
          "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b"too few common points: 2 (at least 3 are needed)\n"),
    # Collinear points make the normal matrix singular inside the loop: the
    # listing so far stays, no result file is written.
    case("error_collinear_points", "errors",
         ["--inputsrc", "0,0,0,1,1,1,2,2,2", "--inputdes", "1,1,1,2,2,2,3,3,3",
          "--outfile", "r.txt"],
         status=FAIL, stdout=PARTIAL,
         stderr=b"the normal matrix is singular or rank-deficient (reciprocal condition "
                b"number 0 below 1e-10): the common points are coincident or collinear\n"),

    # --- Profile inputs. ---
    # Written on Windows (CR LF), with a comment and blanks around "=".
    case("profile_in_current_directory", "profile",
         ["--inputfile", "p.ini", "--outfile", "r.txt"],
         files={"cwd:p.ini": ("; common points\r\nsrc = " + ROT_SRC + "\r\ndes=" + ROT_DES +
                              "\r\ntest= " + ROT_TEST + " \r\n").encode()},
         stdout=REPORT,
         results={"cwd:r.txt": prediction(ROT_SRC, ROT_DES, ROT_TEST, ROT_OUTPUT)}),
    case("profile_found_under_executable_directory", "profile",
         ["--inputfile", "p.ini", "--outfile", "r.txt"], launch=EXE_DIR,
         files={"exe:p.ini": lines("src=" + TINY_SRC, "des=" + TINY_DES)},
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("profile_in_current_directory_tried_first", "profile",
         ["--inputfile", "p.ini", "--outfile", "r.txt"], launch=EXE_DIR,
         files={"cwd:p.ini": lines("src=" + TINY_SRC, "des=" + TINY_DES),
                "exe:p.ini": lines("src=" + TINY_DES, "des=" + TINY_SRC)},
         results={"cwd:r.txt": TINY_PARAMETERS}),
    # Complete lists on the command line do not save a run whose profile is
    # missing.
    case("profile_missing", "profile",
         ["--inputfile", "nowhere.ini"] + TINY_ARGS + ["--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY),
    case("profile_values_win_over_command_line", "profile",
         ["--inputfile", "p.ini", "--inputsrc", TINY_DES, "--inputdes", TINY_SRC,
          "--outfile", "r.txt"],
         files={"cwd:p.ini": lines("src=" + TINY_SRC, "des=" + TINY_DES)},
         results={"cwd:r.txt": TINY_PARAMETERS}),
    case("profile_empty_values_filled_from_command_line", "profile",
         ["--inputfile", "p.ini", "--inputsrc", TINY_SRC, "--inputdes", TINY_SRC,
          "--inputtest", TINY_TEST, "--outfile", "r.txt"],
         files={"cwd:p.ini": lines("src=", "des=" + TINY_DES)},
         stdout=REPORT, results={"cwd:r.txt": TINY_PREDICTION}),
    Case("profile_named_section_ignored", "profile",
         files={"cwd:p.ini": lines("[points]", "src=" + TINY_DES, "des=" + TINY_SRC)},
         runs=[Run(["--inputfile", "p.ini", "--outfile", "r.txt"],
                   status=FAIL, stdout=ECHO_ONLY),
               Run(["--inputfile", "p.ini"] + TINY_ARGS + ["--outfile", "r.txt"],
                   results={"cwd:r.txt": TINY_PARAMETERS})]),
    # The prediction output reads back as a profile and gives the same run.
    Case("profile_round_trip_of_prediction_output", "profile",
         runs=[Run(["--inputsrc", ECEF_SRC_SPACED, "--inputdes", ECEF_DES_SPACED,
                    "--inputtest", ECEF_TEST_SPACED, "--outfile", "first.txt"],
                   stdout=REPORT, results={"cwd:first.txt": prediction(
                       ECEF_SRC_SPACED, ECEF_DES_SPACED, ECEF_TEST_SPACED, ECEF_OUTPUT)}),
               Run(["--inputfile", "first.txt", "--outfile", "second.txt"],
                   stdout=REPORT, results={"cwd:second.txt": SameAs("cwd:first.txt")})]),
]


# --- Robustness of the data's path around the estimation. ---

def cannot_read_whole(key, option, profile="p.ini"):
    return (f"sevenparam: {key} in '{profile}' is longer than 32767 bytes; "
            f"give it with {option} instead\n").encode()


# 900 points in 36 kB: more than one profile value holds (about 800 points).
LONG_LIST = ",".join(f"{-2154143.6091 + i:.4f},{4318986.5342 - i:.4f},{4131969.2493 + 2 * i:.4f}"
                     for i in range(900))
assert len(LONG_LIST) > 32767

# 50,000 entries before the three keys, and a later duplicate that the first
# match never sees.
LARGE_PROFILE = ("".join(f"key{i} = {i},{i},{i}\n" for i in range(50000)) +
                 "src = " + TINY_SRC + "\ndes = " + TINY_DES + "\ntest = " + TINY_TEST +
                 "\nsrc = " + TINY_DES + "\n").encode()

# Line breaks and form feeds where a field may hold white space.
TINY_SRC_BROKEN = "0,0,0,\n10,0,0,\r\n0,10,0,\f0,0,10"
TINY_TEST_BROKEN = "2.5,2.5,2.5\r\n,1,2,3\n"

TINY_PROFILE = lines("src=" + TINY_SRC, "des=" + TINY_DES, "test=" + TINY_TEST)
PROFILE_RUN = ["--inputfile", "p.ini", "--outfile", "r.txt"]
SAME_FILE = (b"sevenparam: result file '%s' is the profile file the lists were read from; "
             b"give another --outfile\n")
STDOUT_FAILED = b"sevenparam: cannot write standard output\n"


def expect_outcome(session, outcome, status=0, stderr=b"", files=None):
    """Judges (status, stdout, stderr) of Session.run, and the working
    directory: exactly `files` (name -> expected bytes, "\\n" line ends),
    nothing else, no temporary file left behind."""
    code, _, err = outcome
    expect(code == status & 0xFF, f"exit status {code}, expected {status & 0xFF}; stderr {err!r}")
    expect(err == session.console(stderr), f"stderr {err!r}, expected {stderr!r}")
    files = files or {}
    cwd = session.path("cwd:")
    present = sorted(p.name for p in cwd.iterdir())
    expect(present == sorted(files), f"files {present}, expected {sorted(files)}")
    for name, content in files.items():
        actual = (cwd / name).read_bytes()
        expect(actual == session.file(content), f"{name} holds {actual[:300]!r}")


def profile_through_stdin(session):
    outcome = session.run(["--inputfile", "/dev/stdin", "--outfile", "r.txt"],
                          stdin_bytes=TINY_PROFILE)
    expect_outcome(session, outcome, files={"r.txt": TINY_PREDICTION})


def profile_through_pipe_descriptor(session):
    # What a shell's "<(cat p.ini)" hands over: a pipe under /dev/fd.
    read_end, write_end = os.pipe()
    os.write(write_end, TINY_PROFILE)
    os.close(write_end)
    try:
        proc = session.start(["--inputfile", f"/dev/fd/{read_end}", "--outfile", "r.txt"],
                             pass_fds=(read_end,))
    finally:
        os.close(read_end)
    expect_outcome(session, session.finish(proc), files={"r.txt": TINY_PREDICTION})


def profile_through_fifo(session):
    fifo = session.path("cwd:p.fifo")
    os.mkfifo(fifo)
    proc = session.start(["--inputfile", "p.fifo", "--outfile", "r.txt"])
    # The writer's open waits for the program's; a non-blocking open fails
    # until then, so it is retried until a deadline instead of hanging.
    deadline = time.monotonic() + 30
    while True:
        try:
            fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
            break
        except OSError as e:
            if not (e.errno == errno.ENXIO and time.monotonic() < deadline and proc.poll() is None):
                proc.kill()
                session.finish(proc)
                raise CheckFailed(f"the program never opened the FIFO: {e}") from None
            time.sleep(0.01)
    os.set_blocking(fd, True)
    os.write(fd, TINY_PROFILE)
    os.close(fd)
    # A program that opens the FIFO a second time waits there for ever.
    outcome = session.finish(proc)
    os.remove(fifo)
    expect_outcome(session, outcome, files={"r.txt": TINY_PREDICTION})


def concurrent_writers(session):
    """Pairs of runs writing the same result file at once, each file big
    enough to take several writes: the file afterwards is always one run's
    whole output, and both runs succeed."""
    tests = {name: ",".join(f"{i % 97 + 0.25},{i % 89 + 0.5},{i % 83 + 0.75}" for i in range(400))
             for name in ("a", "b")}
    runs = {"a": TINY_ARGS + ["--inputtest", tests["a"]],
            "b": ["--inputsrc", ROT_SRC, "--inputdes", ROT_DES, "--inputtest", tests["b"]]}
    expected = {}
    for name, args in runs.items():
        code, _, err = session.run(args + ["--outfile", name + ".txt"], stdout=subprocess.DEVNULL)
        expect(code == 0, f"single run {name}: status {code}, stderr {err!r}")
        expected[name] = session.path(f"cwd:{name}.txt").read_bytes()
        os.remove(session.path(f"cwd:{name}.txt"))
    # Many tries, bounded in time: Wine starts programs far more slowly.
    pairs, started = 0, time.monotonic()
    while pairs < 60 and (pairs < 8 or time.monotonic() - started < 30):
        procs = [session.start(args + ["--outfile", "r.txt"], stdout=subprocess.DEVNULL)
                 for args in runs.values()]
        for proc in procs:
            code, _, err = session.finish(proc)
            expect(code == 0, f"pair {pairs + 1}: status {code}, {err!r}")
        content = session.path("cwd:r.txt").read_bytes()
        expect(content in expected.values(),
               f"pair {pairs + 1}: r.txt is neither run's output ({len(content)} bytes)")
        present = sorted(p.name for p in session.path("cwd:").iterdir())
        expect(present == ["r.txt"], f"pair {pairs + 1}: files {present}")
        pairs += 1


def result_through_symlink(session):
    # The link stays a link; the file it points to receives the result.
    link = session.path("cwd:link.txt")
    os.symlink("real.txt", link)
    outcome = session.run(TINY_ARGS + ["--outfile", "link.txt"])
    expect(link.is_symlink(), "the link was replaced by a file")
    os.remove(link)
    expect_outcome(session, outcome, files={"real.txt": TINY_PARAMETERS})


def profile_linked_as_result(session):
    (session.path("cwd:p.ini")).write_bytes(TINY_PROFILE)
    os.symlink("p.ini", session.path("cwd:link.txt"))
    outcome = session.run(["--inputfile", "p.ini", "--outfile", "link.txt"])
    os.remove(session.path("cwd:link.txt"))
    expect_outcome(session, outcome, status=FAIL, stderr=SAME_FILE % b"link.txt",
                   files={"p.ini": TINY_PROFILE})


def result_to_null_device(session):
    # A device is written in place: there is no file to replace beside it.
    device = "NUL" if session.windows else "/dev/null"
    expect_outcome(session, session.run(TINY_ARGS + ["--outfile", device]))


def closed_standard_output(session):
    # The reader is gone before the first line: every write fails.
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        proc = session.start(TINY_ARGS + ["--inputtest", TINY_TEST, "--outfile", "r.txt"],
                             stdout=write_end)
    finally:
        os.close(write_end)
    expect_outcome(session, session.finish(proc), status=FAIL, stderr=STDOUT_FAILED,
                   files={"r.txt": TINY_PREDICTION})


def full_standard_output(session):
    with open("/dev/full", "wb") as full:
        outcome = session.run(TINY_ARGS + ["--outfile", "r.txt"], stdout=full)
    expect_outcome(session, outcome, status=FAIL, stderr=STDOUT_FAILED,
                   files={"r.txt": TINY_PARAMETERS})


ROBUSTNESS_CASES = [
    # A cut value would be a smaller network or a changed number.
    case("profile_cut_source_value", "profile_cut", PROFILE_RUN,
         files={"cwd:p.ini": lines("src=" + LONG_LIST, "des=" + TINY_DES)},
         status=FAIL, stdout=ECHO_ONLY, stderr=cannot_read_whole("src", "--inputsrc")),
    case("profile_cut_target_value", "profile_cut", PROFILE_RUN + ["--inputsrc", TINY_SRC],
         files={"cwd:p.ini": lines("des=" + LONG_LIST)},
         status=FAIL, stdout=ECHO_ONLY, stderr=cannot_read_whole("des", "--inputdes")),
    case("profile_cut_test_value", "profile_cut", PROFILE_RUN,
         files={"cwd:p.ini": lines("src=" + TINY_SRC, "des=" + TINY_DES, "test=" + LONG_LIST)},
         status=FAIL, stdout=ECHO_ONLY, stderr=cannot_read_whole("test", "--inputtest")),

    case("profile_of_50000_entries", "profile_large", PROFILE_RUN,
         files={"cwd:p.ini": LARGE_PROFILE}, stdout=REPORT,
         results={"cwd:r.txt": TINY_PREDICTION}),

    Case("profile_through_standard_input", "profile_pipe", [], check=profile_through_stdin,
         posix_only=True),
    Case("profile_through_pipe_descriptor", "profile_pipe", [],
         check=profile_through_pipe_descriptor, posix_only=True),
    Case("profile_through_named_fifo", "profile_pipe", [], check=profile_through_fifo,
         posix_only=True),

    # The texts lose their line breaks, not a value: the file reads back as
    # the same run.
    Case("result_texts_with_line_breaks_round_trip", "result_one_line",
         runs=[Run(["--inputsrc", TINY_SRC_BROKEN, "--inputdes", TINY_DES,
                    "--inputtest", TINY_TEST_BROKEN, "--outfile", "first.txt"],
                   stdout=REPORT, results={"cwd:first.txt": prediction(
                       "0,0,0,10,0,0,0,10,0,0,0,10", TINY_DES, "2.5,2.5,2.5,1,2,3",
                       TINY_OUTPUT)}),
               Run(["--inputfile", "first.txt", "--outfile", "second.txt"],
                   stdout=REPORT, results={"cwd:second.txt": SameAs("cwd:first.txt")})]),

    Case("result_concurrent_writers", "result_replace", [], check=concurrent_writers),
    Case("result_through_symbolic_link", "result_replace", [], check=result_through_symlink,
         posix_only=True),
    Case("result_to_the_null_device", "result_replace", [], check=result_to_null_device),

    # Under Wine too: the Windows program then writes to the host's pipe or
    # device, and the signal is the host's.
    Case("stdout_closed_pipe", "stdout_failure", [], check=closed_standard_output),
    Case("stdout_full_device", "stdout_failure", [], check=full_standard_output),

    case("test_point_infinite", "test_points_finite", TINY_ARGS + ["--inputtest", "inf,0,0"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b"sevenparam: test point 1 has a coordinate that is not finite: X = inf\n"),
    case("test_point_nan", "test_points_finite",
         TINY_ARGS + ["--inputtest", "1,2,3,4,-nan,6", "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b"sevenparam: test point 2 has a coordinate that is not finite: Y = -nan\n"),
    # Scale 1.5 carries 1.7e308 past the largest double.
    case("test_point_carried_past_the_largest_double", "test_points_finite",
         ["--inputsrc", ROT_SRC, "--inputdes", ROT_DES, "--inputtest", "1,2,3,1.7e308,0,0",
          "--outfile", "r.txt"],
         status=FAIL, stdout=PARTIAL,
         stderr=b"sevenparam: test point 2 is carried to a coordinate that is not finite: "
                b"X = inf\n"),

    case("result_is_the_profile", "result_is_profile",
         ["--inputfile", "p.ini", "--outfile", "p.ini"], files={"cwd:p.ini": TINY_PROFILE},
         status=FAIL, stdout=ECHO_ONLY, stderr=SAME_FILE % b"p.ini"),
    case("result_is_the_profile_by_another_name", "result_is_profile",
         ["--inputfile", "p.ini", "--outfile", "./p.ini"], files={"cwd:p.ini": TINY_PROFILE},
         status=FAIL, stdout=ECHO_ONLY, stderr=SAME_FILE % b"./p.ini"),
    Case("result_is_the_profile_through_a_link", "result_is_profile", [],
         check=profile_linked_as_result, posix_only=True),

    case("message_shows_a_short_excerpt_of_a_long_field", "message_excerpt",
         TINY_ARGS[:2] + ["--inputdes", "1" * 10000, "--outfile", "r.txt"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b'sevenparam: des field 1 "' + b"1" * 40 +
                b'...": stod argument out of range\n'),
    case("message_escapes_control_bytes", "message_excerpt",
         TINY_ARGS + ["--inputtest", "1,2,3\x1b[2J\x07\x7f\n4"],
         status=FAIL, stdout=ECHO_ONLY,
         stderr=b'sevenparam: test field 3 "3\\x1B[2J\\x07\\x7F\\x0A4": '
                b'invalid stod argument\n'),
]
CASES += ROBUSTNESS_CASES
