#!/usr/bin/python3
"""Times the product's kernels beside their yardsticks on this machine and prints the ratios.

Each pair (ours, reference) is run in turns, each run a fresh process of its benchmark program
(so that neither inherits the other's allocator or thread-pool state), the order swapped every
round, so that load from other processes falls on both alike. Printed per pair: the median of
each side, the ratio of the medians (ours / reference: below 1 ours is faster) and the spread of
each side (min .. max; a wide one says the machine was busy), with the load average before and
after. A pair of one program on one thread and on every core prints its speed-up the same way:
time on every core over time on one thread.

Usage: bench/compare.py [--build DIR] [--rounds N] [--env NAME=VALUE ...] [GROUP ...]
Groups: numerics (LM fit against cminpack, SVD against LAPACK), features (corner detection against
OpenCV's goodFeaturesToTrack), one_lens (quick renders against OpenCV's remap, colour
equalisation), hdr (exposure fusion against OpenCV's, and its speed-up), ztm4 (the laser-line
camera's HDR build, files included, against the same road through OpenCV). Default: all but ztm4.
--env sets a variable for both sides of every pair, e.g. OMP_WAIT_POLICY=passive: on a machine
whose processors other programs share, OpenMP threads that spin at the end of a short loop keep a
processor from the one thread still at work, which then waits for its next time slice; the
header line names every variable set.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

CORES = os.cpu_count() or 1


class Pair:
    def __init__(self, program, ours, reference, label, goal=None, counter=None):
        self.program, self.ours, self.reference = program, ours, reference
        self.label, self.goal, self.counter = label, goal, counter


def c(name):
    return name.replace("{cores}", str(CORES))


GROUPS = {
    "numerics": [
        Pair("numerics_lm_bench", "BM_LmFitOurs", "BM_LmFitCminpack", "LM fit 3420 x 8 / cminpack lmdif", 1.0,
             counter="evaluations"),
        Pair("numerics_svd_bench", "BM_SvdOurs/100", "BM_SvdLapack/100", "SVD 100 x 100 / LAPACK dgesvd", 2.0),
    ],
    "features": [
        Pair("numerics_features_bench", "BM_DetectTexturedBand/1/real_time", "BM_OpenCvTexturedBand/1/real_time",
             "corners, textured band 300 x 924, 1 thread / goodFeaturesToTrack", 1.2),
        Pair("numerics_features_bench", "BM_DetectWhiteNoiseBand/1/real_time", "BM_OpenCvWhiteNoiseBand/1/real_time",
             "corners, white-noise band 300 x 924, 1 thread / goodFeaturesToTrack", 1.2),
        Pair("numerics_features_bench", "BM_DetectTexturedBand/4/real_time", "BM_OpenCvTexturedBand/4/real_time",
             "corners, textured band, 4 threads / goodFeaturesToTrack"),
        Pair("numerics_features_bench", "BM_DetectWhiteNoiseBand/4/real_time", "BM_OpenCvWhiteNoiseBand/4/real_time",
             "corners, white-noise band, 4 threads / goodFeaturesToTrack"),
    ],
    "one_lens": [
        Pair("one_lens_bench", "BM_RenderPano/7200/3600/1/real_time", "BM_OpenCvRemap/7200/3600/0/1/real_time",
             "one-lens pano 7200 x 3600, 1 thread / OpenCV maps + remap", 1.0),
        Pair("one_lens_bench", c("BM_RenderPano/7200/3600/{cores}/real_time"),
             c("BM_OpenCvRemap/7200/3600/0/{cores}/real_time"),
             f"one-lens pano 7200 x 3600, {CORES} threads / OpenCV maps + remap", 1.0),
        Pair("one_lens_bench", "BM_RenderStrip/1200/200/1/real_time", "BM_OpenCvRemap/1200/200/1/1/real_time",
             "grey strip 1200 x 200, 1 thread / OpenCV grey planes + maps + remap", 1.0),
        Pair("one_lens_bench", c("BM_RenderStrip/1200/200/{cores}/real_time"),
             c("BM_OpenCvRemap/1200/200/1/{cores}/real_time"),
             f"grey strip 1200 x 200, {CORES} threads / OpenCV grey planes + maps + remap", 1.0),
        Pair("one_lens_bench", c("BM_EqualizeShotColors/{cores}/real_time"), "BM_EqualizeShotColors/1/real_time",
             f"colour equalisation, {CORES} threads / 1 thread", 1 / 3),
    ],
    "hdr": [
        Pair("ztm5_bench", "BM_MergeHdr/threads:1/real_time", "BM_OpenCvMergeMertens/threads:1/real_time",
             "HDR merge 3 x 3456 x 3456, 1 thread / OpenCV MergeMertens"),
        Pair("ztm5_bench", c("BM_MergeHdr/threads:{cores}/real_time"),
             c("BM_OpenCvMergeMertens/threads:{cores}/real_time"),
             f"HDR merge 3 x 3456 x 3456, {CORES} threads / OpenCV MergeMertens"),
        Pair("ztm5_bench", c("BM_MergeHdr/threads:{cores}/real_time"), "BM_MergeHdr/threads:1/real_time",
             f"HDR merge, {CORES} threads / 1 thread", 1 / 4),
    ],
    "ztm4": [
        Pair("ztm4_bench", "BM_Ztm4BuildHdrImages/threads:1/real_time", "BM_OpenCvBuildHdrImages/threads:1/real_time",
             "laser-line HDR build, 1 thread / OpenCV's road"),
        Pair("ztm4_bench", c("BM_Ztm4BuildHdrImages/threads:{cores}/real_time"),
             c("BM_OpenCvBuildHdrImages/threads:{cores}/real_time"),
             f"laser-line HDR build, {CORES} threads / OpenCV's road"),
    ],
}


def run(build, program, name, env):
    out = subprocess.run(
        [f"{build}/bench/{program}", f"--benchmark_filter=^{name}$", "--benchmark_min_time=0.3",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True, env=env).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    if not runs or runs[0].get("error_occurred"):
        sys.exit(f"{program} {name}: no result ({runs[0].get('error_message') if runs else 'no such benchmark'})")
    return runs[0]


def milliseconds(result):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[result["time_unit"]]
    return result["real_time"] * scale


def compare(build, rounds, env, pair):
    times = {pair.ours: [], pair.reference: []}
    counters = {pair.ours: set(), pair.reference: set()}
    for r in range(rounds):
        for name in (pair.ours, pair.reference) if r % 2 == 0 else (pair.reference, pair.ours):
            result = run(build, pair.program, name, env)
            times[name].append(milliseconds(result))
            if pair.counter:
                counters[name].add(result[pair.counter])
    a, b = statistics.median(times[pair.ours]), statistics.median(times[pair.reference])
    goal = f" (goal <= {pair.goal:.2f})" if pair.goal is not None else ""
    print(f"{pair.label}: ratio {a / b:.2f}{goal}")
    spread = lambda v: f"{min(v):.3f} .. {max(v):.3f}"
    print(f"    ours {a:.3f} ms [{spread(times[pair.ours])}], reference {b:.3f} ms [{spread(times[pair.reference])}]"
          + (f", {pair.counter} {sorted(counters[pair.ours])} vs {sorted(counters[pair.reference])}"
             if pair.counter else ""))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description="Interleaved medians of the product against its yardsticks.")
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("groups", nargs="*", choices=[[], *GROUPS], default=[])
    args = parser.parse_args()
    groups = args.groups or [g for g in GROUPS if g != "ztm4"]
    env = dict(os.environ)
    for setting in args.env:
        name, _, value = setting.partition("=")
        env[name] = value
    print("load average %.1f %.1f %.1f on %d cores; medians of %d interleaved runs%s"
          % (*os.getloadavg(), CORES, args.rounds, "; with " + " ".join(args.env) if args.env else ""))
    for group in groups:
        for pair in GROUPS[group]:
            compare(args.build, args.rounds, env, pair)
    print("load average %.1f %.1f %.1f at the end" % os.getloadavg())


main()
