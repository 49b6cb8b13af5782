#!/usr/bin/env bash
# Times whole runs of sevenparam-report on point files of 1,000 to 1,000,000
# common points (ECEF, four decimals, seeded 2 mm noise; deterministic), so
# that the growth with the number of points shows. Each size runs with
# hyperfine (several runs, wall time) and once under /usr/bin/time -v (peak
# memory). The text report goes to a file; the run with --json adds the JSON.
#
#   bench/report_run.sh [BUILD_DIR] [SIZES...]   (default: build 1000 3000 10000 100000 1000000)
#
# Needs hyperfine: scripts/install-deps --bench
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
sizes=("$@")
if [ "${#sizes[@]}" -eq 0 ]; then
    sizes=(1000 3000 10000 100000 1000000)
fi
binary=$(realpath "$build/report/sevenparam-report")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for n in "${sizes[@]}"; do
    python3 - "$work" "$n" <<'PY'
import math, random, sys
work, n = sys.argv[1], int(sys.argv[2])
random.seed(n)
a, e2 = 6378137.0, 6.69437999014e-3
ex, ey, ez, m = 12e-6, -23e-6, 31e-6, 21e-6
s = 1 + m
with open(f"{work}/src-{n}.txt", "w") as src, open(f"{work}/des-{n}.txt", "w") as des:
    for i in range(n):
        phi, lam = math.radians(random.uniform(20, 50)), math.radians(random.uniform(75, 135))
        h = random.uniform(0, 3000)
        nu = a / math.sqrt(1 - e2 * math.sin(phi) ** 2)
        x = (nu + h) * math.cos(phi) * math.cos(lam)
        y = (nu + h) * math.cos(phi) * math.sin(lam)
        z = (nu * (1 - e2) + h) * math.sin(phi)
        src.write("P%d %.4f %.4f %.4f\n" % (i + 1, x, y, z))
        des.write("P%d %.4f %.4f %.4f\n" % (
            i + 1,
            -110.5 + s * (x + ez * y - ey * z) + random.gauss(0, 0.002),
            35.25 + s * (-ez * x + y + ex * z) + random.gauss(0, 0.002),
            82.75 + s * (ey * x - ex * y + z) + random.gauss(0, 0.002)))
PY
done

cd "$work"
for n in "${sizes[@]}"; do
    args="--src-file src-$n.txt --des-file des-$n.txt --output report-$n.txt"
    echo "=== $n common points: text report"
    hyperfine --warmup 1 --runs 5 --style basic "$binary $args" | grep -E "Time|Range"
    /usr/bin/time -f "peak memory %M KB, wall %e s" "$binary" $args
    echo "=== $n common points: text and JSON"
    hyperfine --warmup 1 --runs 3 --style basic "$binary $args --json report-$n.json" |
        grep -E "Time|Range"
    /usr/bin/time -f "peak memory %M KB, wall %e s" "$binary" $args --json "report-$n.json"
done

# Data snooping: k blunders of 1 m planted in the largest network of at most
# 100,000 points, removed one by one. A significance level far below the
# chance of a clean coordinate's exceedance keeps the count of removals k,
# so the run takes k + 1 adjustments: its time grows by one adjustment a
# removal.
snoop_n=0
for n in "${sizes[@]}"; do
    if [ "$n" -le 100000 ] && [ "$n" -gt "$snoop_n" ]; then snoop_n=$n; fi
done
if [ "$snoop_n" -gt 0 ]; then
    for k in 0 1 2 4 8; do
        python3 - "$snoop_n" "$k" <<'PY'
import sys
n, k = int(sys.argv[1]), int(sys.argv[2])
lines = open(f"des-{n}.txt").read().splitlines()
for j in range(k):
    i = (j * 7919) % n
    name, x, y, z = lines[i].split()
    lines[i] = "%s %.4f %s %s" % (name, float(x) + 1.0, y, z)
open(f"des-{n}-k{k}.txt", "w").write("\n".join(lines) + "\n")
PY
        args="--src-file src-$snoop_n.txt --des-file des-$snoop_n-k$k.txt --snoop --alpha 1e-9"
        removed=$("$binary" $args --json - | python3 -c \
            'import json, sys; print(len(json.load(sys.stdin)["excluded"]))')
        echo "=== $snoop_n common points, $k blunders, --snoop: $removed removed"
        hyperfine --warmup 1 --runs 5 --style basic "$binary $args --output snoop.txt" |
            grep -E "Time|Range"
    done
fi
