#!/usr/bin/env bash
# Times whole runs of sevenparam with hyperfine, at the largest number lists
# one command-line argument can carry (Linux caps a single argument at
# 131,072 bytes: 3,000 ECEF points with four decimals), for the common points
# and the test points alike; and, in the same hyperfine run, PROJ's cct
# carrying the same test points, read from a file, through the equivalent
# pipeline.
#
#   bench/whole_run.sh [BUILD_DIR]      (default: build)
#
# Needs hyperfine and cct: scripts/install-deps --bench
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
binary=$(realpath "$build/driver/sevenparam")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import math, random, sys
work = sys.argv[1]
random.seed(7)
a, e2 = 6378137.0, 6.69437999014e-3
def ecef():
    phi, lam = math.radians(random.uniform(30, 40)), math.radians(random.uniform(110, 120))
    h = random.uniform(0, 2000)
    n = a / math.sqrt(1 - e2 * math.sin(phi) ** 2)
    return ((n + h) * math.cos(phi) * math.cos(lam), (n + h) * math.cos(phi) * math.sin(lam),
            (n * (1 - e2) + h) * math.sin(phi))
ex, ey, ez, m = 12e-6, -23e-6, 31e-6, 21e-6
def transform(p):
    x, y, z = p
    s = 1 + m
    return (-110.5 + s * (x + ez * y - ey * z) + random.gauss(0, 0.002),
            35.25 + s * (-ez * x + y + ex * z) + random.gauss(0, 0.002),
            82.75 + s * (ey * x - ex * y + z) + random.gauss(0, 0.002))
points = 3000
source = [ecef() for _ in range(points)]
target = [transform(p) for p in source]
tests = [ecef() for _ in range(points)]
text = lambda pts: ",".join("%.4f" % v for p in pts for v in p)
for name, pts in (("src", source), ("des", target), ("test", tests)):
    t = text(pts)
    assert len(t) < 131072, (name, len(t))
    open("%s/%s.txt" % (work, name), "w").write(t)
with open(work + "/test-cct.txt", "w") as f:
    for p in tests:
        f.write("%.4f %.4f %.4f 0\n" % p)
PY

# The parameters for cct come from the tool's own parameter output.
"$binary" --inputsrc "$(<"$work/src.txt")" --inputdes "$(<"$work/des.txt")" \
    --outfile "$work/params.txt" >/dev/null
args=$(sed -n 's/^args=//p' "$work/params.txt")
avesrc=$(sed -n 's/^avesrc=//p' "$work/params.txt")
avetar=$(sed -n 's/^avetar=//p' "$work/params.txt")
IFS=, read -r tx ty tz ex ey ez m <<<"$args"
IFS=, read -r sx sy sz <<<"$avesrc"
IFS=, read -r dx dy dz <<<"$avetar"
arcsec() { python3 -c "import math,sys; print(float(sys.argv[1]) * 180 / math.pi * 3600)" "$1"; }
pipeline="+proj=pipeline +step +proj=affine +xoff=-$sx +yoff=-$sy +zoff=-$sz \
+step +proj=helmert +convention=coordinate_frame +x=$tx +y=$ty +z=$tz \
+rx=$(arcsec "$ex") +ry=$(arcsec "$ey") +rz=$(arcsec "$ez") \
+s=$(python3 -c "import sys; print(float(sys.argv[1]) * 1e6)" "$m") \
+step +proj=affine +xoff=$dx +yoff=$dy +zoff=$dz"

# Three lists of 120 kB do not fit in one argument to hyperfine, so each run
# reads them into its arguments in bash; hyperfine measures the bare shell
# start-up and subtracts it. Both commands pass through the same shell.
cd "$work"
hyperfine --shell=bash --warmup 5 --runs "${RUNS:-50}" \
    --export-markdown "${EXPORT:-/dev/null}" \
    -n "sevenparam, 3000 common + 3000 test points" \
    "$binary --inputsrc \"\$(<src.txt)\" --inputdes \"\$(<des.txt)\" --inputtest \"\$(<test.txt)\" --outfile out.txt" \
    -n "cct, 3000 test points" \
    "cct -d 4 -o cct-out.txt $pipeline test-cct.txt"
