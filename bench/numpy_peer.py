#!/usr/bin/env python3
"""The benchmark peer of sevenparam-report: what a plain numpy script does
with the same point files. It reads both files, estimates the similarity
transformation in closed form (Umeyama: the SVD of the 3 x 3 covariance of
the centred points), forms the residuals and sigma0 = sqrt(v'v / (3n - 7)),
and writes a JSON of the parameters and every point's residual (m, six
decimals). No tests, no precision, no second report: a fraction of the
report's work, as the yardstick of "a script would do".

    bench/numpy_peer.py SRC_FILE DES_FILE JSON_FILE

Point files as sevenparam-report reads them in the benchmarks: NAME X Y Z
a line, blank-separated, no comments. Needs numpy (python3-numpy).
"""

import json
import sys

import numpy as np


def read_points(path, with_names):
    xyz = np.loadtxt(path, dtype=np.float64, usecols=(1, 2, 3))
    names = None
    if with_names:
        with open(path) as f:
            names = [line.split(None, 1)[0] for line in f]
    return names, xyz


def main():
    src_path, des_path, json_path = sys.argv[1:4]
    names, src = read_points(src_path, True)
    _, des = read_points(des_path, False)
    n = len(src)
    ave_src, ave_des = src.mean(axis=0), des.mean(axis=0)
    p, q = src - ave_src, des - ave_des
    u, d, vt = np.linalg.svd(q.T @ p / n)
    s = np.eye(3)
    if np.linalg.det(u) * np.linalg.det(vt) < 0:
        s[2, 2] = -1
    r = u @ s @ vt
    scale = np.trace(np.diag(d) @ s) / (p * p).sum() * n
    v = q - scale * p @ r.T
    sigma0 = float(np.sqrt((v * v).sum() / (3 * n - 7)))
    result = {
        "points": n,
        "scale": float(scale),
        "rotation": r.tolist(),
        "centroid_source": ave_src.tolist(),
        "centroid_target": ave_des.tolist(),
        "sigma0": sigma0,
        "residuals": [{"name": name, "v": row}
                      for name, row in zip(names, np.round(v, 6).tolist())],
    }
    with open(json_path, "w") as f:
        json.dump(result, f)


if __name__ == "__main__":
    main()
