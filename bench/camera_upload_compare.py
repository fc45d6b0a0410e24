#!/usr/bin/python3
"""Times a firmware update over Wi-Fi (bench/camera_update_bench: status, upload, apply) against
curl streaming the same file to the same stand-in camera service (bench/fake_camera_service.py)
with `curl -X POST -T file`, the two in turn over several rounds. Prints medians: each program's
wall time from start to end, the transfer as each times it itself (ours: the whole update; curl:
its time_total), each one's peak resident memory, and every ratio as ours over curl's, taken pair
by pair. Goals: time at most 1.1x curl's; our peak under 32 MB whatever the file's size (the peak
with a 1-byte file is printed beside it).

Usage: bench/camera_upload_compare.py [build-dir] [rounds] [size-MB]
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
size = (int(sys.argv[3]) if len(sys.argv) > 3 else 200) * 1024 * 1024
program = os.path.join(build, "bench", "camera_update_bench")
if not os.access(program, os.X_OK):
    sys.exit(f"build {program} first (-DQUORIL_BENCH=ON)")


def run(args, env=None):
    """Runs a program to its end: its standard output, its wall time in seconds and its peak
    resident memory in bytes. The peak is GNU time's: a child of this script would count this
    script's own memory as its floor, whatever it ran."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        child = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + args, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=env)
        wall = time.perf_counter() - start
        if child.returncode != 0:
            sys.exit(f"{args[0]} failed with {child.returncode}")
        return child.stdout, wall, int(report.read().split()[-1]) * 1024


def ours(url, path):
    env = dict(os.environ, QUORIL_CAMERA_URL=url, QUORIL_FIRMWARE_FILE=path)
    out, wall, peak = run([program, "--benchmark_format=json"], env)
    result = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"][0]
    if result.get("error_occurred"):
        sys.exit("ours: " + result.get("error_message", "failed"))
    return result["real_time"] / 1000.0, wall, peak


def curl(url, path):
    # No "Expect: 100-continue" round trip: ours sends none either.
    out, wall, peak = run(["curl", "-sS", "--fail", "-o", "/dev/null", "-w", "%{time_total}", "-H", "Expect:",
                           "-H", "Content-Type: application/octet-stream", "-X", "POST", "-T", path,
                           url + "/store/fw6_update.7z"])
    return float(out), wall, peak


with tempfile.TemporaryDirectory() as work:
    firmware = os.path.join(work, "fw6_update.7z")
    with open(firmware, "wb") as f:
        for _ in range(size // (1 << 20)):
            f.write(os.urandom(1 << 20))
    tiny = os.path.join(work, "tiny.7z")
    with open(tiny, "wb") as f:
        f.write(b"x")
    service = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "fake_camera_service.py")],
                               stdout=subprocess.PIPE, text=True)
    try:
        url = "http://127.0.0.1:" + service.stdout.readline().strip()
        _, _, baseline = ours(url, tiny)
        runs = {"ours": [], "curl": []}  # (timed inside, wall, peak) of each round
        for r in range(rounds):
            for name in (("ours", "curl") if r % 2 == 0 else ("curl", "ours")):
                runs[name].append(ours(url, firmware) if name == "ours" else curl(url, firmware))
    finally:
        service.kill()


def median(name, field):
    return statistics.median(run[field] for run in runs[name])


def ratio(field):
    return statistics.median(a[field] / b[field] for a, b in zip(runs["ours"], runs["curl"]))


mb = 1024 * 1024
print(f"file {size / mb:.0f} MB, {rounds} rounds in turn, medians; ratio = ours / curl -T, pair by pair")
print(f"start to end     ours {median('ours', 1) * 1000:6.0f} ms   curl {median('curl', 1) * 1000:6.0f} ms"
      f"   ratio {ratio(1):.2f} (goal <= 1.1)")
print(f"as timed inside  ours {median('ours', 0) * 1000:6.0f} ms   curl {median('curl', 0) * 1000:6.0f} ms"
      f"   ratio {ratio(0):.2f} (ours: the whole update)")
print(f"peak memory      ours {median('ours', 2) / mb:6.1f} MB   curl {median('curl', 2) / mb:6.1f} MB"
      f"   ratio {ratio(2):.2f} (goal: ours < 32 MB; {baseline / mb:.1f} MB with a 1-byte file)")
