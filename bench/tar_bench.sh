#!/usr/bin/env bash
# Times the archive writer and reader (through bench/tar_tool) against GNU tar doing the same
# work on the same files: records of 128 KiB as ours (-b 256), ustar headers, and on extraction
# neither owners, permissions nor modification times restored (ours restores none of them).
# Prints per case the medians of the interleaved rounds, each side's spread and the ratio
# ours / GNU tar (below 1 ours is faster; goal <= 1.11, that is at least 0.9 of GNU tar's speed).
#   bench/tar_bench.sh [SIZE_MB]      data set size, default 2048 (or TAR_BENCH_MB)
#   TAR_BENCH_RUNS=N                  timed rounds (default 7)
#   BUILD_DIR=path                    build folder (default ./build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mb=${1:-${TAR_BENCH_MB:-2048}}
runs=${TAR_BENCH_RUNS:-7}
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
# of the page cache and write-back, GNU tar first in even rounds and ours first in odd ones.
declare -A times
setup_gnu_create() { rm -f "$scratch/gnu.tar"; }
run_gnu_create() { tar --format=ustar -b 256 -cf "$scratch/gnu.tar" -C "$src" -T "$scratch/list"; }
setup_our_create() { rm -f "$scratch/our.tar"; }
run_our_create() { "$tool" create "$scratch/our.tar" "$src" "$scratch/list"; }
# Both extract the archive our writer made (GNU tar reads it too); ours unpacks beside it.
setup_gnu_extract() { rm -rf "$scratch/x1"; mkdir "$scratch/x1"; }
run_gnu_extract() {
    tar -b 256 --no-same-owner --no-same-permissions --touch -xf "$scratch/our.tar" -C "$scratch/x1"
}
setup_our_extract() { rm -rf "$scratch/x2"; mkdir "$scratch/x2"; ln "$scratch/our.tar" "$scratch/x2/a.tar"; }
run_our_extract() { QT_QPA_PLATFORM=offscreen "$tool" extract "$scratch/x2/a.tar"; }

load_before=$(cut -d' ' -f1 /proc/loadavg)
run_our_create # the extraction cases need its archive from the first round on
for ((r = 0; r < runs; ++r)); do
    if ((r % 2 == 0)); then
        cases=(gnu_create our_create gnu_extract our_extract)
    else
        cases=(our_create gnu_create our_extract gnu_extract)
    fi
    for c in "${cases[@]}"; do
        "setup_$c"
        sync
        start=$(now)
        "run_$c"
        times[$c]+="$(($(now) - start)) "
    done
done

cmp -s <(tar -tf "$scratch/our.tar") "$scratch/list" || { echo "archive listing differs" >&2; exit 1; }
rm "$scratch/x2/a.tar"
diff -r "$scratch/x1" "$scratch/x2" >/dev/null || { echo "extracted trees differ" >&2; exit 1; }

printf 'data set: %d files, %d MiB; medians of %d interleaved rounds (load %s, then %s)\n' "$files" \
    $((bytes >> 20)) "$runs" "$load_before" "$(cut -d' ' -f1 /proc/loadavg)"
report() {
    /usr/bin/python3 - "$1" "$2" "$3" <<'PY'
import statistics, sys
what, gnu, ours = sys.argv[1], [int(t) / 1e9 for t in sys.argv[2].split()], [int(t) / 1e9 for t in sys.argv[3].split()]
g, o = statistics.median(gnu), statistics.median(ours)
print("%-8s ours %6.2f s [%.2f .. %.2f]   GNU tar %6.2f s [%.2f .. %.2f]   ratio %.2f (goal <= 1.11)"
      % (what, o, min(ours), max(ours), g, min(gnu), max(gnu), o / g))
PY
}
report create "${times[gnu_create]}" "${times[our_create]}"
report extract "${times[gnu_extract]}" "${times[our_extract]}"
