#!/usr/bin/env bash
# sevenparam-report at scale, beside a plain numpy script (bench/numpy_peer.py)
# taken in turn with it, round after round (means() below), so that the
# machine's load weighs on both alike:
#   - 1,000,000 common points (2 mm noise): the text report alone, and the
#     text and JSON reports, each on 1 and 2 threads; the peer's whole run;
#     peak memory (GNU time) of the text and JSON run;
#   - data snooping of 1,000,000 points with 5 planted 0.1 m blunders at
#     2 mm noise, --alpha-family 0.05: the points removed (exactly the 5
#     planted ones) and the time;
#   - with --ten-million: 10,000,000 points, text report on 2 threads, time
#     and peak memory against ten times the 1,000,000-point run.
# Each figure is printed beside its target. The work divides so: the two
# point files are read and parsed one on each of two threads, block by
# block; the estimation's passes, snooping's passes and the residual tests
# run by chunks of 32,768 points on --threads threads (the calling one among
# them), and so are the centred coordinates formed and the report rows'
# memory prefaulted; the rows
# of the long tables are formatted in blocks of 4,096 on --threads threads,
# the writing thread among them; the staged files go to the disk while they
# are written (8 MiB windows, numlist/result_file.h), so that their final
# fsync is short, and leave the page cache once there; the rest (the name
# pairing, the centroids, the 7x7 solves, freeing the report at the end) is
# serial, some 0.15 s of a 1.4 s run.
#
# Figures of 2026-12-08, 22:13, 22:22, 22:28 and 23:05, on the 2-core
# development machine with nothing else running (four runs of this script,
# 5, 5, 7 and 7 rounds; the host's load decides the absolute times: the
# numpy peer took 8.7 s in the first run and 5.7-6.4 s in the others, 4.3 s
# on a quiet host). Medians, and the fastest round after the slash:
#   text, 2 threads        1.106/0.953, 0.795/0.654, 0.791/0.699, 0.793/0.711 s
#                          (1 thread 1.08-1.51 s)                        target < 1.0 s
#   text+JSON, 2 threads   1.776/1.596, 1.401/1.271, 1.338/1.272, 1.553/1.226 s
#                          (1 thread 2.08-2.78 s)                        target < 1.5 s
#   numpy script           8.651, 5.726, 5.902, 6.370 s: 4.87, 4.09, 4.41 and
#                          4.10 times the text+JSON run                  target >= 4: met
#   peak memory            357 MB (text and JSON)                        target < 400 MB: met
#   snooping, 5 blunders   1.32, 1.03, 1.31, 1.30 s, exactly the 5       target < 5 s: met
# The text and JSON run takes about a quarter of the peer's time in the
# same rounds, so it is under 1.5 s while the peer is under about 6.2 s:
# its median was under the target in the second and third runs and over it
# in the first and fourth, its fastest round under it in all but the first,
# when the peer too took twice its quiet time. The text report's median
# was under its target in all but the first; the ratio to the peer was met
# in all four.
# At 10,000,000 points (by hand, 2 threads, in the same hour): the text
# report 10.4-12.1 s against 0.9-1.5 s for 1,000,000, peak memory 3.54 GB
# (target 4 GB); the text and JSON reports took 16.1 s earlier that day.
# Fresh memory on this virtual machine costs more the first time the host
# backs it, which makes the large runs up to 20 % slower than ten times the
# small one.
# Since the figures of the evening before (text and JSON 2.15-2.59 s): the
# shortest numbers take their digits from libfmt's Dragonbox and write them
# in place (std::to_chars took a third of the JSON); the point files are
# parsed block by block instead of being read whole first, plain decimals
# without from_chars and fields split by a table; names are moved, not
# copied; the report rows' memory is prefaulted on the threads; the
# writing thread formats rows too; decimal digits come eight at a time
# from shared digit words. Where a 1-thread text and JSON run's CPU goes
# now: a third the JSON's shortest numbers (Dragonbox half of it), a
# quarter the kernel (page faults, copies into the page cache, write-back),
# a tenth the text's fixed-point digits, 5 % the parsing, 5 % the local
# frames of the residuals.
#
#   bench/report_scale.sh [BUILD_DIR] [--ten-million]     (default: build)
#
# The point files go to $SEVENPARAM_BENCH_DATA (kept, as 10,000,000 points
# take minutes to write), else to a temporary folder. Needs GNU time and
# numpy: scripts/install-deps --bench
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
ten_million=0
for arg in "$@"; do
    case "$arg" in
        --ten-million) ten_million=1 ;;
        *) build=$arg ;;
    esac
done
binary=$(realpath "$build/report/sevenparam-report")
bench=$(realpath bench)
. "$bench/scale_setup.sh"

"$python" "$bench/make_points.py" "$data" 1000000 0.002 0
"$python" "$bench/make_points.py" "$data" 1000000 0.002 5 0.1
src="$data/src-1000000.txt"
des="$data/des-1000000.txt"

# Median wall time (s), mean and standard deviation of each command, in order: the
# commands run in turn, round after round (RUNS rounds, 5 unless set, after
# one round not counted), so that the machine's changing load weighs on each
# alike. The load comes in bursts (one round of the numpy script took 5.3 s,
# the next 8.8 s), so each command's median is its figure; the mean and the
# standard deviation are printed beside it. Each run starts without the outputs of the run before (the peer's
# as well), removed and synced before its clock starts: replacing a file
# frees its blocks in the rename, and on this machine's disk (ext4 mounted
# with online discard) replacing the 578 MB JSON took 0.08-0.14 s of the
# run, which is the cost of deleting the old report, not of writing the new
# one. Arguments: pairs of a name and a command.
means() {
    "$python" - "${RUNS:-5}" "$out" "$@" <<'PY'
import os, shlex, statistics, subprocess, sys, time
runs, out, pairs = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
names, commands = pairs[0::2], pairs[1::2]
times = [[] for _ in commands]
for round_ in range(runs + 1):
    for k, command in enumerate(commands):
        for name in ("r.txt", "r.json", "peer.json", "snoop.txt"):
            try:
                os.remove(os.path.join(out, name))
            except FileNotFoundError:
                pass
        os.sync()
        start = time.perf_counter()
        subprocess.run(shlex.split(command), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        if round_ > 0:
            times[k].append(time.perf_counter() - start)
for name, t in zip(names, times):
    print("%-22s %s" % (name, " ".join("%.3f" % x for x in t)), file=sys.stderr)
    print("%.3f %.3f %.3f" % (statistics.median(t), statistics.mean(t),
                              statistics.stdev(t) if len(t) > 1 else 0))
PY
}

verdict() { # figure target: "met" when figure < target
    awk -v f="$1" -v t="$2" 'BEGIN { print (f < t ? "met" : "MISSED") }'
}

echo "=== 1,000,000 common points, beside the numpy script (${RUNS:-5} rounds)"
mapfile -t figures < <(means \
    "text, 1 thread" "$binary --src-file $src --des-file $des --output $out/r.txt --threads 1" \
    "text, 2 threads" "$binary --src-file $src --des-file $des --output $out/r.txt --threads 2" \
    "text+JSON, 1 thread" \
    "$binary --src-file $src --des-file $des --output $out/r.txt --json $out/r.json --threads 1" \
    "text+JSON, 2 threads" \
    "$binary --src-file $src --des-file $des --output $out/r.txt --json $out/r.json --threads 2" \
    "numpy script" "$python $bench/numpy_peer.py $src $des $out/peer.json")
read -r text1 _ <<<"${figures[0]}"
read -r text2 text2_mean _ <<<"${figures[1]}"
read -r json1 _ <<<"${figures[2]}"
read -r json2 json2_mean _ <<<"${figures[3]}"
read -r peer peer_mean _ <<<"${figures[4]}"
echo "medians (means):"
printf '%-34s %8s s (mean %s s; 1 thread %s s)  target < 1.0 s: %s\n' "text report" "$text2" \
    "$text2_mean" "$text1" "$(verdict "$text2" 1.0)"
printf '%-34s %8s s (mean %s s; 1 thread %s s)  target < 1.5 s: %s\n' "text and JSON reports" \
    "$json2" "$json2_mean" "$json1" "$(verdict "$json2" 1.5)"
printf '%-34s %8s s (mean %s s)\n' "numpy script" "$peer" "$peer_mean"
speedup=$(awk -v p="$peer" -v r="$json2" 'BEGIN { printf "%.2f", p / r }')
printf '%-34s %8s x  target >= 4: %s\n' "numpy script / text and JSON" "$speedup" \
    "$(awk -v s="$speedup" 'BEGIN { print (s >= 4 ? "met" : "MISSED") }')"
peak=$( { /usr/bin/time -f "%M" "$binary" --src-file "$src" --des-file "$des" \
    --output "$out/r.txt" --json "$out/r.json" --threads 2; } 2>&1 | tail -1)
printf '%-34s %8s MB  target < 400 MB: %s\n' "peak memory, text and JSON" "$((peak / 1024))" \
    "$(verdict "$((peak / 1024))" 400)"
ls -l "$out/r.json" "$out/peer.json" | awk '{ printf "%-34s %8d bytes a point\n", $NF, $5 / 1e6 }'

echo "=== data snooping: 1,000,000 points, 5 blunders of 0.1 m at 2 mm noise, --alpha-family 0.05"
snoop_args="--src-file $src --des-file $data/des-1000000-k5.txt --snoop --alpha-family 0.05"
"$binary" $snoop_args --output "$out/snoop.txt" --json "$out/snoop.json" --threads 2
removed=$("$python" -c 'import json, sys
print(" ".join(sorted(e["name"] for e in json.load(open(sys.argv[1]))["excluded"])))' \
    "$out/snoop.json")
expected="P1 P15839 P23758 P31677 P7920"
printf '%-34s %s  (planted: %s): %s\n' "removed" "$removed" "$expected" \
    "$([ "$removed" = "$expected" ] && echo met || echo MISSED)"
mapfile -t figures < <(RUNS=3 means "snooping, 2 threads" \
    "$binary $snoop_args --output $out/snoop.txt --threads 2")
read -r snoop _ <<<"${figures[0]}"
printf '%-34s %8s s  target < 5 s: %s\n' "snooping run" "$snoop" "$(verdict "$snoop" 5)"

if [ "$ten_million" -eq 1 ]; then
    echo "=== 10,000,000 common points, text report, 2 threads"
    "$python" "$bench/make_points.py" "$data" 10000000 0.002 0
    line=$( { /usr/bin/time -f "%e %M" "$binary" --src-file "$data/src-10000000.txt" \
        --des-file "$data/des-10000000.txt" --output "$out/r10.txt" --threads 2; } 2>&1 |
        tail -1)
    read -r seconds kb <<<"$line"
    printf '%-34s %8s s  (%.1f x the 1,000,000-point run)\n' "10,000,000 points" "$seconds" \
        "$(awk -v a="$seconds" -v b="$text2" 'BEGIN { print a / b }')"
    printf '%-34s %8s MB  target < 4096 MB: %s\n' "peak memory" "$((kb / 1024))" \
        "$(verdict "$((kb / 1024))" 4096)"
fi
