#!/usr/bin/env bash
# Times the SHA-1 of a whole file as the scan fingerprint hashes it (bench/sha1_tool) against
# `openssl dgst -sha1` on the same cached file, each a whole process, in turns (the order swapped
# every round). Checks that both print the same digest, then prints the medians and the ratio
# ours / openssl (below 1 ours is faster; goal <= 1.11, that is at least 0.9 of openssl's speed)
# with each side's spread and the load average.
# Usage: bench/sha1_bench.sh [build-dir] [rounds] [size-MB]
set -euo pipefail
build=${1:-build}
rounds=${2:-11}
size_mb=${3:-400}
tool="$build/bench/sha1_tool"
[[ -x "$tool" ]] || { echo "build $tool first" >&2; exit 1; }
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/data.bin"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$file"
cat "$file" >/dev/null

ours=$("$tool" "$file")
theirs=$(openssl dgst -sha1 "$file")
[[ "$ours" == "$theirs" ]] || { echo "digests differ: $ours / $theirs" >&2; exit 1; }

/usr/bin/python3 - "$rounds" "$size_mb" "$tool" "$file" <<'PY'
import os, statistics, subprocess, sys, time
rounds, size_mb, tool, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
commands = {"ours": [tool, path], "openssl": ["openssl", "dgst", "-sha1", path]}
times = {name: [] for name in commands}
load = os.getloadavg()
for r in range(rounds):
    for name in ("ours", "openssl") if r % 2 == 0 else ("openssl", "ours"):
        start = time.perf_counter()
        subprocess.run(commands[name], check=True, stdout=subprocess.DEVNULL)
        times[name].append(time.perf_counter() - start)
a, b = statistics.median(times["ours"]), statistics.median(times["openssl"])
spread = lambda v: "%.1f .. %.1f" % (min(v) * 1e3, max(v) * 1e3)
print("SHA-1 of a %d MB file, whole processes, medians of %d interleaved runs (load %.1f, then %.1f)"
      % (size_mb, rounds, load[0], os.getloadavg()[0]))
print("ours    %7.1f ms [%s]" % (a * 1e3, spread(times["ours"])))
print("openssl %7.1f ms [%s]" % (b * 1e3, spread(times["openssl"])))
print("ratio   %.2f (ours / openssl dgst -sha1; goal <= 1.11)" % (a / b))
PY
