#!/usr/bin/env bash
# Times whole runs of sevenparam-report on 1,000,000 common points (by
# default) in projected CRSs on both sides: Xian 1980 3-degree Gauss-Kruger CM
# 114E (EPSG:2383) to CGCS2000 3-degree Gauss-Kruger CM 114E (EPSG:4547),
# northing, easting and ellipsoidal height with four decimals, made by cct
# from a known seven-parameter set with seeded 2 mm noise (deterministic).
# Beside it, the geocentric run of today on the same points as X, Y, Z (made
# by cct's +proj=cart), so that the cost of the conversions shows. Text
# report to a file; wall time by hyperfine (when installed) and wall time
# with peak memory by GNU time.
#
#   bench/crs_run.sh [BUILD_DIR] [POINTS]   (default: build 1000000)
#
# Needs cct (proj-bin) and GNU time; hyperfine: scripts/install-deps --bench
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
n=${2:-1000000}
binary=$(realpath "$build/report/sevenparam-report")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$n" <<'PY'
import random, subprocess, sys
work, n = sys.argv[1], int(sys.argv[2])
random.seed(n)
points = ["%.9f %.9f %.3f 0" % (random.uniform(112.6, 115.4), random.uniform(22.0, 42.0),
                                 random.uniform(0, 3000)) for _ in range(n)]
text = "\n".join(points) + "\n"
def cct(pipeline):
    out = subprocess.run(["cct", "-d", "6"] + pipeline.split(), input=text, capture_output=True,
                         text=True, check=True).stdout
    return [line.split()[:3] for line in out.splitlines() if line.strip()]
tm = "+proj=tmerc +lat_0=0 +lon_0=114 +k=1 +x_0=500000 +y_0=0 +ellps="
helmert = ("+proj=helmert +x=-24.5 +y=112.3 +z=81.9 +rx=0.21 +ry=-0.35 +rz=1.12 +s=2.7 "
           "+convention=coordinate_frame")
src_map = cct("+proj=pipeline +step " + tm + "IAU76 +step +proj=axisswap +order=2,1")
src_xyz = cct("+proj=cart +ellps=IAU76")
des_geo = ("+proj=pipeline +step +proj=cart +ellps=IAU76 +step " + helmert +
           " +step +inv +proj=cart +ellps=GRS80")
des_map = cct(des_geo + " +step " + tm + "GRS80 +step +proj=axisswap +order=2,1")
des_xyz = cct("+proj=pipeline +step +proj=cart +ellps=IAU76 +step " + helmert)
def write(path, rows, noise):
    with open(path, "w") as f:
        for i, row in enumerate(rows):
            f.write("P%d %s\n" % (i + 1, " ".join(
                "%.4f" % (float(v) + (random.gauss(0, 0.002) if noise else 0)) for v in row)))
write(f"{work}/src-map.txt", src_map, False)
write(f"{work}/des-map.txt", des_map, True)
write(f"{work}/src-xyz.txt", src_xyz, False)
write(f"{work}/des-xyz.txt", des_xyz, True)
PY

cd "$work"
crs="--src-crs EPSG:2383 --des-crs EPSG:4547 --src-file src-map.txt --des-file des-map.txt"
xyz="--src-file src-xyz.txt --des-file des-xyz.txt"
for run in "geocentric (today):$xyz" "projected CRSs:$crs"; do
    label=${run%%:*}
    args=${run#*:}
    echo "=== $n common points, $label, text report"
    if command -v hyperfine >/dev/null; then
        hyperfine --warmup 1 --runs 5 --style basic "$binary $args --output report.txt" |
            grep -E "Time|Range"
    fi
    for i in 1 2 3; do
        /usr/bin/time -f "peak memory %M KB, wall %e s" "$binary" $args --output report.txt
    done
done
