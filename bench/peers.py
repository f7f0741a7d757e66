#!/usr/bin/python3
"""Nearest-neighbour peers for scripts/run_octave_benchmarks.sh (run with Debian's /usr/bin/python3).

  peers.py machine                      prints the dgemm rate: "gflops <GFLOP/s>"
  peers.py recall DIR P BUDGET_S       times each peer on the files Octave wrote into DIR:
      centres.f64 (M x n, row-major float64), labels.f64 (M), patterns.f64 (P x n) and n.txt.
      Prints one line per peer: "name fit_predict_s predict_s prefix": the fit, then the
      prediction of all patterns, timed separately; prefix is the number of patterns actually
      predicted (the time then scaled up to all of them) when a probe on the first 2000 says
      the whole set would take longer than BUDGET_S seconds, else 0.
Only the peer's own work is timed (fit, the float32 conversion FAISS needs, predict), never
the file reading.
"""
import math
import os
import sys
import time

import numpy as np


def seconds(work):
    start = time.perf_counter()
    result = work()
    return time.perf_counter() - start, result


def machine():
    a = np.random.default_rng(1).standard_normal((4096, 4096))
    b = np.random.default_rng(2).standard_normal((4096, 4096))
    np.dot(a[:512], b)  # warm the threads up
    best = min(seconds(lambda: np.dot(a, b))[0] for _ in range(3))
    print("gflops %.2f" % (2 * 4096.0 ** 3 / best / 1e9))


def sklearn_peer(algorithm, p):
    from sklearn.neighbors import KNeighborsClassifier
    if p == 1:
        metric = {"metric": "manhattan"}
    elif p == 2:
        metric = {"metric": "euclidean"}
    elif math.isinf(p):
        metric = {"metric": "chebyshev"}
    else:
        metric = {"metric": "minkowski", "p": p}

    def fit(centres, labels):
        return KNeighborsClassifier(n_neighbors=1, algorithm=algorithm, n_jobs=-1,
                                    **metric).fit(centres, labels)
    return fit, lambda model, patterns: model.predict(patterns)


def faiss_peer(p):
    import faiss
    if p == 2:
        make = lambda d: faiss.IndexFlatL2(d)
    elif p == 1:
        make = lambda d: faiss.IndexFlat(d, faiss.METRIC_L1)
    elif math.isinf(p):
        make = lambda d: faiss.IndexFlat(d, faiss.METRIC_Linf)
    elif hasattr(faiss, "METRIC_Lp"):
        def make(d):
            index = faiss.IndexFlat(d, faiss.METRIC_Lp)
            index.metric_arg = p
            return index
    else:
        return None

    def fit(centres, labels):
        index = make(centres.shape[1])
        index.add(np.ascontiguousarray(centres, dtype=np.float32))
        return index, labels

    def predict(fitted, patterns):
        index, labels = fitted
        _, nearest = index.search(np.ascontiguousarray(patterns, dtype=np.float32), 1)
        return labels[nearest[:, 0]]
    return fit, predict


def recall(folder, p, budget):
    n = int(open(os.path.join(folder, "n.txt")).read())
    read = lambda name: np.fromfile(os.path.join(folder, name), dtype=np.float64)
    centres = read("centres.f64").reshape(-1, n)
    labels = read("labels.f64")
    patterns = read("patterns.f64").reshape(-1, n)
    total = patterns.shape[0]
    peers = [("sk-brute", sklearn_peer("brute", p)), ("sk-kd_tree", sklearn_peer("kd_tree", p)),
             ("sk-ball_tree", sklearn_peer("ball_tree", p)), ("faiss-flat", faiss_peer(p))]
    for name, peer in peers:
        if peer is None:
            print("%s nan nan 0" % name)
            continue
        fit, predict = peer
        fit_seconds, fitted = seconds(lambda: fit(centres, labels))
        # A probe on a prefix tells whether the whole set fits the budget.
        probe = min(total, 2000)
        probe_seconds, _ = seconds(lambda: predict(fitted, patterns[:probe]))
        estimate = probe_seconds * total / probe
        timed = total if estimate <= budget else max(probe, int(total * budget / estimate))
        predict_seconds, _ = seconds(lambda: predict(fitted, patterns[:timed]))
        predict_seconds *= total / timed
        print("%s %.6g %.6g %d" % (name, fit_seconds + predict_seconds, predict_seconds,
                                    0 if timed == total else timed))
        sys.stdout.flush()


if __name__ == "__main__":
    if sys.argv[1] == "machine":
        machine()
    else:
        recall(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]))
