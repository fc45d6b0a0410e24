#!/usr/bin/python3
"""Times the numeric kernels beside their reference libraries on this machine.

Runs each pair of benchmarks (ours, reference) in alternating order for several rounds, so that
load from other processes falls on both alike, and prints the medians and their ratio:
LM fit 3420 x 8 against cminpack's lmdif (goal <= 1.0, with equal evaluation counts), SVD
100 x 100 against LAPACK's dgesvd (goal <= 2.0), and corner detection on a 300 x 924 band on
4 threads (goals: textured under 5 ms, white noise under 1 s).

Usage: bench/numerics_compare.py [build-dir] [rounds]
"""
import json
import statistics
import subprocess
import sys

build = sys.argv[1] if len(sys.argv) > 1 else "build"
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 9


def run(program, name):
    out = subprocess.run(
        [f"{build}/bench/{program}", f"--benchmark_filter=^{name}$", "--benchmark_min_time=0.3",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    if not runs or runs[0].get("error_occurred"):
        sys.exit(f"{program} {name}: no result ({runs[0].get('error_message') if runs else 'not built'})")
    return runs[0]


def unit_ms(result):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[result["time_unit"]]
    return result["real_time"] * scale


def compare(program, ours, theirs, label, goal, counter=None):
    times = {ours: [], theirs: []}
    counters = {ours: set(), theirs: set()}
    for r in range(rounds):
        for name in ((ours, theirs) if r % 2 == 0 else (theirs, ours)):
            result = run(program, name)
            times[name].append(unit_ms(result))
            if counter:
                counters[name].add(result[counter])
    a, b = statistics.median(times[ours]), statistics.median(times[theirs])
    line = f"{label}: ours {a:.3f} ms, reference {b:.3f} ms, ratio {a / b:.2f} (goal <= {goal})"
    if counter:
        line += f", {counter} {sorted(counters[ours])} vs {sorted(counters[theirs])}"
    print(line)


def single(program, name, label, goal_ms):
    times = [unit_ms(run(program, name)) for _ in range(rounds)]
    print(f"{label}: median {statistics.median(times):.3f} ms (goal < {goal_ms} ms)")


compare("numerics_lm_bench", "BM_LmFitOurs", "BM_LmFitCminpack", "LM 3420 x 8 vs lmdif", 1.0, "evaluations")
compare("numerics_svd_bench", "BM_SvdOurs/100", "BM_SvdLapack/100", "SVD 100 x 100 vs dgesvd", 2.0)
single("numerics_features_bench", "BM_DetectTexturedBand/4/real_time", "Features, textured band, 4 threads", 5)
single("numerics_features_bench", "BM_DetectWhiteNoiseBand/4/real_time", "Features, white noise band, 4 threads", 1000)
