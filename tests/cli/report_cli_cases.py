"""The CLI cases of sevenparam-report, run by run_cli_tests.py --cases
report_cli_cases.

The machinery (Case, Run, placing files, comparing files) is that of
cli_cases.py; the program has no argument echo, so every run states its
standard output with one of the checks below. Data: the ten ECEF points of
cli_cases.py, as number lists and as point files.
"""

import json
import math
import os
import random
import re
import resource
import shutil
import signal
import socket
import subprocess
import threading
import time
from dataclasses import dataclass

import cli_cases as cc
from cli_cases import Case, Run, SameAs, expect

USAGE, DATA = 2, 1
PROGRAM = "sevenparam-report"


@dataclass
class Contains:
    """Output (or a file) holding each part, its "\\n" standing for the
    platform's line end."""
    parts: list

    def check(self, actual, convert=None):
        parts = [convert(p) for p in self.parts] if convert else self.parts
        missing = [p for p, q in zip(self.parts, parts) if q not in actual]
        return f"lacks {missing!r} in {actual[:300]!r}" if missing else None


@dataclass
class Matches:
    """Output matching a regular expression (bytes, "." matching line ends
    too), its "\\n" standing for the platform's line end."""
    pattern: bytes

    def check(self, actual, convert):
        pattern = convert(self.pattern.replace(rb"\n", b"\n"))
        return None if re.fullmatch(pattern, actual, re.DOTALL) else f"{actual[:300]!r}"


NOTHING = Matches(b"")


def error(message):
    return f"{PROGRAM}: {message}\n".encode()


def usage(message):
    return error(message + " (see --help)")


def point_file(values, names=None):
    """A point file from a number list, one point a line, with names or without."""
    numbers = values.split(",")
    lines = []
    for i in range(0, len(numbers), 3):
        name = [names[i // 3]] if names else []
        lines.append(" ".join(name + numbers[i:i + 3]))
    return ("\n".join(lines) + "\n").encode()


NAMES = [f"E{i:02d}" for i in range(1, 11)]
FILES = {"cwd:src.txt": point_file(cc.ECEF_SRC), "cwd:des.txt": point_file(cc.ECEF_DES),
         "cwd:test.txt": point_file(cc.ECEF_TEST),
         "cwd:named-src.txt": point_file(cc.ECEF_SRC, NAMES),
         "cwd:named-des.txt": point_file(cc.ECEF_DES, NAMES)}
LISTS = ["--inputsrc", cc.ECEF_SRC, "--inputdes", cc.ECEF_DES]
POINT_FILES = ["--src-file", "src.txt", "--des-file", "des.txt"]
# Any failing run below would leave these files if it wrote anything.
OUTPUTS = ["--output", "r.txt", "--json", "r.json", "--html", "r.html"]


def case(name, group, args, status=0, stdout=NOTHING, stderr=b"", results=None, files=None,
         posix_only=False):
    return Case(name, group, [Run(args, status=status, stdout=stdout, stderr=stderr,
                                  results=results or {})], files or FILES,
                posix_only=posix_only)


def fails(name, group, args, status, message, files=None, posix_only=False):
    return case(name, group, args, status=status, stderr=message, files=files,
                posix_only=posix_only)


LINE_LIMIT = 1 << 20  # bytes of a point-file line
TOO_LONG = b" longer than 1048576 bytes, the most a line of a point file may hold"


def expect_failure(session, outcome, status, stderr):
    """A run that failed with `status` and exactly the line `stderr`, leaving
    nothing but the case's own files."""
    code, out, err = outcome
    cc.expect(code == status, f"exit status {code}, expected {status}; stderr {err!r}")
    cc.expect(err == session.console(stderr), f"stderr {err!r}, expected {stderr!r}")
    present = sorted(p.name for p in session.path("cwd:").iterdir())
    cc.expect(present == sorted(n.partition(":")[2] for n in FILES),
              f"files {present}")
    return out


def out_of_memory_while_reading(session):
    # An endless point file through a pipe under a memory limit: the run once
    # ended by an uncaught std::bad_alloc, status 134 and no message.
    import resource
    limit = 256 << 20

    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    proc = session.start(["--src-file", "/dev/stdin", "--des-file", "des.txt"] + OUTPUTS,
                         stdin=subprocess.PIPE, preexec_fn=limited)

    def feed():
        lines = b"1 2 3\n" * 100000
        try:
            while True:
                proc.stdin.write(lines)
        except (BrokenPipeError, ValueError, OSError):
            pass

    writer = threading.Thread(target=feed, daemon=True)
    writer.start()
    try:
        code, err = proc.wait(timeout=120), proc.stderr.read()
    finally:
        if proc.poll() is None:
            proc.kill()
        writer.join(timeout=10)
        proc.stdout.close()
        proc.stderr.close()
    expect_failure(session, (code, b"", err), DATA,
                   error("/dev/stdin: out of memory while reading"))


def closed_standard_output(session):
    # The reader is gone before the first byte (as "| head -c 10" soon is):
    # the run once ended by SIGPIPE, status 141 and no message.
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        proc = session.start(POINT_FILES, stdout=write_end)
    finally:
        os.close(write_end)
    code, _, err = session.finish(proc)
    cc.expect(code == DATA, f"exit status {code}, expected {DATA}; stderr {err!r}")
    cc.expect(err.startswith(b"sevenparam-report: ") and b"cannot write to standard output" in err
              and err.count(b"\n") == 1, f"stderr {err!r}")


def unopenable_profile(session):
    # A socket exists but cannot be opened: that is no missing profile, and
    # the message says why it gave nothing.
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        sock.bind(str(session.path("cwd:p.ini")))
        outcome = session.run(["--inputfile", "p.ini"] + OUTPUTS)
    finally:
        sock.close()
        os.remove(session.path("cwd:p.ini"))
    expect_failure(session, outcome, DATA, error(
        "--inputfile 'p.ini' cannot be opened (No such device or address) and --inputsrc "
        "gives no src either"))


MIRRORED = (b"the target is mirrored against the source, so no rotation fits it: are two "
            b"axes swapped?")
MIRRORED_LINE = b"sevenparam-report: warning: " + MIRRORED + b"\n"



def turned(values, angle):
    """Points turned by `angle` (rad) about Z through their centroid."""
    v = [float(x) for x in values.split(",")]
    pts = [v[i:i + 3] for i in range(0, len(v), 3)]
    cx, cy = (sum(p[k] for p in pts) / len(pts) for k in (0, 1))
    c, s = math.cos(angle), math.sin(angle)
    return ",".join(f"{cx + c * (x - cx) + s * (y - cy):.4f},{cy - s * (x - cx) + c * (y - cy):.4f},"
                    f"{z:.4f}" for x, y, z in pts)


TURNED_DES = turned(cc.ECEF_SRC, 2e-4)
LINEARISATION = (b"the small-angle rotation departs from the exact one by up to 3.86 mm at the "
                 b"common points, above 0.1 mm: the linearised model limits this result; "
                 b"--rotation exact removes the limit")

# Points in coordinate reference systems, in every build with CRS support
# (through PROJ); a build without it refuses the options.
def crs_case(name, args, status, message, files=None):
    c = fails(name, "report_crs", args, status, message, files)
    c.needs_crs = True
    return c


GK_SRC = cc.lines("A 3461186.5394 444286.6035", "B 3402565.5509 462472.7795",
                  "C 3451300.0974 523120.1081", "D 3480000.0 500000.0")
GEOG = cc.lines("A 31.2 113.4 10", "B 95.0 113.6 10", "C 30.9 114.3 10", "D 30.4 113.9 10")
CRS_FILES = {"cwd:gk.txt": GK_SRC, "cwd:geog.txt": GEOG}
# The worked example of the README: Xian 1980 and CGCS2000 Gauss-Kruger.
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
GK_EXAMPLE = {"cwd:" + name: open(os.path.join(EXAMPLES, name), "rb").read()
              for name in ("gk-xian1980.txt", "gk-cgcs2000.txt", "gk-new.txt")}
CRS_GK = ["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4547", "--src-file", "gk.txt",
          "--des-file", "gk.txt"]


def wkt_read_back(session):
    projinfo = shutil.which("projinfo")
    if projinfo is None:
        print("skip  report_crs_wkt_read_back: no projinfo on this machine (Debian: proj-bin)")
        return
    code, _, err = session.run(["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4547",
                                "--src-file", "gk-xian1980.txt", "--des-file", "gk-cgcs2000.txt",
                                "--wkt", "op.wkt", "--output", "r.txt"])
    expect((code, err) == (0, b""), f"{code} {err!r}")
    read = subprocess.run([projinfo, "-o", "PROJ", "@" + str(session.path("cwd:op.wkt"))],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    expect(read.returncode == 0 and b"+proj=helmert" in read.stdout
           and b"+convention=coordinate_frame" in read.stdout,
           f"projinfo: {read.returncode} {read.stdout[-300:]!r} {read.stderr[-300:]!r}")


def with_columns(points, columns, others=None):
    """A point file with `columns` (bytes) after every point's coordinates, or
    for the 1-based lines in `others` the columns given there."""
    others = others or {}
    return b"".join(line + (b" " if others.get(i, columns) else b"") + others.get(i, columns)
                    + b"\n" for i, line in enumerate(points.splitlines(), 1))


def network_points(name):
    """The point lines of the example network's file `name`, comments left out."""
    text = open(os.path.join(EXAMPLES, name), "rb").read()
    return b"\n".join(line for line in text.splitlines() if line and not line.startswith(b"#"))


# Point files with precisions: standard deviations in both systems and a
# covariance for the test points.
PRECISION_FILES = {**FILES,
                   "cwd:src-s.txt": with_columns(FILES["cwd:src.txt"], b"0.01 0.01 0.02"),
                   "cwd:des-s.txt": with_columns(FILES["cwd:des.txt"], b"0.003 0.003 0.005"),
                   "cwd:test-q.txt": with_columns(FILES["cwd:test.txt"],
                                                  b"1e-4 0 0 1e-4 0 4e-4")}
SIGMA_FILES = ["--src-file", "src-s.txt", "--des-file", "des-s.txt"]
SIGMA_BESIDE_OWN = "cannot be given with {}, which gives its points' own precisions"
NO_FACTOR = ": with precisions the a-priori variance factor is 1"
NEEDS_BOTH = ("--variance-components needs precisions of both the source and the target "
              "points, and the {} points have none: give ")


def precision_case(name, args, status, message, files=None):
    return fails(name, "report_precision", args, status, message, files or PRECISION_FILES)


REPORT_PARTS = [b"Summary", b"common points                10", b"Residuals v = target",
                b"+towgs84=", b"+proj=molobadekas"]

CASES = [
    # --- The command line. ---
    case("report_help", "report_options", ["--help"],
         stdout=Contains([b"Usage: sevenparam-report", b"--src-file FILE", b"--rotation MODEL",
                          b"Exit status: 0 success, 1 bad data or failed estimation, 2 usage"])),
    case("report_version", "report_options", ["--version"],
         stdout=Matches(rb"sevenparam-report [0-9]+(\.[0-9]+)+\n")),
    fails("report_unknown_option", "report_options", POINT_FILES + ["--bogus"], USAGE,
          usage("The following argument was not expected: --bogus")),
    fails("report_stray_argument", "report_options", POINT_FILES + ["stray"], USAGE,
          usage("The following argument was not expected: stray")),
    fails("report_option_without_value", "report_options", POINT_FILES + ["--output"], USAGE,
          usage("--output: 1 required FILE missing")),
    fails("report_alpha_out_of_range", "report_options", POINT_FILES + ["--alpha", "1"], USAGE,
          error('--alpha "1": must lie between 0 and 1')),
    # A number below the smallest double was called "not a number".
    fails("report_alpha_below_the_smallest_double", "report_options",
          POINT_FILES + ["--alpha", "1e-400"], USAGE,
          error('--alpha "1e-400": out of the range of a double (about 5e-324 to 1.8e308)')),
    fails("report_sigma_not_positive", "report_options", POINT_FILES + ["--sigma", "0"], USAGE,
          error('--sigma "0": must be a positive number')),
    fails("report_sigma_not_a_number", "report_options", POINT_FILES + ["--sigma", "2mm"],
          USAGE, error('--sigma "2mm": not a number')),
    fails("report_rotation_unknown", "report_options", POINT_FILES + ["--rotation", "small"],
          USAGE, error('--rotation "small": must be linearised or exact')),
    fails("report_exclude_empty_name", "report_options", POINT_FILES + ["--exclude", "E01,"],
          USAGE, error("--exclude: empty point name")),
    fails("report_alpha_and_family", "report_options",
          POINT_FILES + ["--alpha", "0.01", "--alpha-family", "0.05"], USAGE,
          error("--alpha and --alpha-family cannot be given together")),
    fails("report_alpha_family_out_of_range", "report_options",
          POINT_FILES + ["--alpha-family", "1"], USAGE,
          error('--alpha-family "1": must lie between 0 and 1')),
    fails("report_threads_zero", "report_options", POINT_FILES + ["--threads", "0"], USAGE,
          error('--threads "0": must be a whole number from 1 to 1024')),
    fails("report_threads_not_a_number", "report_options", POINT_FILES + ["--threads", "2x"],
          USAGE, error('--threads "2x": must be a whole number from 1 to 1024')),
    fails("report_two_outputs_one_file", "report_options",
          POINT_FILES + ["--output", "r.txt", "--json", "r.txt"], USAGE,
          error("--output 'r.txt' and --json 'r.txt' name the same file")),
    fails("report_html_to_standard_output", "report_options", POINT_FILES + ["--html", "-"],
          USAGE, error("--html: needs a file name")),

    # --- Coordinate reference systems: usage errors name the option and
    # PROJ's reason; a point PROJ cannot convert names its file and line. ---
    crs_case("report_crs_unknown", ["--src-crs", "EPSG:99999"] + CRS_GK[2:] + OUTPUTS, USAGE,
             error("--src-crs 'EPSG:99999': not a CRS PROJ knows (PROJ: proj_create: crs not "
                   "found)"), files=CRS_FILES),
    crs_case("report_crs_engineering", ["--des-crs", 'ENGCRS["site",EDATUM["d"],'
                                        'CS[Cartesian,2],AXIS["x",east],AXIS["y",north],'
                                        'LENGTHUNIT["metre",1]]', "--src-crs", "EPSG:4547",
                                        "--src-file", "gk.txt", "--des-file", "gk.txt"]
             + OUTPUTS, USAGE,
             error('--des-crs \'ENGCRS["site",EDATUM["d"],CS[Cartesian,2],AXIS["x",east],'
                   'AXIS["y",north],LENGTHUNIT["metre",1]]\': a CRS without a geodetic datum '
                   "(an engineering, vertical or other CRS): its points have no place on an "
                   "ellipsoid"), files=CRS_FILES),
    crs_case("report_crs_one_side_only", ["--src-crs", "EPSG:2383"] + POINT_FILES + OUTPUTS,
             USAGE, error("--src-crs needs both --src-crs and --des-crs")),
    crs_case("report_crs_output_without_crs", POINT_FILES + ["--wkt", "op.wkt"] + OUTPUTS,
             USAGE, error("--wkt needs both --src-crs and --des-crs")),
    crs_case("report_crs_geoid_needed", ["--src-crs", "EPSG:7405"] + CRS_GK[2:] + OUTPUTS,
             USAGE, error("--src-crs 'EPSG:7405': its heights need a geoid model to become "
                          "ellipsoidal heights, and PROJ has none installed for it (it needs "
                          "uk_os_OSGM15_GB.tif, uk_os_OSTN15_NTv2_OSGBtoETRS.tif); give the "
                          "horizontal CRS with ellipsoidal heights instead"), files=CRS_FILES),
    crs_case("report_crs_latitude_beyond_90", ["--src-crs", "EPSG:4490", "--des-crs",
                                               "EPSG:4490", "--src-file", "geog.txt",
                                               "--des-file", "geog.txt"] + OUTPUTS, DATA,
             error("geog.txt line 2: EPSG:4490 cannot carry this point to geocentric "
                   "coordinates (PROJ: cart: Invalid latitude)"), files=CRS_FILES),
    crs_case("report_crs_heights_for_some", CRS_GK + OUTPUTS, DATA,
             error("gk.txt line 2: a third number (ellipsoidal height), where line 1 gives "
                   "none: give it for every point or for none"),
             files={"cwd:gk.txt": GK_SRC.replace(b"462472.7795", b"462472.7795 12.5")}),
    # Every output of a CRS run names both CRSs; the operation files and the
    # map layer are written beside the reports.
    Case("report_crs_outputs", "report_crs", files=GK_EXAMPLE, needs_crs=True, runs=[
        Run(["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4547", "--src-file", "gk-xian1980.txt",
             "--des-file", "gk-cgcs2000.txt", "--test-file", "gk-new.txt", "--output", "r.txt",
             "--json", "r.json", "--html", "r.html", "--wkt", "op.wkt", "--projjson", "op.json",
             "--geojson", "map.geojson"], stdout=NOTHING,
            results={"cwd:r.txt": Contains([b"(EPSG:2383), projected", b"(EPSG:4547), projected",
                                            b"v Northing (m)",
                                            b"N1     3381113.5593  480750.9655    203.8252",
                                            b"N2     3442124.3804  533331.5222    278.7487",
                                            b"(EPSG:9607)", b"+proj=pipeline"]),
                     "cwd:r.json": Contains([b'"code": "EPSG:2383"', b'"code": "EPSG:4547"',
                                             b'"target_crs_coordinates"', b'"operation_wkt"']),
                     "cwd:r.html": Contains([b"Coordinate reference systems",
                                             b"CGCS2000 / 3-degree Gauss-Kruger CM 114E (EPSG:4547)"]),
                     "cwd:op.wkt": Contains([b'COORDINATEOPERATION["Xian 1980 / 3-degree',
                                             b'OPERATIONACCURACY[0.0055]']),
                     "cwd:op.json": Contains([b'"type": "Transformation"']),
                     "cwd:map.geojson": Contains([b'"type": "FeatureCollection"',
                                                  b'"name": "GK06", "role": "common"',
                                                  b'"name": "N2", "role": "test"'])}),
    ]),
    # The WKT a build writes is read back by PROJ's projinfo on this machine,
    # whichever system the program ran on.
    Case("report_crs_wkt_read_back", "report_crs", [], check=lambda s: wkt_read_back(s),
         files=GK_EXAMPLE, needs_crs=True),
    case("report_crs_refused_without_proj", "report_crs", CRS_GK + OUTPUTS, status=USAGE,
         stderr=error("this build of sevenparam-report has no CRS support (it was built "
                      "without PROJ): --src-crs, --des-crs, --east-first, --wkt, --projjson "
                      "and --geojson cannot be used"), files=CRS_FILES),

    # --- Precisions: the option values, and the options the inputs
    # contradict, are usage errors; a file giving precisions on some lines
    # only is bad data. ---
    precision_case("report_src_sigma_not_positive", POINT_FILES + ["--src-sigma", "0"] + OUTPUTS,
                   USAGE, error('--src-sigma "0": must be a positive number')),
    precision_case("report_des_sigma_not_finite", POINT_FILES + ["--des-sigma", "inf"] + OUTPUTS,
                   USAGE, error('--des-sigma "inf": must be a positive number')),
    precision_case("report_robust_unknown", POINT_FILES + ["--robust", "tukey"] + OUTPUTS, USAGE,
                   error('--robust "tukey": must be huber or danish')),
    precision_case("report_src_sigma_beside_columns",
                   ["--src-file", "src-s.txt", "--des-file", "des.txt", "--src-sigma", "0.01"]
                   + OUTPUTS, USAGE, error("--src-sigma " + SIGMA_BESIDE_OWN.format("src-s.txt"))),
    precision_case("report_des_sigma_beside_columns", SIGMA_FILES + ["--des-sigma", "0.01"]
                   + OUTPUTS, USAGE, error("--des-sigma " + SIGMA_BESIDE_OWN.format("des-s.txt"))),
    # The test points are in the source system.
    precision_case("report_src_sigma_beside_test_columns",
                   POINT_FILES + ["--test-file", "test-q.txt", "--src-sigma", "0.01"] + OUTPUTS,
                   USAGE, error("--src-sigma " + SIGMA_BESIDE_OWN.format("test-q.txt"))),
    # Settled by the options alone, before any file is read.
    precision_case("report_sigma_beside_src_sigma",
                   ["--src-file", "nowhere.txt", "--des-file", "des.txt", "--sigma", "0.002",
                    "--src-sigma", "0.01"] + OUTPUTS, USAGE,
                   error("--sigma cannot be given with --src-sigma" + NO_FACTOR)),
    precision_case("report_sigma_beside_columns", SIGMA_FILES + ["--sigma", "0.002"] + OUTPUTS,
                   USAGE,
                   error("--sigma cannot be given with the precisions src-s.txt gives" + NO_FACTOR)),
    precision_case("report_variance_components_lists_one_system",
                   LISTS + ["--variance-components", "--src-sigma", "0.01"] + OUTPUTS, USAGE,
                   error(NEEDS_BOTH.format("target") + "--des-sigma")),
    precision_case("report_variance_components_files_one_system",
                   ["--src-file", "src-s.txt", "--des-file", "des.txt", "--variance-components"]
                   + OUTPUTS, USAGE,
                   error(NEEDS_BOTH.format("target") + "standard deviations or covariances as "
                         "columns of des.txt, or --des-sigma")),
    precision_case("report_variance_components_robust",
                   SIGMA_FILES + ["--variance-components", "--robust", "huber"] + OUTPUTS, USAGE,
                   error("--variance-components cannot be given with --robust: the blunders "
                         "would spoil the components, and the weights the variance factors")),
    precision_case("report_precisions_on_some_lines", SIGMA_FILES + OUTPUTS, DATA,
                   error("des-s.txt line 4: no precisions, where line 1 gives 3 standard "
                         "deviations: give precisions for every point or for none"),
                   files={**PRECISION_FILES, "cwd:des-s.txt": with_columns(
                       FILES["cwd:des.txt"], b"0.003 0.003 0.005", {4: b""})}),
    precision_case("report_covariance_not_semidefinite",
                   POINT_FILES + ["--test-file", "test-q.txt"] + OUTPUTS, DATA,
                   error('test-q.txt line 2: the covariance "1e-4 3e-4 0 1e-4 0 4e-4" (qxx qxy '
                         'qxz qyy qyz qzz) is not positive semidefinite'),
                   files={**PRECISION_FILES, "cwd:test-q.txt": with_columns(
                       FILES["cwd:test.txt"], b"1e-4 0 0 1e-4 0 4e-4",
                       {2: b"1e-4 3e-4 0 1e-4 0 4e-4"})}),
    # In a CRS the columns are along the file's own axes, and the same rules hold.
    crs_case("report_crs_src_sigma_beside_columns", CRS_GK + ["--src-sigma", "0.01"] + OUTPUTS,
             USAGE, error("--src-sigma " + SIGMA_BESIDE_OWN.format("gk.txt")),
             files={"cwd:gk.txt": with_columns(GK_SRC, b"0.01 0.01 0.03")}),
    # Precisions of both systems, and of the test points, with --src-sigma
    # for source points that give none: each run writes its report.
    case("report_precisions_accepted", "report_precision",
         SIGMA_FILES + ["--test-file", "test-q.txt", "--output", "r.txt"], files=PRECISION_FILES,
         results={"cwd:r.txt": Contains([b"Summary"])}),
    # Precisions of different shapes in the two systems: their factors can be
    # told apart, and the report is that of the refit.
    case("report_variance_components_accepted", "report_precision",
         ["--src-file", "src-v.txt", "--des-file", "des-v.txt", "--variance-components",
          "--json", "-"],
         files={**PRECISION_FILES,
                "cwd:src-v.txt": with_columns(network_points("network-src.txt"),
                                              b"0.003 0.003 0.003"),
                "cwd:des-v.txt": with_columns(network_points("network-des.txt"),
                                              b"0.004 0.004 0.002")},
         stdout=Contains([b'"variance_components": {', b'"source_factor": '])),
    case("report_src_sigma_accepted", "report_precision",
         ["--src-file", "src.txt", "--des-file", "des-s.txt", "--test-file", "test.txt",
          "--src-sigma", "0.01", "--robust", "danish", "--json", "-"],
         files=PRECISION_FILES, stdout=Contains([b'"common_points": 10'])),
    case("report_precision_help", "report_precision", ["--help"],
         stdout=Contains([b"--src-sigma S", b"--des-sigma S", b"--variance-components",
                          b"--robust ESTIMATOR"])),

    # --- Where the points come from. ---
    fails("report_no_points", "report_sources", OUTPUTS, USAGE,
          error("no common points: give --src-file and --des-file, or --inputsrc and "
                "--inputdes (or --inputfile)")),
    fails("report_lists_and_files_mixed", "report_sources",
          ["--inputsrc", cc.ECEF_SRC, "--des-file", "des.txt"] + OUTPUTS, USAGE,
          error("number lists (--inputsrc, --inputdes, --inputtest, --inputfile) and point "
                "files (--src-file, --des-file, --test-file) cannot be mixed")),
    fails("report_source_file_alone", "report_sources", ["--src-file", "src.txt"] + OUTPUTS,
          USAGE, error("point files come in pairs: give both --src-file and --des-file")),
    fails("report_target_list_missing", "report_sources",
          ["--inputsrc", cc.ECEF_SRC] + OUTPUTS, USAGE,
          error("no target points: give --inputdes, a profile (--inputfile) with key des, or "
                "point files (--src-file, --des-file)")),

    # --- Bad data: status 1, one line naming the input, nothing written. ---
    fails("report_point_file_missing", "report_data",
          ["--src-file", "src.txt", "--des-file", "nowhere.txt"] + OUTPUTS, DATA,
          error("nowhere.txt: cannot read: No such file or directory")),
    fails("report_point_file_malformed_line", "report_data", POINT_FILES + OUTPUTS, DATA,
          error('des.txt line 2: Z "4207762.66O9" is not a number'),
          files={**FILES, "cwd:des.txt": FILES["cwd:des.txt"].replace(b"4207762.6609",
                                                                        b"4207762.66O9")}),
    fails("report_point_names_disagree", "report_data",
          ["--src-file", "named-src.txt", "--des-file", "named-des.txt"] + OUTPUTS, DATA,
          error('common point 4 is named "E04" in named-src.txt line 4 but "E4" in '
                'named-des.txt line 4'),
          files={**FILES, "cwd:named-des.txt": FILES["cwd:named-des.txt"].replace(b"E04",
                                                                                 b"E4")}),
    fails("report_point_counts_differ", "report_data",
          ["--src-file", "src.txt", "--des-file", "test.txt"] + OUTPUTS, DATA,
          error("src.txt holds 10 points, test.txt holds 3: common points pair by order, so "
                "the counts must agree")),
    fails("report_list_field_not_a_number", "report_data",
          ["--inputsrc", cc.ECEF_SRC, "--inputdes", cc.ECEF_DES.replace("4319216.5447", "4e")]
          + OUTPUTS, DATA, error('--inputdes field 2 "4e": not a number')),
    fails("report_profile_missing", "report_data", ["--inputfile", "nowhere.ini"] + OUTPUTS,
          DATA, error("--inputfile 'nowhere.ini': no such file here or beside the program")),
    # A profile found but giving nothing once said only "no source points: give
    # --inputsrc ...", hiding that the profile was the problem.
    fails("report_profile_section_only", "report_data", ["--inputfile", "p.ini"] + OUTPUTS, DATA,
          error("--inputfile 'p.ini' gives no src (not a readable profile, or the key only "
                "under a [section]) and --inputsrc gives none either"),
          files={"cwd:p.ini": cc.lines("[net]", "src=" + cc.ECEF_SRC, "des=" + cc.ECEF_DES)}),
    fails("report_profile_field_bad", "report_data", ["--inputfile", "p.ini"] + OUTPUTS, DATA,
          error('profile p.ini key test field 3 "x": not a number'),
          files={"cwd:p.ini": cc.lines("src=" + cc.ECEF_SRC, "des=" + cc.ECEF_DES,
                                       "test=1,2,x")}),
    fails("report_too_few_points", "report_data",
          ["--inputsrc", "0,0,0,1,0,0", "--inputdes", "0,0,0,1,0,0"] + OUTPUTS, DATA,
          error("--inputsrc and --inputdes hold 2 common points: at least 3 are needed")),
    fails("report_collinear_points", "report_data",
          ["--inputsrc", "0,0,0,1,1,1,2,2,2,3,3,3", "--inputdes", "1,1,1,2,2,2,3,3,3,4,4,4"]
          + OUTPUTS, DATA,
          error("--inputsrc and --inputdes: the normal matrix is singular or rank-deficient (reciprocal condition number "
                "0 below 1e-10): the common points are coincident or collinear")),
    fails("report_exclude_unknown_point", "report_data",
          POINT_FILES + ["--exclude", "Q"] + OUTPUTS, DATA,
          error("src.txt and des.txt: the point to leave out 'Q' is neither the name of a common point nor a "
                "number from 1 to 10")),
    # Once reported as success, with inf in the text and null in the JSON.
    fails("report_test_point_carried_to_infinity", "report_data",
          POINT_FILES + ["--test-file", "far.txt"] + OUTPUTS, DATA,
          error('src.txt and des.txt: test point 2 "T2" is carried to a coordinate that is not '
                'finite: X = inf'),
          files={**FILES, "cwd:far.txt": b"T1 0 0 0\nT2 1.7976931348623157e308 0 0\n"}),
    fails("report_output_unwritable", "report_data",
          POINT_FILES + ["--json", "r.json", "--output", "missing/r.txt"], DATA,
          error("--output 'missing/r.txt': cannot write: No such file or directory")),

    # Unbounded or overlong lines, and memory running out.
    fails("report_point_file_without_line_ends", "report_limits",
          ["--src-file", "/dev/zero", "--des-file", "des.txt"] + OUTPUTS, DATA,
          b"sevenparam-report: /dev/zero line 1:" + TOO_LONG + b"\n", posix_only=True),
    fails("report_point_file_line_too_long", "report_limits", POINT_FILES + OUTPUTS, DATA,
          b"sevenparam-report: des.txt line 2:" + TOO_LONG + b"\n",
          files={**FILES, "cwd:des.txt": b"1 2 3\n# " + b"x" * (LINE_LIMIT - 1) + b"\n"}),
    Case("report_out_of_memory_while_reading", "report_limits", [],
         check=out_of_memory_while_reading, files=FILES, posix_only=True, unsanitized_only=True),
    Case("report_closed_standard_output", "report_limits", [], check=closed_standard_output,
         files=FILES),
    Case("report_profile_cannot_be_opened", "report_data", [], check=unopenable_profile,
         files=FILES, posix_only=True),

    # --- Messages. ---
    # A missing Z was reported as "a point without a name".
    fails("report_point_file_missing_coordinate", "report_messages",
          ["--src-file", "named-src.txt", "--des-file", "named-des.txt"] + OUTPUTS, DATA,
          error('named-des.txt line 2: point "E02" holds 2 numbers where X Y Z are needed'),
          files={**FILES, "cwd:named-des.txt": re.sub(rb"(\nE02 \S+ \S+) \S+", rb"\1",
                                                       FILES["cwd:named-des.txt"])}),
    # Empty file names once failed as unreadable files, status 1.
    fails("report_empty_source_file_name", "report_messages",
          ["--src-file", "", "--des-file", "des.txt"] + OUTPUTS, USAGE,
          error("--src-file: empty file name")),
    fails("report_empty_test_file_name", "report_messages",
          POINT_FILES + ["--test-file", ""] + OUTPUTS, USAGE,
          error("--test-file: empty file name")),
    # Control bytes in a path or a name are shown, not sent to the terminal.
    # (No Windows file name holds an escape byte.)
    Case("report_message_escapes_a_path", "report_messages", posix_only=True, files=FILES, runs=[
        Run(["--src-file", "s\x1b[2J.txt", "--des-file", "des.txt"] + OUTPUTS, status=DATA,
            stdout=NOTHING, stderr=error("s\\x1B[2J.txt: cannot read: No such file or directory"))]),
    fails("report_message_escapes_a_name", "report_messages",
          POINT_FILES + ["--exclude", "E\x07\x7f"] + OUTPUTS, DATA,
          error("src.txt and des.txt: the point to leave out 'E\\x07\\x7F' is neither the "
                "name of a common point nor a number from 1 to 10")),

    # --- Runs that succeed. ---
    # Number lists, a profile and point files give the same report.
    Case("report_lists_profile_and_files_agree", "report_runs", files={
        **FILES, "cwd:p.ini": cc.lines("src=" + cc.ECEF_SRC, "des=" + cc.ECEF_DES,
                                       "test=" + cc.ECEF_TEST)}, runs=[
        Run(LISTS + ["--inputtest", cc.ECEF_TEST, "--output", "a.txt", "--json", "a.json"],
            stdout=NOTHING, results={"cwd:a.txt": Contains(REPORT_PARTS),
                                     "cwd:a.json": Contains([b'"common_points": 10'])}),
        Run(["--inputfile", "p.ini", "--output", "b.txt", "--json", "b.json"], stdout=NOTHING,
            results={"cwd:b.txt": SameAs("cwd:a.txt"), "cwd:b.json": SameAs("cwd:a.json")}),
        Run(POINT_FILES + ["--test-file", "test.txt", "--output", "c.txt", "--json", "c.json"],
            stdout=NOTHING,
            results={"cwd:c.txt": SameAs("cwd:a.txt"), "cwd:c.json": SameAs("cwd:a.json")}),
    ]),
    case("report_text_to_standard_output", "report_runs", POINT_FILES,
         stdout=Contains(REPORT_PARTS)),
    # "--json -" takes standard output for itself.
    case("report_json_to_standard_output", "report_runs", POINT_FILES + ["--json", "-"],
         stdout=Matches(rb'\{\n  "program": "sevenparam-report",\n.*\n\}\n')),
    # GBK names: bytes as given in the text, UTF-8 in the JSON.
    case("report_gbk_names", "report_runs",
         ["--src-file", "named-src.txt", "--des-file", "des.txt", "--output", "r.txt",
          "--json", "r.json", "--exclude", "3"],
         files={**FILES, "cwd:named-src.txt": FILES["cwd:named-src.txt"].replace(
             b"E", "\u70b9".encode("gbk"))},
         results={"cwd:r.txt": Contains(["\u70b903".encode("gbk"), b"given with --exclude"]),
                  "cwd:r.json": Contains(['"name": "\u70b903"'.encode(), b'"reason": "option"',
                                          '"name": "\u70b910"'.encode()])}),
    # Point files from Windows (CR LF, comments); the page beside the text.
    case("report_crlf_point_files_and_html", "report_runs",
         ["--src-file", "named-src.txt", "--des-file", "named-des.txt", "--output", "r.txt",
          "--html", "r.html"],
         files={**FILES,
                "cwd:named-src.txt": b"# source\r\n" +
                FILES["cwd:named-src.txt"].replace(b"\n", b" # ok\r\n"),
                "cwd:named-des.txt": FILES["cwd:named-des.txt"].replace(b"\n", b"\r\n")},
         results={"cwd:r.txt": Contains([b"E10  "]), "cwd:r.html": Contains([b"<svg"])}),
    case("report_exact_rotation_and_snooping", "report_runs",
         POINT_FILES + ["--rotation", "exact", "--snoop", "--sigma", "0.002", "--json", "-"],
         stdout=Contains([b'"rotation": "exact"', b'"kind": "w"', b'"global": {'])),
    # --- Warnings: at the top of every report and on standard error; status 0. ---
    # A target with X and Y swapped once "succeeded" with sigma0 of 100 km and
    # nothing said.
    case("report_mirrored_target", "report_warnings",
         ["--src-file", "src.txt", "--des-file", "swapped.txt", "--rotation", "exact",
          "--output", "r.txt", "--json", "r.json", "--html", "r.html"],
         files={**FILES, "cwd:swapped.txt": point_file(",".join(
             v for i in range(0, len(cc.ECEF_DES.split(",")), 3)
             for v in [cc.ECEF_DES.split(",")[i + 1], cc.ECEF_DES.split(",")[i],
                       cc.ECEF_DES.split(",")[i + 2]]))},
         stderr=MIRRORED_LINE,
         results={"cwd:r.txt": Matches(rb"[^\n]*\n\nSummary\n(  [^\n]*\n)*  WARNING: "
                                       + re.escape(MIRRORED) + rb"\n\nParameters.*"),
                  "cwd:r.json": Contains([b'"warnings": [\n    "' + MIRRORED + b'"\n  ],',
                                          b'"mirrored": true']),
                  "cwd:r.html": Contains([b"<h2>Summary</h2>\n<p class=\"warning\">Warning: "
                                          + MIRRORED + b"</p>"])}),
    # The sound example: no warning anywhere.
    case("report_no_warning", "report_warnings", POINT_FILES + ["--json", "-"],
         stdout=Contains([b'"warnings": [],', b'"mirrored": false',
                          b'"linearisation_warning": false'])),
    # A rotation of 40 arc-seconds: the small-angle model misses the exact one
    # by millimetres, said at the top and on standard error.
    case("report_linearisation_warning", "report_warnings",
         ["--inputsrc", cc.ECEF_SRC, "--inputdes", TURNED_DES, "--output", "r.txt"],
         stderr=b"sevenparam-report: warning: " + LINEARISATION + b"\n",
         results={"cwd:r.txt": Matches(rb"[^\n]*\n\nSummary\n(  [^\n]*\n)*  WARNING: "
                                       + re.escape(LINEARISATION) + rb"\n\nParameters.*")}),
    # Levels that once ended with Boost's raw "Overflow Error" and status 1.
    *[case(f"report_alpha_{alpha}", "report_runs",
           POINT_FILES + ["--alpha", alpha, "--sigma", "0.002", "--json", "-"],
           stdout=Contains([f'"alpha": {alpha},'.encode(),
                            f'"critical_value": {critical}'.encode()]))
      for alpha, critical in [("1e-16", "8.30478542519411"), ("1e-300", "37.0657878807721"),
                              ("0.9999999999999999", "1.39145821233588")]],
    # A repeated --exclude once kept only its first value: both ways of
    # naming two points leave out both.
    Case("report_exclude_repeated", "report_runs", files=FILES, runs=[
        Run(["--src-file", "named-src.txt", "--des-file", "named-des.txt", "--exclude", "E03",
             "--exclude", "E05", "--json", "a.json"], stdout=Contains([b"Summary"]),
            results={"cwd:a.json": Contains([b'"common_points": 8,'])}),
        Run(["--src-file", "named-src.txt", "--des-file", "named-des.txt", "--exclude",
             "E03,E05", "--json", "b.json"], stdout=Contains([b"Summary"]), results={"cwd:b.json": SameAs("cwd:a.json")})]),
    # By number up to the last point: --exclude 10 of 10 leaves out E10.
    case("report_exclude_the_last_point_by_number", "report_runs",
         ["--src-file", "named-src.txt", "--des-file", "named-des.txt", "--exclude", "10",
          "--json", "-"],
         stdout=Contains([b'"common_points": 9,', b'"excluded": [\n    {\n      "name": "E10",'])),
    # The target's axes in cyclic order (Y, Z, X): a rotation with ey = 90
    # degrees, once refused as "coincident or collinear" by the exact model.
    case("report_exact_rotation_at_ey_of_90_degrees", "report_runs",
         ["--src-file", "src.txt", "--des-file", "cyclic.txt", "--rotation", "exact",
          "--json", "-"],
         files={**FILES, "cwd:cyclic.txt": point_file(",".join(
             v for i in range(0, len(cc.ECEF_DES.split(",")), 3)
             for v in [cc.ECEF_DES.split(",")[i + 1], cc.ECEF_DES.split(",")[i + 2],
                       cc.ECEF_DES.split(",")[i]]))},
         # sigma0 as with the axes in their order: 2.90e-05 m.
         stdout=Matches(rb'.*"warnings": \[\],\n  "mirrored": false,.*'
                        rb'"sigma0": 2\.90[0-9]*e-05,.*"ey": 1\.5707.*')),
]

# --- How outputs are written. ---
KEEP = b"the user's own file\n"


def same_file(option_a, path_a, option_b, path_b, input_=False):
    return error(f"{option_a} '{path_a}' and {option_b} '{path_b}' name the same file"
                 + (": an output may not replace an input" if input_ else ""))


def refused_with_link(session):
    """Outputs that are one file under two names, through a link or through
    /dev/stdout: status 2, and nothing written anywhere."""
    for name, data in FILES.items():
        session.path(name).write_bytes(data)
    session.path("cwd:keep.txt").write_bytes(KEEP)
    os.symlink("keep.txt", session.path("cwd:link.txt"))
    for args, message in [
            (["--output", "link.txt", "--json", "keep.txt"],
             same_file("--output", "link.txt", "--json", "keep.txt")),
            (["--output", "/dev/stdout", "--json", "-"],
             same_file("--output", "/dev/stdout", "--json", "-")),
            (["--html", "link.txt", "--src-file", "src.txt", "--des-file", "keep.txt"],
             same_file("--html", "link.txt", "--des-file", "keep.txt", input_=True))]:
        code, out, err = session.run(([] if "--src-file" in args else POINT_FILES) + args)
        expect((code, out, err) == (USAGE, b"", message), f"{args}: {code} {out[:80]!r} {err!r}")
        expect(session.path("cwd:keep.txt").read_bytes() == KEEP, f"{args}: keep.txt changed")
    expect(session.path("cwd:link.txt").is_symlink(), "the link was replaced")


def written_through_link_and_kept(session):
    """A link's file is replaced and the link stays; the file's mode is kept;
    a run that fails at a later output leaves the file behind the link as it
    was; a long name (250 bytes) is no problem for the temporary."""
    for name, data in FILES.items():
        session.path(name).write_bytes(data)
    real = session.path("cwd:real.txt")
    real.write_bytes(KEEP)
    os.chmod(real, 0o600)
    os.symlink("real.txt", session.path("cwd:link.txt"))
    code, _, err = session.run(POINT_FILES + ["--output", "link.txt", "--json", "nodir/r.json"])
    expect((code, err) == (DATA, error("--json 'nodir/r.json': cannot write: No such file or "
                                       "directory")), f"failed run: {code} {err!r}")
    expect(real.read_bytes() == KEEP, "a failed run wrote through the link")
    long_name = "n" * 246 + ".txt"
    code, _, err = session.run(POINT_FILES + ["--output", "link.txt", "--json", long_name])
    expect((code, err) == (0, b""), f"run: {code} {err!r}")
    expect(session.path("cwd:link.txt").is_symlink(), "the link was replaced")
    expect(b"Residuals v = target" in real.read_bytes(), "the linked file holds no report")
    expect(real.stat().st_mode & 0o777 == 0o600, f"mode {real.stat().st_mode & 0o777:o}")
    present = sorted(p.name for p in session.path("cwd:").iterdir())
    expect(present == sorted([n.split(":")[1] for n in FILES] + ["link.txt", "real.txt",
                                                                 long_name]),
           f"files {present}")


def read_only_output_refused(session):
    if os.geteuid() == 0:
        print("skip  report_read_only_output: root may write any file, so there is no "
              "read-only file to refuse")
        return
    for name, data in FILES.items():
        session.path(name).write_bytes(data)
    locked = session.path("cwd:locked.txt")
    locked.write_bytes(KEEP)
    os.chmod(locked, 0o444)
    code, _, err = session.run(POINT_FILES + ["--output", "locked.txt"])
    expect((code, err) == (DATA, error("--output 'locked.txt': cannot write: Permission denied")),
           f"{code} {err!r}")
    expect(locked.read_bytes() == KEEP, "the read-only file was replaced")


def network_files(count, shift):
    """Point files of `count` points, the target shifted by `shift` metres."""
    src = "".join(f"P{i} {4e6 + i * 7.25:.4f} {3e6 - i * 3.5:.4f} {1e6 + (i * i) % 977:.4f}\n"
                  for i in range(count))
    des = "".join(f"P{i} {4e6 + i * 7.25 + shift:.4f} {3e6 - i * 3.5:.4f} "
                  f"{1e6 + (i * i) % 977 + (i % 3) * 1e-3:.4f}\n" for i in range(count))
    return src.encode(), des.encode()


def concurrent_reports(session):
    """Pairs of runs writing the same reports at once: each file afterwards is
    one run's whole output, and no temporary is left."""
    runs = {}
    for name, shift in (("a", 10.0), ("b", -20.0)):
        src, des = network_files(3000, shift)
        session.path(f"cwd:{name}-src.txt").write_bytes(src)
        session.path(f"cwd:{name}-des.txt").write_bytes(des)
        runs[name] = ["--src-file", f"{name}-src.txt", "--des-file", f"{name}-des.txt"]
    expected = {}
    for name, args in runs.items():
        code, _, err = session.run(args + ["--output", "r.txt", "--json", "r.json"])
        expect(code == 0, f"single run {name}: {code} {err!r}")
        expected[name] = (session.path("cwd:r.txt").read_bytes(),
                          session.path("cwd:r.json").read_bytes())
    inputs = sorted(p.name for p in session.path("cwd:").iterdir())
    pairs, started = 0, time.monotonic()
    while pairs < 20 and (pairs < 4 or time.monotonic() - started < 20):
        procs = [session.start(args + ["--output", "r.txt", "--json", "r.json"])
                 for args in runs.values()]
        for proc in procs:
            code, _, err = session.finish(proc)
            expect(code == 0, f"pair {pairs + 1}: status {code}, {err!r}")
        text = session.path("cwd:r.txt").read_bytes()
        json = session.path("cwd:r.json").read_bytes()
        expect(text in [e[0] for e in expected.values()], f"pair {pairs + 1}: r.txt is mixed")
        expect(json in [e[1] for e in expected.values()], f"pair {pairs + 1}: r.json is mixed")
        present = sorted(p.name for p in session.path("cwd:").iterdir())
        expect(present == inputs, f"pair {pairs + 1}: files {present}")
        pairs += 1


def limit_file_size():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))


def failed_write_leaves_nothing(session):
    """A write that fails part way (the file-size limit) leaves the old
    outputs and no temporary; a run killed at any moment leaves no
    temporary either."""
    for name, data in FILES.items():
        session.path(name).write_bytes(data)
    session.path("cwd:r.txt").write_bytes(KEEP)
    before = sorted(p.name for p in session.path("cwd:").iterdir())
    proc = session.start(POINT_FILES + ["--output", "r.txt", "--json", "r.json"],
                         preexec_fn=limit_file_size)
    code, _, err = session.finish(proc)
    expect((code, err) == (DATA, error("--output 'r.txt': cannot write: File too large")),
           f"{code} {err!r}")
    expect(session.path("cwd:r.txt").read_bytes() == KEEP, "r.txt changed")
    present = sorted(p.name for p in session.path("cwd:").iterdir())
    expect(present == before, f"files {present}")
    src, des = network_files(20000, 1.0)
    session.path("cwd:big-src.txt").write_bytes(src)
    session.path("cwd:big-des.txt").write_bytes(des)
    before = sorted(p.name for p in session.path("cwd:").iterdir())
    for delay in (0.05, 0.15, 0.3):
        proc = session.start(["--src-file", "big-src.txt", "--des-file", "big-des.txt",
                              "--output", "k.txt", "--json", "k.json", "--html", "k.html"])
        time.sleep(delay)
        proc.kill()
        session.finish(proc)
        present = sorted(p.name for p in session.path("cwd:").iterdir())
        expect(present in (before, sorted(before + ["k.txt", "k.json", "k.html"])),
               f"killed after {delay} s: files {present}")
        for name in ("k.txt", "k.json", "k.html"):
            if session.path("cwd:" + name).exists():
                os.remove(session.path("cwd:" + name))


def scattered_network(count, blunders):
    """Point files of `count` points scattered over 200 km, the target
    carried by a small rotation and scale with a millimetre of seeded noise,
    and 0.1 m added to X of the points named in `blunders`."""
    rng = random.Random(count)
    src, des, test = [], [], []
    for i in range(count):
        x, y, z = (4027894.0 + rng.uniform(-1e5, 1e5), 307045.0 + rng.uniform(-1e5, 1e5),
                   4919474.0 + rng.uniform(-5e3, 5e3))
        s = 1 + 4e-6
        tx = s * (x + 7e-6 * y + 3e-6 * z) - 120.5 + rng.gauss(0, 0.001)
        ty = s * (-7e-6 * x + y - 2e-6 * z) + 85.25 + rng.gauss(0, 0.001)
        tz = s * (-3e-6 * x + 2e-6 * y + z) + 410.75 + rng.gauss(0, 0.001)
        name = f"P{i + 1}"
        tx += 0.1 if name in blunders else 0
        src.append(f"{name} {x:.4f} {y:.4f} {z:.4f}\n")
        des.append(f"{name} {tx:.4f} {ty:.4f} {tz:.4f}\n")
        if i % 1000 == 0:
            test.append(f"T{i} {x + 1:.4f} {y - 1:.4f} {z:.4f}\n")
    return "".join(src).encode(), "".join(des).encode(), "".join(test).encode()


def same_bytes_on_any_thread_count(session):
    """40,000 points, more than one chunk of the passes and many blocks of
    rows, with three planted 0.1 m blunders, snooped at a familywise 5 %:
    1, 2 and 7 threads write the same bytes in every report, and exactly the
    three blunders go."""
    blunders = ["P7", "P20000", "P39998"]
    for name, data in zip(("src", "des", "test"), scattered_network(40000, blunders)):
        session.path(f"cwd:{name}.txt").write_bytes(data)
    outputs = {}
    for threads in ("1", "2", "7"):
        args = ["--src-file", "src.txt", "--des-file", "des.txt", "--test-file", "test.txt",
                "--snoop", "--alpha-family", "0.05", "--threads", threads,
                "--output", f"r{threads}.txt", "--json", f"r{threads}.json",
                "--html", f"r{threads}.html"]
        code, out, err = session.run(args)
        expect((code, out, err) == (0, b"", b""), f"{threads} threads: {code} {err!r}")
        outputs[threads] = [session.path(f"cwd:r{threads}.{kind}").read_bytes()
                            for kind in ("txt", "json", "html")]
    for threads in ("2", "7"):
        for kind, one, other in zip(("text", "JSON", "HTML"), outputs["1"], outputs[threads]):
            expect(one == other, f"the {kind} report of {threads} threads differs from 1 thread's")
    report = json.loads(outputs["1"][1])
    removed = [e["name"] for e in report["excluded"]]
    expect(sorted(removed) == sorted(blunders), f"removed {removed}")
    tests = report["tests"]
    expect(tests["alpha_family"] == 0.05 and abs(tests["alpha"] / 4.2747608919e-07 - 1) < 1e-9,
           f"tests {tests}")
    expect(b"familywise significance  0.05 over the 119991 tests" in outputs["1"][0],
           "the text report lacks the familywise significance")


def progress_on_request(session):
    """--progress: a line per step and per removal of data snooping on
    standard error, each with the seconds so far; the report as without it
    (every other case shows that standard error stays empty without it)."""
    blunders = ["P3"]
    for name, data in zip(("src", "des"), scattered_network(50, blunders)):
        session.path(f"cwd:{name}.txt").write_bytes(data)
    args = ["--src-file", "src.txt", "--des-file", "des.txt", "--snoop", "--sigma", "0.001"]
    code, quiet, err = session.run(args)
    expect((code, err) == (0, b""), f"{code} {err!r}")
    code, out, err = session.run(args + ["--progress"])
    steps = [r"reading the points", r"estimating and testing 50 common points",
             r"data snooping: removed P3 \(figure [0-9.]+, critical value 3\.29053\), 1 left "
             r"out, 49 points left", r"writing the reports", r"done"]
    pattern = "".join(rf"sevenparam-report: \[[0-9]+\.[0-9] s\] {step}" + "\n" for step in steps)
    expect(code == 0 and out == quiet, f"{code}: the report differs with --progress")
    expect(re.fullmatch(session.platform.console(pattern.encode()), err), f"{err!r}")


OUTPUT_CASES = [
    # Outputs that name one file in other spellings; outputs over inputs.
    fails("report_outputs_same_file_spelled_twice", "report_writes",
          POINT_FILES + ["--output", "keep.txt", "--json", "./keep.txt"], USAGE,
          same_file("--output", "keep.txt", "--json", "./keep.txt"),
          files={**FILES, "cwd:keep.txt": KEEP}),
    fails("report_output_over_source_file", "report_writes",
          POINT_FILES + ["--output", "src.txt"], USAGE,
          same_file("--output", "src.txt", "--src-file", "src.txt", input_=True)),
    fails("report_json_over_target_file", "report_writes",
          ["--src-file", "src.txt", "--des-file", "./des.txt", "--json", "des.txt"], USAGE,
          same_file("--json", "des.txt", "--des-file", "./des.txt", input_=True)),
    fails("report_html_over_profile", "report_writes",
          ["--inputfile", "p.ini", "--html", "p.ini"], USAGE,
          same_file("--html", "p.ini", "--inputfile", "p.ini", input_=True),
          files={**FILES, "cwd:p.ini": cc.lines("src=" + cc.ECEF_SRC, "des=" + cc.ECEF_DES)}),
    fails("report_wkt_over_crs_file", "report_writes",
          ["--src-crs", "src.wkt", "--des-crs", "EPSG:4547", "--src-file", "src.txt",
           "--des-file", "des.txt", "--wkt", "./src.wkt"], USAGE,
          same_file("--wkt", "./src.wkt", "--src-crs", "src.wkt", input_=True),
          files={**FILES, "cwd:src.wkt": b"EPSG:2383\n"}),
    Case("report_outputs_one_file_through_link", "report_writes", [], check=refused_with_link,
         posix_only=True),
    Case("report_output_through_link", "report_writes", [],
         check=written_through_link_and_kept, posix_only=True),
    Case("report_read_only_output", "report_writes", [], check=read_only_output_refused,
         posix_only=True),
    Case("report_concurrent_runs", "report_concurrent", [], check=concurrent_reports),
    Case("report_threads_same_bytes", "report_scale", [], check=same_bytes_on_any_thread_count),
    Case("report_progress_lines", "report_scale", [], check=progress_on_request),
    Case("report_failed_or_killed_write", "report_writes", [],
         check=failed_write_leaves_nothing, posix_only=True),
]

CASES += OUTPUT_CASES
CASES[[c.name for c in CASES].index("report_crs_refused_without_proj")].no_crs_only = True
