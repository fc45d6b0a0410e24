#!/usr/bin/env bash
# Times the archive writer and reader (through bench/tar_tool) against GNU tar on the same
# files and prints speed ratios (GNU tar's time / ours; 1.0 = as fast, goal >= 0.9).
#   bench/tar_bench.sh [SIZE_MB]      data set size, default 2048 (or TAR_BENCH_MB)
#   TAR_BENCH_RUNS=N                  timed rounds, the best of each case counts (default 5)
#   BUILD_DIR=path                    build folder (default ./build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mb=${1:-${TAR_BENCH_MB:-2048}}
runs=${TAR_BENCH_RUNS:-5}
build=${BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target tar_tool -j4 >/dev/null
tool=$build/bench/tar_tool

scratch=$(mktemp -d /tmp/tar_bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
src=$scratch/src
# The tool starts a (hidden) Qt application, which wants a private runtime folder.
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A data set shaped like an export: a few large files, many image-sized ones, some small ones.
/usr/bin/python3 - "$src" "$size_mb" <<'PY'
import os, random, sys
src, total = sys.argv[1], int(sys.argv[2]) << 20
rng = random.Random(7)
pool = os.urandom(64 << 20)
def write(rel, size):
    path = os.path.join(src, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        left = size
        while left:
            start = rng.randrange(0, len(pool) - (1 << 20))
            n = min(left, len(pool) - start)
            f.write(pool[start:start + n]); left -= n
budget = {'large': total // 4, 'image': total * 7 // 10, 'small': total // 20}
for i in range(4):
    write(f'Proj/raw/large_{i}.bin', budget['large'] // 4)
i = 0
while budget['image'] > 0:
    size = min(budget['image'], rng.randrange(2 << 20, 8 << 20))
    write(f'Proj/scans/scan_{i // 8:03d}/shot_{i}.jpg', size); budget['image'] -= size; i += 1
i = 0
while budget['small'] > 0:
    size = min(budget['small'], rng.randrange(1, 64 << 10))
    write(f'Proj/floors/floor_{i // 50:02d}/item_{i}.json', size); budget['small'] -= size; i += 1
PY
(cd "$src" && find . -type f | sed 's|^\./||' | sort) > "$scratch/list"
files=$(wc -l < "$scratch/list")
bytes=$(du -sb "$src" | cut -f1)

now() { date +%s%N; }
# Runs each case once per round, the cases interleaved so that both tools meet the same state
# of the page cache and write-back; the fastest round of each case counts (in ns).
declare -A best
cases=(gnu_create our_create gnu_extract our_extract)
setup_gnu_create() { rm -f "$scratch/gnu.tar"; }
run_gnu_create() { tar -cf "$scratch/gnu.tar" -C "$src" -T "$scratch/list"; }
setup_our_create() { rm -f "$scratch/our.tar"; }
run_our_create() { "$tool" create "$scratch/our.tar" "$src" "$scratch/list"; }
# Both extract the archive our writer made (GNU tar reads it too); ours unpacks beside it.
setup_gnu_extract() { rm -rf "$scratch/x1"; mkdir "$scratch/x1"; }
run_gnu_extract() { tar -xf "$scratch/our.tar" -C "$scratch/x1"; }
setup_our_extract() { rm -rf "$scratch/x2"; mkdir "$scratch/x2"; ln "$scratch/our.tar" "$scratch/x2/a.tar"; }
run_our_extract() { QT_QPA_PLATFORM=offscreen "$tool" extract "$scratch/x2/a.tar"; }

run_our_create # the extraction cases need its archive from the first round on
for ((r = 0; r < runs; ++r)); do
    for c in "${cases[@]}"; do
        "setup_$c"
        sync
        start=$(now)
        "run_$c"
        elapsed=$(($(now) - start))
        if [[ -z ${best[$c]:-} ]] || ((elapsed < best[$c])); then best[$c]=$elapsed; fi
    done
done

cmp -s <(tar -tf "$scratch/our.tar") "$scratch/list" || { echo "archive listing differs" >&2; exit 1; }
rm "$scratch/x2/a.tar"
diff -r "$scratch/x1" "$scratch/x2" >/dev/null || { echo "extracted trees differ" >&2; exit 1; }

printf 'data set: %d files, %d MiB; best of %d runs\n' "$files" $((bytes >> 20)) "$runs"
report() {
    awk -v what="$1" -v gnu="$2" -v ours="$3" \
        'BEGIN { printf "%-8s GNU tar %6.2f s   ours %6.2f s   ratio %.2fx\n", what, gnu / 1e9, ours / 1e9, gnu / ours }'
}
report create "${best[gnu_create]}" "${best[our_create]}"
report extract "${best[gnu_extract]}" "${best[our_extract]}"
