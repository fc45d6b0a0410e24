#!/usr/bin/python3
"""Times a 200 MB firmware update over Wi-Fi against curl uploading the same file to the same
stand-in camera service (bench/fake_camera_service.py), in alternating order over several rounds,
and prints the medians: throughput of each (goal: ours at least half of curl's) and our peak
memory (goal: under twice the file size). Two views of the time: each program from start to end
(both read the file and send it; ours also asks for the status and applies), and the transfer as
each times it itself (ours: the whole update, file read included; curl: the upload once the file
is in memory, so this view favours curl).

Usage: bench/camera_upload_compare.py [build-dir] [rounds]
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
size = 200 * 1024 * 1024
program = os.path.join(build, "bench", "camera_update_bench")
if not os.access(program, os.X_OK):
    sys.exit(f"build {program} first (-DQUORIL_BENCH=ON)")


def run(args, env=None):
    """Runs a program to its end: its standard output, its wall time in seconds and its peak
    resident memory in bytes."""
    start = time.perf_counter()
    child = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{args[0]} failed with {child.returncode}")
    return out, wall, usage.ru_maxrss * 1024


def ours(url, path):
    env = dict(os.environ, QUORIL_CAMERA_URL=url, QUORIL_FIRMWARE_FILE=path)
    out, wall, peak = run([program, "--benchmark_format=json"], env)
    result = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"][0]
    if result.get("error_occurred"):
        sys.exit("ours: " + result.get("error_message", "failed"))
    return result["real_time"] / 1000.0, wall, peak


def curl(url, path):
    out, wall, peak = run(["curl", "-sS", "--fail", "-o", "/dev/null", "-w", "%{time_total}", "-H", "Expect:",
                     "-H", "Content-Type: application/octet-stream", "--data-binary", "@" + path,
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
        times = {"ours": [], "curl": []}
        walls = {"ours": [], "curl": []}
        peaks = {"ours": [], "curl": []}
        for r in range(rounds):
            for name in (("ours", "curl") if r % 2 == 0 else ("curl", "ours")):
                seconds, wall, peak = ours(url, firmware) if name == "ours" else curl(url, firmware)
                times[name].append(seconds)
                walls[name].append(wall)
                peaks[name].append(peak)
    finally:
        service.kill()

mb = 1024 * 1024
t_ours, t_curl = statistics.median(times["ours"]), statistics.median(times["curl"])
w_ours, w_curl = statistics.median(walls["ours"]), statistics.median(walls["curl"])
p_ours, p_curl = statistics.median(peaks["ours"]), statistics.median(peaks["curl"])
print(f"file                   {size / mb:.0f} MB, {rounds} rounds, medians")
print(f"start to end     ours  {w_ours * 1000:.0f} ms, {size / mb / w_ours:.0f} MB/s")
print(f"                 curl  {w_curl * 1000:.0f} ms, {size / mb / w_curl:.0f} MB/s")
print(f"                 ratio {w_curl / w_ours:.2f} (goal >= 0.5)")
print(f"as timed inside  ours  {t_ours * 1000:.0f} ms (update, file read included)")
print(f"                 curl  {t_curl * 1000:.0f} ms (upload of the file already read)")
print(f"                 ratio {t_curl / t_ours:.2f}")
print(f"peak memory      ours  {p_ours / mb:.0f} MB = {p_ours / size:.2f}x the file (goal < 2); "
      f"{baseline / mb:.0f} MB with a 1-byte file")
print(f"                 curl  {p_curl / mb:.0f} MB")
