#!/usr/bin/python3
"""What the automatic alignment adds to the build of a one-lens scan.

Runs build/bench/shot_alignment_bench several times (its three benchmarks interleaved run by run,
as the machine is shared), then prints the median of each, the alignment's and levelling's share
of the scan's build and what they add to the rest of it, with the load average before and after.

Usage: bench/alignment_share.py [BUILD_DIR] [--runs N]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args(argv)
    program = os.path.join(args.build, "bench", "shot_alignment_bench")
    load_before = os.getloadavg()
    times = {}
    for _ in range(args.runs):
        output = subprocess.run([program, "--benchmark_format=json"], check=True, capture_output=True, text=True,
                                env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout
        for entry in json.loads(output)["benchmarks"]:
            name = entry["name"].split("/")[0]
            times.setdefault(name, []).append(entry["real_time"])
    load_after = os.getloadavg()
    median = {name: statistics.median(values) for name, values in times.items()}
    for name, values in times.items():
        print("%-22s median %8.1f ms   runs %s" % (name, median[name], " ".join("%.0f" % v for v in values)))
    align = median["BM_AlignShotsFeature"] + median["BM_AutoLevelStrict"]
    build = median["BM_ScanBuild"]
    print("alignment + levelling %.1f ms of a scan build of %.1f ms: share %.1f %%, adds %.1f %% to the rest"
          % (align, build, 100.0 * align / build, 100.0 * align / (build - align)))
    print("load average before %.1f, after %.1f, on %d cores" % (load_before[0], load_after[0], os.cpu_count()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
