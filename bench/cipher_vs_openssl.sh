#!/usr/bin/env bash
# Sets the envelope's throughput (bench/cipher_bench.cpp) against `openssl speed -evp aes-128-cbc`
# on this machine and prints the ratios. Goals: encipher >= 0.9 x openssl's encryption,
# decipher >= 0.8 x its decryption (single thread; openssl runs 16 KB buffers).
#
#   bench/cipher_vs_openssl.sh [path/to/cipher_bench]   (default: build/bench/cipher_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${1:-build/bench/cipher_bench}
[[ -x $bench ]] || { echo "no benchmark program at $bench (build with benchmarks on)" >&2; exit 1; }
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Machine-readable lines "+F:<n>:AES-128-CBC:<bytes per second>".
openssl_rate() {
  openssl speed -mr -seconds 3 -bytes 16384 "$@" -evp aes-128-cbc 2>/dev/null |
    awk -F: '/^\+F:/ { rate = $4 } END { print rate }'
}
encrypt_rate=$(openssl_rate)
decrypt_rate=$(openssl_rate -decrypt)

"$bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out="$work/result.json" --benchmark_out_format=json >/dev/null

/usr/bin/python3 - "$work/result.json" "$encrypt_rate" "$decrypt_rate" <<'PY'
import json, sys
results, encrypt_rate, decrypt_rate = json.load(open(sys.argv[1])), float(sys.argv[2]), float(sys.argv[3])
print(f"openssl aes-128-cbc, 16 KB buffers: encrypt {encrypt_rate / 1e6:8.0f} MB/s, decrypt {decrypt_rate / 1e6:8.0f} MB/s")
print(f"{'benchmark (median of 3)':44} {'MB/s':>9} {'x openssl':>10}")
for b in results["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name = b["run_name"]
    rate = b["bytes_per_second"]
    reference = encrypt_rate if name.startswith("BM_Encipher") else decrypt_rate
    ratio = f"{rate / reference:10.2f}" if "threads:" not in name or "threads:1" in name else f"{'':>10}"
    print(f"{name:44} {rate / 1e6:9.0f} {ratio}")
print("Rows with 8 threads give the total over all threads; their ratio is left out because openssl ran on one.")
PY
