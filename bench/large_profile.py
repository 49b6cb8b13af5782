#!/usr/bin/env python3
"""Times whole runs of sevenparam on a profile of 50,000 entries and takes
their peak memory: the profile is loaded once, in memory in proportion to
its bytes. Target: under 100 ms and 50 MB per run.

    bench/large_profile.py [BUILD_DIR] [RUNS]     (defaults: build, 20)

The profile holds 50,000 short entries ("keyN = N,N,N", about 1 MB) before
the three keys of examples/network.ini, so that every entry is loaded and
walked past; the run estimates from the twelve common points and carries the
three test points. Wall time per run (median and slowest, taken here) and
the largest peak resident memory of the runs (from GNU time, which runs
each one: a child of this script would count the script's own memory, which
it shares until it starts the program) are printed; the exit status is 1
when a figure misses its target. Needs GNU time: scripts/install-deps --bench
"""

import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ENTRIES = 50000
TARGET_SECONDS = 0.100
TARGET_BYTES = 50 * 1024 * 1024


def main():
    root = Path(__file__).resolve().parent.parent
    build = Path(sys.argv[1]) if len(sys.argv) > 1 else root / "build"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    binary = (build / "driver" / "sevenparam").resolve()
    network = (root / "examples" / "network.ini").read_bytes()
    with tempfile.TemporaryDirectory(prefix="sevenparam_bench_") as tmp:
        profile = Path(tmp) / "large.ini"
        with open(profile, "wb") as f:
            f.write(b"".join(b"key%d = %d,%d,%d\n" % (i, i, i, i) for i in range(ENTRIES)))
            f.write(network)
        command = ["/usr/bin/time", "-f", "%M", str(binary), "--inputfile", str(profile),
                   "--outfile", str(Path(tmp) / "result.txt")]
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)  # warm-up
        seconds, peak = [], 0
        for _ in range(runs):
            start = time.perf_counter()
            done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  check=True)
            seconds.append(time.perf_counter() - start)
            # GNU time's "%M": the peak resident set in kilobytes.
            peak = max(peak, int(done.stderr.split()[-1]) * 1024)
        size = profile.stat().st_size
    median, slowest = statistics.median(seconds), max(seconds)
    print(f"profile of {ENTRIES} entries, {size / 1e6:.2f} MB; {runs} runs")
    print(f"wall time: median {median * 1e3:.1f} ms, slowest {slowest * 1e3:.1f} ms "
          f"(target {TARGET_SECONDS * 1e3:.0f} ms)")
    print(f"peak memory: {peak / 2**20:.1f} MB (target {TARGET_BYTES / 2**20:.0f} MB)")
    return 0 if slowest < TARGET_SECONDS and peak < TARGET_BYTES else 1


if __name__ == "__main__":
    sys.exit(main())
