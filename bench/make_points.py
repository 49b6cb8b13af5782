#!/usr/bin/env python3
"""Writes the point files of the report benchmarks: N common points (ECEF
over China, heights 0-3000 m, four decimals), the target ones carried by a
known seven-parameter set with seeded Gaussian noise of NOISE m per
coordinate, and BLUNDERS of them shifted by SIZE m in X (rows j * 7919 mod N).
Deterministic for the same arguments.

    bench/make_points.py [--sigmas] DIR N [NOISE [BLUNDERS [SIZE]]]
                                                  (defaults 0.002 0 1.0)

Writes DIR/src-N.txt and DIR/des-N.txt, or DIR/des-N-kB.txt with B blunders;
an existing file is kept (10,000,000 points take minutes to write).
With --sigmas both systems carry errors and every point gives its three
standard deviations after X Y Z: the target's drawn per point and
coordinate from 0.5 to 1.5 times NOISE, the source's half those, the
noise drawn with them; the files are then DIR/src-N-s.txt and
DIR/des-N-s.txt (DIR/des-N-kB-s.txt).
With numpy at hand the points are drawn with it (much faster, other values
than the pure-Python draw of the same seed).
"""

import math
import os
import random
import sys

A, E2 = 6378137.0, 6.69437999014e-3
EX, EY, EZ, M = 12e-6, -23e-6, 31e-6, 21e-6
T = (-110.5, 35.25, 82.75)


def blunder_rows(n, blunders):
    return [(j * 7919) % n for j in range(blunders)]


def write_numpy(np, src_path, des_path, n, noise, blunders, size, sigmas=False):
    rng = np.random.default_rng(n)
    chunk = 1_000_000
    rows = set(blunder_rows(n, blunders))
    with open(src_path, "w") as src, open(des_path, "w") as des:
        for start in range(0, n, chunk):
            k = min(chunk, n - start)
            phi = np.radians(rng.uniform(20, 50, k))
            lam = np.radians(rng.uniform(75, 135, k))
            h = rng.uniform(0, 3000, k)
            nu = A / np.sqrt(1 - E2 * np.sin(phi) ** 2)
            x = (nu + h) * np.cos(phi) * np.cos(lam)
            y = (nu + h) * np.cos(phi) * np.sin(lam)
            z = (nu * (1 - E2) + h) * np.sin(phi)
            s = 1 + M
            if sigmas:
                sd = rng.uniform(0.5 * noise, 1.5 * noise, (3, k))
                e = rng.normal(0, 1, (3, k)) * sd
                ss = sd / 2
                xs, ys, zs = (c + ss[i] * rng.normal(0, 1, k) for i, c in enumerate((x, y, z)))
            else:
                e = rng.normal(0, noise, (3, k))
                xs, ys, zs = x, y, z
            xt = T[0] + s * (x + EZ * y - EY * z) + e[0]
            yt = T[1] + s * (-EZ * x + y + EX * z) + e[1]
            zt = T[2] + s * (EY * x - EX * y + z) + e[2]
            for i in rows:
                if start <= i < start + k:
                    xt[i - start] += size
            names = np.char.add("P", np.arange(start + 1, start + k + 1).astype(str))
            for f, cols, sds in ((src, (xs, ys, zs), ss if sigmas else None),
                                 (des, (xt, yt, zt), sd if sigmas else None)):
                columns = [np.char.mod("%.4f", c) for c in cols]
                if sds is not None:
                    columns += [np.char.mod("%.5f", c) for c in sds]
                table = np.column_stack([names] + columns)
                f.write("\n".join(" ".join(r) for r in table) + "\n")


def write_python(src_path, des_path, n, noise, blunders, size, sigmas=False):
    random.seed(n)
    rows = set(blunder_rows(n, blunders))
    s = 1 + M
    with open(src_path, "w") as src, open(des_path, "w") as des:
        for i in range(n):
            phi, lam = math.radians(random.uniform(20, 50)), math.radians(random.uniform(75, 135))
            h = random.uniform(0, 3000)
            nu = A / math.sqrt(1 - E2 * math.sin(phi) ** 2)
            x = (nu + h) * math.cos(phi) * math.cos(lam)
            y = (nu + h) * math.cos(phi) * math.sin(lam)
            z = (nu * (1 - E2) + h) * math.sin(phi)
            sd = [random.uniform(0.5 * noise, 1.5 * noise) for _ in range(3)] if sigmas \
                else [noise] * 3
            if sigmas:
                ss = [v / 2 for v in sd]
                src.write("P%d %.4f %.4f %.4f %.5f %.5f %.5f\n" % (
                    i + 1, x + random.gauss(0, ss[0]), y + random.gauss(0, ss[1]),
                    z + random.gauss(0, ss[2]), *ss))
            else:
                src.write("P%d %.4f %.4f %.4f\n" % (i + 1, x, y, z))
            xt = T[0] + s * (x + EZ * y - EY * z) + random.gauss(0, sd[0])
            yt = T[1] + s * (-EZ * x + y + EX * z) + random.gauss(0, sd[1])
            zt = T[2] + s * (EY * x - EX * y + z) + random.gauss(0, sd[2])
            if i in rows:
                xt += size
            if sigmas:
                des.write("P%d %.4f %.4f %.4f %.5f %.5f %.5f\n" % (i + 1, xt, yt, zt, *sd))
            else:
                des.write("P%d %.4f %.4f %.4f\n" % (i + 1, xt, yt, zt))


def main():
    sigmas = "--sigmas" in sys.argv[1:]
    args = [sys.argv[0]] + [a for a in sys.argv[1:] if a != "--sigmas"]
    work, n = args[1], int(args[2])
    noise = float(args[3]) if len(args) > 3 else 0.002
    blunders = int(args[4]) if len(args) > 4 else 0
    size = float(args[5]) if len(args) > 5 else 1.0
    tail = "-s.txt" if sigmas else ".txt"
    src_path = os.path.join(work, f"src-{n}{tail}")
    des_path = os.path.join(work, f"des-{n}{tail}" if blunders == 0
                            else f"des-{n}-k{blunders}{tail}")
    if os.path.exists(src_path) and os.path.exists(des_path):
        return
    try:
        import numpy as np
    except ImportError:
        np = None
    tmp_src = src_path + ".part"
    if np is not None:
        write_numpy(np, tmp_src, des_path + ".part", n, noise, blunders, size, sigmas)
    else:
        write_python(tmp_src, des_path + ".part", n, noise, blunders, size, sigmas)
    os.replace(des_path + ".part", des_path)
    os.replace(tmp_src, src_path)  # the same source for every blunder count


if __name__ == "__main__":
    main()
