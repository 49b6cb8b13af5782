#!/usr/bin/env python3
"""Cross-checks of sevenparam-report in coordinate reference systems against
PROJ's own programs (cct, cs2cs, projinfo), GeographicLib's CartConvert and a
program loading the exported operation through proj_create and proj_trans
(crs_apply).

Cases (the argument after the programs):

geocentric
    Points in geographic, projected and geographic 3D CRSs (CGCS2000 in
    degrees, some in PROJ's sexagesimal form; CGCS2000 and Xian 1980
    Gauss-Krueger northing/easting; OSGB36 National Grid easting/northing),
    reported against their geocentric coordinates made by cct's
    +proj=cart on each CRS's ellipsoid (and by CartConvert for GRS80). The
    report must find the identity: every residual and every parameter below
    1e-6 m (arcsec, ppm), so the conversion to geocentric is cct's, without
    any datum shift (OSGB36 gets no OSTN15 grid). A point outside the CRS's
    area of use is counted in a warning.

recovery-projected
    Map coordinates made by cct from a known coordinate-frame set between
    Xian 1980 and CGCS2000 3-degree Gauss-Krueger zones (CM 114E), with
    heights. The report recovers the origin-based set to 1e-6 m, 1e-6",
    1e-6 ppm, east first as well, and against CGCS2000 geocentric
    coordinates (EPSG:1032 between geocentric CRSs, the pipeline converting
    the map coordinates around it). Its exports are read back: projinfo
    reads the WKT2 and PROJJSON; cct runs the pipeline on the source test
    points, and cct and crs_apply run the WKT on their geographic
    coordinates (cs2cs), reproducing the predictions to 0.1 mm.

recovery-geographic
    The same between Xian 1980 and CGCS2000 latitude/longitude (EPSG:9607),
    with heights, and from Xian 1980 (2D, with heights) to CGCS2000 3D
    (EPSG:1038, both taken as 3D); without heights, the same parameters as the geocentric
    report on cct's coordinates at height 0, and the report says so; and
    between WGS 84 and CGCS2000 geographic 3D (EPSG:1038), whose pipeline
    carries the heights too.

exact
    Geocentric CRSs turned by degrees: with --rotation exact the WKT and
    PROJJSON are withheld with the reason, --wkt fails with status 1, and
    the pipeline (with +exact) reproduces the predictions in cct.

Usage: report_crs_crosscheck.py SEVENPARAM_REPORT CCT CS2CS PROJINFO CARTCONVERT CRS_APPLY CASE
"""
import json
import os
import random
import subprocess
import sys
import tempfile

REPORT, CCT, CS2CS, PROJINFO, CARTCONVERT, CRS_APPLY, CASE = sys.argv[1:8]
M, ARCSEC, PPM = 1e-6, 1e-6, 1e-6
PREDICTION_M, PREDICTION_DEG = 1e-4, 1e-9

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL", what)


def run(args, stdin=None, status=0):
    proc = subprocess.run(args, input=stdin, capture_output=True, text=True)
    if proc.returncode != status:
        sys.exit(f"{args[0]} exited {proc.returncode}: {proc.stderr}")
    return proc


def cct(pipeline, rows, decimals=14, whole=False):
    """cct on `rows`; `pipeline` one argument when `whole` (a WKT), else split."""
    text = "".join(" ".join("%.15g" % v for v in row) + " 0\n" for row in rows)
    operation = [pipeline] if whole else pipeline.split()
    out = run([CCT, "-d", str(decimals)] + operation, text).stdout
    return [[float(v) for v in line.split()[:3]] for line in out.splitlines() if line.strip()]


def cs2cs(source, target, rows):
    text = "".join(" ".join("%.15g" % v for v in row) + "\n" for row in rows)
    out = run([CS2CS, "-f", "%.14f", source, target], text).stdout
    return [[float(v) for v in line.split()[:3]] for line in out.splitlines() if line.strip()]


def write(path, names, rows, decimals=14):
    with open(path, "w") as f:
        for name, row in zip(names, rows):
            f.write(name + " " + " ".join("%.*f" % (decimals, v) for v in row) + "\n")


def report(args, status=0):
    proc = run([REPORT] + args + ["--json", "-"], status=status)
    return json.loads(proc.stdout) if status == 0 else proc


def lonlat_points(n, seed, lon=(113.2, 114.8), lat=(30.0, 31.5), heights=True):
    random.seed(seed)
    return [[random.uniform(*lon), random.uniform(*lat),
             random.uniform(10, 900) if heights else 0.0] for _ in range(n)]


def tmerc(ellps, lon_0=114, x_0=500000, k=1, lat_0=0, y_0=0):
    return (f"+proj=tmerc +lat_0={lat_0} +lon_0={lon_0} +k={k} +x_0={x_0} +y_0={y_0} "
            f"+ellps={ellps}")


def set_of(r):
    bw = r["bursa_wolf"]
    return [bw[k] for k in ("tx_m", "ty_m", "tz_m", "rx_arcsec", "ry_arcsec", "rz_arcsec",
                            "s_ppm")]


def check_set(found, known, what):
    limits = [M] * 3 + [ARCSEC] * 3 + [PPM]
    bad = [(i, f, k) for i, (f, k, lim) in enumerate(zip(found, known, limits))
           if abs(f - k) > lim]
    check(not bad, f"{what}: parameters {found} differ from {known}: {bad}")


KNOWN = [-24.5, 112.3, 81.9, 0.21, -0.35, 1.12, 2.7]  # coordinate frame, m, arcsec, ppm
HELMERT = ("+proj=helmert +x=%r +y=%r +z=%r +rx=%r +ry=%r +rz=%r +s=%r "
           "+convention=coordinate_frame" % tuple(KNOWN))


def case_geocentric(work):
    names = [f"G{i}" for i in range(8)]
    points = lonlat_points(8, 1)
    xyz_grs80 = cct("+proj=cart +ellps=GRS80", points)
    # GeographicLib's figures for the same points: latitude, longitude, height.
    cart = run([CARTCONVERT, "-e", "6378137", "1/298.257222101", "-p", "10"],
               "".join("%.15g %.15g %.15g\n" % (p[1], p[0], p[2]) for p in points)).stdout
    xyz_geographiclib = [[float(v) for v in line.split()] for line in cart.splitlines()]
    worst = max(abs(a - b) for p, q in zip(xyz_grs80, xyz_geographiclib) for a, b in zip(p, q))
    check(worst < 1e-6, f"cct and CartConvert differ by {worst} m")

    # CGCS2000 latitude, longitude (degrees; two points sexagesimal).
    rows = [[p[1], p[0], p[2]] for p in points]
    with open(f"{work}/geog.txt", "w") as f:
        for i, (name, row) in enumerate(zip(names, rows)):
            if i < 2:
                def dms(v, pos, neg):
                    s = pos if v >= 0 else neg
                    v = abs(v)
                    d = int(v)
                    m = int((v - d) * 60)
                    sec = ((v - d) * 60 - m) * 60
                    return f"{d}d{m}'{sec:.8f}\"{s}"
                f.write(f"{name} {dms(row[0], 'N', 'S')} {dms(row[1], 'E', 'W')} {row[2]:.10f}\n")
            else:
                f.write(f"{name} {row[0]:.14f} {row[1]:.14f} {row[2]:.10f}\n")
    tries = [("EPSG:4490 degrees vs cct", "geog.txt", "EPSG:4490", xyz_grs80),
             ("EPSG:4490 degrees vs CartConvert", "geog.txt", "EPSG:4490", xyz_geographiclib)]
    # CGCS2000 and Xian 1980 Gauss-Krueger (northing, easting), OSGB36
    # National Grid (easting, northing) and CGCS2000 3D.
    gk = cct("+proj=pipeline +step " + tmerc("GRS80") + " +step +proj=axisswap +order=2,1",
             points)
    write(f"{work}/gk.txt", names, gk)
    tries.append(("EPSG:4547 northing/easting", "gk.txt", "EPSG:4547", xyz_grs80))
    xyz_krass = cct("+proj=cart +ellps=IAU76", points)
    xian = cct("+proj=pipeline +step " + tmerc("IAU76") + " +step +proj=axisswap +order=2,1",
               points)
    write(f"{work}/xian.txt", names, xian)
    tries.append(("EPSG:2383 Xian 1980 northing/easting", "xian.txt", "EPSG:2383", xyz_krass))
    uk = lonlat_points(8, 2, lon=(-5.0, 1.0), lat=(50.5, 57.0))
    bng = cct(tmerc("airy", lon_0=-2, x_0=400000, k=0.9996012717, lat_0=49, y_0=-100000), uk)
    write(f"{work}/bng.txt", names, bng)
    tries.append(("EPSG:27700 OSGB36 easting/northing, no OSTN15", "bng.txt", "EPSG:27700",
                  cct("+proj=cart +ellps=airy", uk)))
    tries.append(("EPSG:4480 CGCS2000 3D", "geog.txt", "EPSG:4480", xyz_grs80))
    for what, file, crs, xyz in tries:
        write(f"{work}/xyz.txt", names, xyz)
        r = report(["--src-crs", crs, "--des-crs", "EPSG:4978", "--src-file", f"{work}/{file}",
                    "--des-file", f"{work}/xyz.txt"])
        worst = max(row["length_m"] for row in r["residuals"])
        check(worst < 1e-6, f"{what}: residual {worst} m")
        check_set(set_of(r), [0] * 7, what)
        check(r["source_crs"]["code"] == crs, f"{what}: source CRS {r['source_crs']}")

    # One point in Europe, outside CGCS2000's area of use.
    rows[3] = [48.0, 10.0, 100.0]
    write(f"{work}/geog.txt", names, rows)
    xyz = cct("+proj=cart +ellps=GRS80", [[r[1], r[0], r[2]] for r in rows])
    write(f"{work}/xyz.txt", names, xyz)
    r = report(["--src-crs", "EPSG:4490", "--des-crs", "EPSG:4479", "--src-file",
                f"{work}/geog.txt", "--des-file", f"{work}/xyz.txt"])
    check(any(w.startswith("1 of the 8 source points lie outside the area of use of EPSG:4490")
              for w in r["crs_warnings"]), f"area of use: {r['crs_warnings']}")


def xian_network(work, n=12, tests=3, heights=True):
    """Xian 1980 and CGCS2000 longitude, latitude, height of points related by KNOWN."""
    common = lonlat_points(n, 3, heights=heights)
    test = lonlat_points(tests, 4, lon=(113.5, 114.5), lat=(30.3, 31.2), heights=heights)
    to_target = ("+proj=pipeline +step +proj=cart +ellps=IAU76 +step " + HELMERT +
                 " +step +inv +proj=cart +ellps=GRS80")
    return common, cct(to_target, common), test


def check_exports(work, r, source_crs, source_geog, target_geog, target_crs, test_file,
                  test_rows, horizontal):
    """projinfo, cct and crs_apply on the exports of `r`."""
    wkt, projjson = f"{work}/op.wkt", f"{work}/op.json"
    with open(wkt, "w") as f:
        f.write(r["operation_wkt"])
    with open(projjson, "w") as f:
        json.dump(r["operation_projjson"], f)
    for path in (wkt, projjson):
        out = run([PROJINFO, "-o", "PROJ", "-q", "@" + path]).stdout
        check("+proj=helmert" in out, f"projinfo reads {path}: {out[:200]}")
    predictions = [p["coordinates"] for p in r["target_crs_coordinates"]]
    limits = [PREDICTION_DEG if "4490" in target_crs or "4480" in target_crs else PREDICTION_M] * 2
    limits.append(PREDICTION_M)
    dims = 2 if horizontal else 3

    def compare(found, what):
        for got, want in zip(found, predictions):
            bad = [k for k in range(dims) if abs(got[k] - want[k]) > limits[k]]
            check(not bad, f"{what}: {got} against the report's {want}")

    compare(cct(r["operation_pipeline"], test_rows), "cct on the pipeline")
    geog = cs2cs(source_crs, source_geog, test_rows) if source_crs != source_geog else test_rows
    for what, out in [("cct on the WKT", cct(r["operation_wkt"], geog, whole=True)),
                      ("proj_trans on the WKT",
                       [[float(v) for v in line.split()] for line in
                        run([CRS_APPLY, wkt], "".join("%.12f %.12f %.6f\n" % tuple(g)
                                                      for g in geog)).stdout.splitlines()])]:
        mapped = cs2cs(target_geog, target_crs, out) if target_crs != target_geog else out
        compare(mapped, what)


def case_recovery_projected(work):
    common, target, test = xian_network(work)
    src = cct("+proj=pipeline +step " + tmerc("IAU76") + " +step +proj=axisswap +order=2,1",
              common)
    des = cct("+proj=pipeline +step " + tmerc("GRS80") + " +step +proj=axisswap +order=2,1",
              target)
    tst = cct("+proj=pipeline +step " + tmerc("IAU76") + " +step +proj=axisswap +order=2,1",
              test)
    names = [f"P{i}" for i in range(len(src))]
    write(f"{work}/src.txt", names, src)
    write(f"{work}/des.txt", names, des)
    write(f"{work}/test.txt", ["T1", "T2", "T3"], tst)
    args = ["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4547", "--src-file", f"{work}/src.txt",
            "--des-file", f"{work}/des.txt", "--test-file", f"{work}/test.txt"]
    r = report(args)
    check_set(set_of(r), KNOWN, "Xian 1980 GK to CGCS2000 GK")
    check("(EPSG:9607)" in r["operation_method"], f"method {r['operation_method']}")
    check(max(max(abs(v) for v in row["v_m"]) for row in r["target_crs_residuals"]) < 1e-6,
          "residuals along the map axes")
    check_exports(work, r, "EPSG:2383", "EPSG:4610", "EPSG:4490", "EPSG:4547",
                  f"{work}/test.txt", tst, horizontal=True)
    # Against CGCS2000 geocentric (EPSG:4479): the operation between geocentric
    # CRSs (EPSG:1032), the pipeline converting the map coordinates around it.
    write(f"{work}/xyz.txt", names, cct("+proj=pipeline +step +proj=cart +ellps=IAU76 +step " +
                                        HELMERT, common))
    g = report(["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4479", "--src-file",
                f"{work}/src.txt", "--des-file", f"{work}/xyz.txt", "--test-file",
                f"{work}/test.txt"])
    check_set(set_of(g), KNOWN, "Xian 1980 GK to CGCS2000 geocentric")
    check("(EPSG:1032)" in g["operation_method"] and g["operation_wkt"],
          f"map to geocentric method {g['operation_method']}")
    for got, want in zip(cct(g["operation_pipeline"], tst),
                         [p["coordinates"] for p in g["target_crs_coordinates"]]):
        check(max(abs(a - b) for a, b in zip(got, want)) < PREDICTION_M,
              f"map to geocentric pipeline {got} against {want}")

    # East first: easting, northing in the files; the same set.
    swap = lambda rows: [[row[1], row[0], row[2]] for row in rows]
    write(f"{work}/src-en.txt", names, swap(src))
    write(f"{work}/des-en.txt", names, swap(des))
    write(f"{work}/test-en.txt", ["T1", "T2", "T3"], swap(tst))
    e = report(["--src-crs", "EPSG:2383", "--des-crs", "EPSG:4547", "--east-first",
                "--src-file", f"{work}/src-en.txt", "--des-file", f"{work}/des-en.txt",
                "--test-file", f"{work}/test-en.txt"])
    check_set(set_of(e), set_of(r), "east first")
    swapped = [p["coordinates"] for p in e["target_crs_coordinates"]]
    for got, want in zip(swapped, r["target_crs_coordinates"]):
        check(abs(got[0] - want["coordinates"][1]) < 1e-9 and
              abs(got[1] - want["coordinates"][0]) < 1e-9, "east-first predictions")
    for got, want in zip(cct(e["operation_pipeline"], swap(tst)), swapped):
        check(abs(got[0] - want[0]) < PREDICTION_M and abs(got[1] - want[1]) < PREDICTION_M,
              f"east-first pipeline {got} against {want}")


def case_recovery_geographic(work):
    common, target, test = xian_network(work)
    geog = lambda rows, ellps: [[p[1], p[0], p[2]] for p in cct(
        f"+proj=pipeline +step +inv +proj=cart +ellps={ellps}", rows)] if ellps else \
        [[p[1], p[0], p[2]] for p in rows]
    src, tst = geog(common, None), geog(test, None)
    des = geog(target, None)
    names = [f"P{i}" for i in range(len(src))]
    write(f"{work}/src.txt", names, src)
    write(f"{work}/des.txt", names, des)
    write(f"{work}/test.txt", ["T1", "T2", "T3"], tst)
    r = report(["--src-crs", "EPSG:4610", "--des-crs", "EPSG:4490", "--src-file",
                f"{work}/src.txt", "--des-file", f"{work}/des.txt", "--test-file",
                f"{work}/test.txt"])
    check_set(set_of(r), KNOWN, "Xian 1980 to CGCS2000 latitude/longitude")
    check_exports(work, r, "EPSG:4610", "EPSG:4610", "EPSG:4490", "EPSG:4490",
                  f"{work}/test.txt", tst, horizontal=True)

    # Geographic 2D with heights against geographic 3D: both taken as 3D.
    r5 = report(["--src-crs", "EPSG:4610", "--des-crs", "EPSG:4480", "--src-file",
                 f"{work}/src.txt", "--des-file", f"{work}/des.txt", "--test-file",
                 f"{work}/test.txt"])
    check_set(set_of(r5), KNOWN, "Xian 1980 2D to CGCS2000 3D")
    check("(EPSG:1038)" in r5["operation_method"], f"2D to 3D method {r5['operation_method']}")
    check_exports(work, r5, "EPSG:4610", "EPSG:4610", "EPSG:4480", "EPSG:4480",
                  f"{work}/test.txt", tst, horizontal=False)

    # Without heights: the geocentric report of the same points at height 0.
    flat = [[p[0], p[1]] for p in src]
    flat_des = [[p[0], p[1]] for p in des]
    write(f"{work}/src2.txt", names, flat)
    write(f"{work}/des2.txt", names, flat_des)
    r2 = report(["--src-crs", "EPSG:4610", "--des-crs", "EPSG:4490", "--src-file",
                 f"{work}/src2.txt", "--des-file", f"{work}/des2.txt"])
    write(f"{work}/src3.txt", names,
          cct("+proj=cart +ellps=IAU76", [[p[1], p[0], 0] for p in flat]))
    write(f"{work}/des3.txt", names,
          cct("+proj=cart +ellps=GRS80", [[p[1], p[0], 0] for p in flat_des]))
    r3 = report(["--src-file", f"{work}/src3.txt", "--des-file", f"{work}/des3.txt"])
    check_set(set_of(r2), set_of(r3), "without heights against the geocentric report")
    check(not r2["source_crs"]["heights_given"] and
          any("give no heights" in w for w in r2["crs_warnings"]), "heights 0 said")

    # Geographic 3D: WGS 84 to CGCS2000, heights carried by the pipeline.
    wgs = geog(common, None)
    cgcs = geog(cct("+proj=pipeline +step +proj=cart +ellps=WGS84 +step " + HELMERT +
                    " +step +inv +proj=cart +ellps=GRS80", common), None)
    write(f"{work}/src4.txt", names, wgs)
    write(f"{work}/des4.txt", names, cgcs)
    r4 = report(["--src-crs", "EPSG:4979", "--des-crs", "EPSG:4480", "--src-file",
                 f"{work}/src4.txt", "--des-file", f"{work}/des4.txt", "--test-file",
                 f"{work}/test.txt"])
    check_set(set_of(r4), KNOWN, "WGS 84 3D to CGCS2000 3D")
    check("(EPSG:1038)" in r4["operation_method"], f"method {r4['operation_method']}")
    check_exports(work, r4, "EPSG:4979", "EPSG:4979", "EPSG:4480", "EPSG:4480",
                  f"{work}/test.txt", tst, horizontal=False)


def case_exact(work):
    common, _, test = xian_network(work)
    turned = ("+proj=pipeline +step +proj=cart +ellps=WGS84 +step +proj=helmert +x=100 +y=-50 "
              "+z=20 +rx=7200 +ry=-3600 +rz=10800 +s=5 +convention=coordinate_frame +exact")
    src = cct("+proj=cart +ellps=WGS84", common)
    des = cct(turned, common)
    tst = cct("+proj=cart +ellps=WGS84", test)
    names = [f"P{i}" for i in range(len(src))]
    write(f"{work}/src.txt", names, src)
    write(f"{work}/des.txt", names, des)
    write(f"{work}/test.txt", ["T1", "T2", "T3"], tst)
    args = ["--src-crs", "EPSG:4978", "--des-crs", "EPSG:4479", "--src-file", f"{work}/src.txt",
            "--des-file", f"{work}/des.txt", "--test-file", f"{work}/test.txt",
            "--rotation", "exact"]
    r = report(args)
    check(r["operation_wkt"] is None and r["operation_projjson"] is None and
          "small-angle" in (r["operation_missing"] or ""), "exact: WKT withheld with the reason")
    check("+exact" in r["operation_pipeline"], "exact: pipeline carries +exact")
    predictions = [p["coordinates"] for p in r["target_crs_coordinates"]]
    for got, want in zip(cct(r["operation_pipeline"], tst), predictions):
        check(max(abs(a - b) for a, b in zip(got, want)) < PREDICTION_M,
              f"exact pipeline {got} against {want}")
    failed = run([REPORT] + args + ["--wkt", f"{work}/op.wkt"], status=1)
    check("--wkt: no WKT to write: with --rotation exact" in failed.stderr and
          not os.path.exists(f"{work}/op.wkt"), f"--wkt under exact: {failed.stderr}")
    # The linearised model: geocentric CRSs take EPSG:1032.
    write(f"{work}/des.txt", names, cct("+proj=pipeline +step +proj=cart +ellps=WGS84 +step " +
                                        HELMERT, common))
    r = report(args[:-2])
    check("(EPSG:1032)" in (r["operation_method"] or "") and r["operation_wkt"],
          f"geocentric method {r['operation_method']}")


with tempfile.TemporaryDirectory() as work:
    {"geocentric": case_geocentric, "recovery-projected": case_recovery_projected,
     "recovery-geographic": case_recovery_geographic, "exact": case_exact}[CASE](work)
if failures:
    sys.exit(f"{len(failures)} checks failed")
print("all checks passed")
