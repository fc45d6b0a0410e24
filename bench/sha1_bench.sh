#!/usr/bin/env bash
# Compares the SHA-1 of a 100 MB file (as the scan fingerprint hashes files) with sha1sum on the
# same, cached file. Prints both times and the speed ratio (sha1sum time / ours; goal >= 0.9).
# Usage: bench/sha1_bench.sh [build-dir]
set -euo pipefail
build=${1:-build}
bench="$build/bench/sha1_bench"
[[ -x "$bench" ]] || { echo "build $bench first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/data.bin"
head -c $((100 * 1024 * 1024)) /dev/urandom >"$file"
cat "$file" >/dev/null

best_of() { # best wall time in seconds of five runs of a command
  /usr/bin/python3 - "$@" <<'PY'
import subprocess, sys, time
best = None
for _ in range(5):
    start = time.perf_counter()
    subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    best = elapsed if best is None else min(best, elapsed)
print("%.6f" % best)
PY
}

reference=$(best_of sha1sum "$file")
ours=$(QUORIL_SHA1_BENCH_FILE="$file" "$bench" --benchmark_filter='BM_Sha1HashFile/' \
  --benchmark_repetitions=5 --benchmark_format=json 2>/dev/null | /usr/bin/python3 -c '
import json, sys
runs = [b for b in json.load(sys.stdin)["benchmarks"] if b.get("run_type") == "iteration"]
print("%.6f" % (min(b["real_time"] for b in runs) / 1000.0))')
label=$(QUORIL_SHA1_BENCH_FILE="$file" "$bench" --benchmark_filter='BM_Sha1HashFile/' --benchmark_min_time=0.01 2>/dev/null \
  | grep -o 'sha instructions\|portable' | head -1)

/usr/bin/python3 - "$reference" "$ours" "$label" <<'PY'
import sys
reference, ours, label = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
print("sha1sum      %.1f ms" % (reference * 1000))
print("Sha1 (%s) %.1f ms" % (label, ours * 1000))
print("ratio        %.2fx (goal >= 0.9x)" % (reference / ours))
PY
