"""The CLI cases of sevenparam-report, run by run_cli_tests.py --cases
report_cli_cases.

The machinery (Case, Run, placing files, comparing files) is that of
cli_cases.py; the program has no argument echo, so every run states its
standard output with one of the checks below. Data: the ten ECEF points of
cli_cases.py, as number lists and as point files.
"""

import os
import re
from dataclasses import dataclass

import cli_cases as cc
from cli_cases import Case, Run, SameAs

USAGE, DATA = 2, 1
PROGRAM = "sevenparam-report"


@dataclass
class Contains:
    """Output (or a file) holding each part; parts hold no line end."""
    parts: list

    def check(self, actual, _convert=None):
        missing = [p for p in self.parts if p not in actual]
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


def case(name, group, args, status=0, stdout=NOTHING, stderr=b"", results=None, files=None):
    return Case(name, group, [Run(args, status=status, stdout=stdout, stderr=stderr,
                                  results=results or {})], files or FILES)


def fails(name, group, args, status, message, files=None):
    return case(name, group, args, status=status, stderr=message, files=files)


# Points in coordinate reference systems: the Linux build has CRS support
# (through PROJ), the Windows build has none and refuses the options.
def crs_case(name, args, status, message, files=None):
    c = fails(name, "report_crs", args, status, message, files)
    c.posix_only = True
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
    fails("report_sigma_not_positive", "report_options", POINT_FILES + ["--sigma", "0"], USAGE,
          error('--sigma "0": must be a positive number')),
    fails("report_sigma_not_a_number", "report_options", POINT_FILES + ["--sigma", "2mm"],
          USAGE, error('--sigma "2mm": not a number')),
    fails("report_rotation_unknown", "report_options", POINT_FILES + ["--rotation", "small"],
          USAGE, error('--rotation "small": must be linearised or exact')),
    fails("report_exclude_empty_name", "report_options", POINT_FILES + ["--exclude", "E01,"],
          USAGE, error("--exclude: empty point name")),
    fails("report_two_outputs_one_file", "report_options",
          POINT_FILES + ["--output", "r.txt", "--json", "r.txt"], USAGE,
          error("--output and --json both name 'r.txt'")),
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
    Case("report_crs_outputs", "report_crs", files=GK_EXAMPLE, posix_only=True, runs=[
        Run(["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4547", "--src-file", "gk-xian1980.txt",
             "--des-file", "gk-cgcs2000.txt", "--test-file", "gk-new.txt", "--output", "r.txt",
             "--json", "r.json", "--html", "r.html", "--wkt", "op.wkt", "--projjson", "op.json",
             "--geojson", "map.geojson"], stdout=NOTHING,
            results={"cwd:r.txt": Contains([b"(EPSG:2383), projected", b"(EPSG:4547), projected",
                                            b"v Northing (m)", b"N1     3381113.5593",
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
    case("report_crs_refused_without_proj", "report_crs", CRS_GK + OUTPUTS, status=USAGE,
         stderr=error("this build of sevenparam-report has no CRS support (it was built "
                      "without PROJ): --src-crs, --des-crs, --east-first, --wkt, --projjson "
                      "and --geojson cannot be used"), files=CRS_FILES),

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
    fails("report_output_unwritable", "report_data",
          POINT_FILES + ["--json", "r.json", "--output", "missing/r.txt"], DATA,
          error("--output 'missing/r.txt': cannot write: No such file or directory")),

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
]
CASES[[c.name for c in CASES].index("report_crs_refused_without_proj")].windows_only = True
