#!/usr/bin/env python3
"""Cross-check of sevenparam's transformation against PROJ's cct.

sevenparam estimates the parameters from twelve ECEF common points and
carries three test points into the target system ("output=" of the
prediction output). The same test points are then sent through a cct
pipeline built from the parameter output of a second run ("args=",
"avesrc=", "avetar="):

    affine (subtract avesrc) -> helmert -> affine (add avetar)

with the rotations converted from radians to arc-seconds and the scale
difference from a ratio to ppm. Both results must agree to 0.1 mm.

Why the two agree: PROJ's helmert with +convention=coordinate_frame uses the
same signs as sevenparam (a positive rz turns (1, 0, 0) towards -Y), and for
a non-time-dependent Helmert it uses the linearised (small-angle) rotation
matrix unless +exact is given; sevenparam uses that same linearised matrix.
Both scale by (1 + m) and add the translation after scaling. The result file
writes every parameter with six decimals, so the parameters of the network
below are whole millionths: the estimate reproduces them to about 1e-12 and
six decimals lose nothing. (With parameters of arbitrary digits, six decimals
of a 1e-5 rad angle would limit the agreement to decimetres.)

Usage: proj_crosscheck.py SEVENPARAM [CCT]
"""
import math
import os
import subprocess
import sys
import tempfile

TOLERANCE_M = 1e-4
ARCSEC_PER_RAD = 180 / math.pi * 3600

# Rotations about X, Y, Z (radians, coordinate frame) and scale difference.
EX, EY, EZ, M = 12e-6, -23e-6, 31e-6, 21e-6
SHIFT = (-110.5, 35.25, 82.75)  # metres, carried by the two centroids


def ecef(lat_deg, lon_deg, h):
    a, e2 = 6378137.0, 6.69437999014e-3
    phi, lam = math.radians(lat_deg), math.radians(lon_deg)
    n = a / math.sqrt(1 - e2 * math.sin(phi) ** 2)
    return ((n + h) * math.cos(phi) * math.cos(lam),
            (n + h) * math.cos(phi) * math.sin(lam),
            (n * (1 - e2) + h) * math.sin(phi))


def transform(p):
    """The seven-parameter model, coordinate frame, small angles."""
    x, y, z = p
    s = 1 + M
    return (SHIFT[0] + s * ((x + EZ * y) - EY * z),
            SHIFT[1] + s * ((-(EZ * x) + y) + EX * z),
            SHIFT[2] + s * ((EY * x - EX * y) + z))


def number_list(points):
    return ",".join(repr(v) for p in points for v in p)


def read_result(path):
    fields = {}
    with open(path, "rb") as f:
        for line in f.read().decode("ascii").splitlines():
            key, _, value = line.partition("=")
            fields[key] = value
    return fields


def floats(text):
    return [float(v) for v in text.split(",")]


def run(binary, args):
    done = subprocess.run([binary] + args, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit("sevenparam failed (%d): %s" % (done.returncode, done.stderr.decode()))


def main():
    binary = sys.argv[1]
    cct = sys.argv[2] if len(sys.argv) > 2 else "cct"

    # A country-sized network: four rows of three stations, 30-36 N, 110-118 E.
    source = [ecef(30 + 2 * i, 110 + 4 * j, 50 + 130 * i + 410 * j)
              for i in range(4) for j in range(3)]
    target = [transform(p) for p in source]
    tests = [ecef(31.5, 111.25, 320.0), ecef(33.0, 116.0, 15.0), ecef(35.75, 113.5, 1480.0)]

    with tempfile.TemporaryDirectory() as work:
        parameters_file = os.path.join(work, "parameters.txt")
        prediction_file = os.path.join(work, "prediction.txt")
        common = ["--inputsrc", number_list(source), "--inputdes", number_list(target)]
        run(binary, common + ["--outfile", parameters_file])
        run(binary, common + ["--inputtest", number_list(tests), "--outfile", prediction_file])
        parameters = read_result(parameters_file)
        predicted = floats(read_result(prediction_file)["output"])

    tx, ty, tz, ex, ey, ez, m = floats(parameters["args"])
    src_x, src_y, src_z = floats(parameters["avesrc"])
    tar_x, tar_y, tar_z = floats(parameters["avetar"])
    pipeline = [
        "+proj=pipeline",
        "+step", "+proj=affine", "+xoff=%r" % -src_x, "+yoff=%r" % -src_y, "+zoff=%r" % -src_z,
        "+step", "+proj=helmert", "+convention=coordinate_frame",
        "+x=%r" % tx, "+y=%r" % ty, "+z=%r" % tz,
        "+rx=%r" % (ex * ARCSEC_PER_RAD), "+ry=%r" % (ey * ARCSEC_PER_RAD),
        "+rz=%r" % (ez * ARCSEC_PER_RAD), "+s=%r" % (m * 1e6),
        "+step", "+proj=affine", "+xoff=%r" % tar_x, "+yoff=%r" % tar_y, "+zoff=%r" % tar_z,
    ]
    cct_input = "".join("%r %r %r 0\n" % p for p in tests)
    done = subprocess.run([cct, "-d", "6"] + pipeline, input=cct_input.encode(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit("cct failed: " + done.stderr.decode())
    expected = [float(v) for line in done.stdout.decode().splitlines()
                for v in line.split()[:3]]

    failures = 0
    if len(predicted) != len(expected):
        sys.exit("sevenparam gave %d values, cct %d" % (len(predicted), len(expected)))
    for i, (ours, theirs) in enumerate(zip(predicted, expected)):
        truth = transform(tests[i // 3])[i % 3]
        status = "ok"
        # Against cct to 0.1 mm; against the generating model to 1 mm as a
        # check that the network itself was reproduced.
        if abs(ours - theirs) > TOLERANCE_M or abs(ours - truth) > 1e-3:
            status = "FAIL"
            failures += 1
        print("test point %d %s: sevenparam %.6f cct %.6f model %.6f  %s"
              % (i // 3 + 1, "XYZ"[i % 3], ours, theirs, truth, status))
    print("%d passed, %d failed" % (len(predicted) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
