#!/usr/bin/env bash
# Sets the envelope's throughput (bench/cipher_bench.cpp) against `openssl speed -evp aes-128-cbc`
# (16 KB buffers) on this machine: each round runs openssl's encryption, ours, openssl's decryption
# and ours, the order swapped every round. Prints per benchmark the medians and the ratio ours /
# openssl as times for the same bytes (below 1 ours is faster). Goals: encipher <= 1.11 (at least
# 0.9 of openssl's encryption speed), decipher <= 1.25 (0.8 of its decryption), single thread.
#
#   bench/cipher_vs_openssl.sh [path/to/cipher_bench] [rounds]   (default: build/bench/cipher_bench, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${1:-build/bench/cipher_bench}
rounds=${2:-5}
[[ -x $bench ]] || { echo "no benchmark program at $bench (build with benchmarks on)" >&2; exit 1; }
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 1; }

/usr/bin/python3 - "$bench" "$rounds" <<'PY'
import json, os, statistics, subprocess, sys

bench, rounds = sys.argv[1], int(sys.argv[2])

def openssl_rate(decrypt):
    # Machine-readable lines "+F:<n>:AES-128-CBC:<bytes per second>".
    out = subprocess.run(["openssl", "speed", "-mr", "-seconds", "2", "-bytes", "16384"]
                         + (["-decrypt"] if decrypt else []) + ["-evp", "aes-128-cbc"],
                         check=True, capture_output=True, text=True).stdout
    return float([line for line in out.splitlines() if line.startswith("+F:")][-1].split(":")[3])

def our_rates(name):
    out = subprocess.run([bench, f"--benchmark_filter=^{name}/", "--benchmark_min_time=0.3",
                          "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    return {b["name"]: b["bytes_per_second"] for b in json.loads(out)["benchmarks"]}

load = os.getloadavg()[0]
theirs = {"BM_Encipher": [], "BM_Decipher": []}
ours = {}
for r in range(rounds):
    for name in ("BM_Encipher", "BM_Decipher"):
        steps = [lambda: theirs[name].append(openssl_rate(name == "BM_Decipher")),
                 lambda: [ours.setdefault(k, []).append(v) for k, v in our_rates(name).items()]]
        for step in steps if r % 2 == 0 else reversed(steps):
            step()

print(f"medians of {rounds} interleaved rounds (load {load:.1f}, then {os.getloadavg()[0]:.1f})")
for name, goal in (("BM_Encipher", 1.11), ("BM_Decipher", 1.25)):
    reference = statistics.median(theirs[name])
    print(f"openssl aes-128-cbc {'encrypt' if name == 'BM_Encipher' else 'decrypt'}, 16 KB buffers: "
          f"{reference / 1e6:.0f} MB/s [{min(theirs[name]) / 1e6:.0f} .. {max(theirs[name]) / 1e6:.0f}]")
    for bench_name, rates in sorted(ours.items(), key=lambda kv: ("threads:" in kv[0], int(kv[0].split("/")[1]))):
        if not bench_name.startswith(name):
            continue
        rate = statistics.median(rates)
        line = f"  {bench_name:40} {rate / 1e6:7.0f} MB/s [{min(rates) / 1e6:.0f} .. {max(rates) / 1e6:.0f}]"
        if "threads:" not in bench_name:
            line += f"   ratio {reference / rate:.2f} (ours / openssl; goal <= {goal})"
        print(line)
print("Rows with 8 threads give the total over all threads; they have no ratio because openssl ran on one.")
PY
