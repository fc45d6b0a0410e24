#!/usr/bin/python3
"""Writes a project folder of the one-lens lidar camera for tests: the camera's "system.cfg"
(make_system_cfg.py: struct + crcmod) and, on one floor, scans of a synthetic L-shaped room.

Each scan folder holds three square shots "h1.jpg" .. "h3.jpg" (or, for the first shot, the
bracketed exposures "p0.jpg" .. "p2.jpg"), three lidar files "pts1.dat" .. "pts3.dat" ray-cast
from the room and "scan.json". The camera turns between shots: lidar file 1 sweeps with shot 1,
lidar file 2 with shot 3 (turned by 240 degrees plus the scan's yaw3) and lidar file 3 with
shot 2 (120 degrees plus yaw2); every sweep starts at its own fraction of a sample step, so that
no two sweeps sample the same directions. With --calib-tilt the lidar's records carry a planted
calibration error (see miscalibrated). The shots show a gradient with a red square in each file's
top left, or with --sky-scene a sky above a floor and a red disc in a known direction, seen
through the calibration's lens (one_lens_optics.py) as the camera turned: each file holds the sky
in its top rows.

Conventions: millimetres, y pointing down as in the floor plan; a direction's angle is
atan2(-y, x). A lidar record is float32 x and float32 y with y pointing up; the file starts with
the sweep's heading (float32, radians).

A module too: write_project(out, ...) returns the description that --describe prints: per scan
its folder, the true yaws (radians), the room's outline in the first sweep's frame, the lidar
heading the sweeps' headings give (degrees) and the "scan.json" values.
"""

import argparse
import json
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import system_python  # noqa: E402

system_python.require("numpy", "PIL", "crcmod")

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import make_system_cfg  # noqa: E402
import one_lens_optics  # noqa: E402

SERIAL = "MS2200417"
# The room in floor-plan coordinates: a rectangle with its top right corner cut away.
ROOM = [(-2600.0, -1900.0), (1300.0, -1900.0), (1300.0, -700.0), (3100.0, -700.0), (3100.0, 2300.0),
        (-2600.0, 2300.0)]
# Where each scan stands, how its first sweep is turned in the room (degrees) and how far the
# camera really turned beyond 240 (yaw3) and 120 (yaw2) degrees.
SCANS = [
    {"at": (-400.0, 300.0), "turn": 17.0, "yaw3": 1.6, "yaw2": -2.35},
    {"at": (500.0, 800.0), "turn": -64.0, "yaw3": -3.1, "yaw2": 0.9},
    {"at": (-1800.0, 1300.0), "turn": 151.0, "yaw3": 4.45, "yaw2": -0.55},
]
SWEEP_HEADING = 0.3  # radians, the compass heading of the first shot
MARKER = (0.04, 0.14)  # the red marker's extent, fractions of the shot's side from the top left
# The sky scene's red disc: azimuth, elevation above the horizon and radius, degrees. Its azimuth
# lies in shot 1's sector, away from the seams.
SKY_MARKER = (100.0, 25.0, 5.0)
EXPOSURE_GAINS = (0.3, 1.0, 3.5)
LIDAR_PIVOT = 26.0  # mm: the lidar turns about this point below the camera's axis (y up)


def turn_point(x, y, degrees):
    """Turns a y-down point so that its angle atan2(-y, x) grows by degrees."""
    a = math.radians(degrees)
    up = -y
    return x * math.cos(a) - up * math.sin(a), -(x * math.sin(a) + up * math.cos(a))


def outline_in_sweep_frame(scan):
    """The room as the first sweep sees it: around the scanner, turned back by the scan's turn."""
    return [turn_point(x - scan["at"][0], y - scan["at"][1], -scan["turn"]) for x, y in ROOM]


def ray_cast(polygon, angles_deg):
    """Distance from the origin to the polygon along each angle (atan2(-y, x), degrees)."""
    a = np.radians(np.asarray(angles_deg, dtype=np.float64))
    dx, dy = np.cos(a), -np.sin(a)
    best = np.full(a.shape, np.inf)
    n = len(polygon)
    for i in range(n):
        (ax, ay), (bx, by) = polygon[i], polygon[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        denom = dx * ey - dy * ex
        with np.errstate(divide="ignore", invalid="ignore"):
            t = (ax * ey - ay * ex) / denom
            u = (ax * dy - ay * dx) / denom
        hit = (np.abs(denom) > 1e-12) & (t > 0) & (u >= 0) & (u <= 1)
        best = np.where(hit & (t < best), t, best)
    return best


def miscalibrated(xs, ys, azimuth, tilt):
    """Where a lidar whose calibration rotation is off by (azimuth, tilt) records the true returns
    (x, y up): each return turns about the lidar's own centre, 26 mm below the camera's axis, so
    that the correction a + tilt * sin(a + azimuth) of its angle a there gives the true one back."""
    if tilt == 0.0:
        return xs, ys
    qx, qy = xs, ys + LIDAR_PIVOT
    r, true_angle = np.hypot(qx, qy), np.arctan2(qy, qx)
    a = true_angle.copy()
    for _ in range(30):
        a = true_angle - tilt * np.sin(a + azimuth)
    return r * np.cos(a), r * np.sin(a) - LIDAR_PIVOT


def sweep_records(polygon, turn_deg, step_deg, start_deg, rng, noise_mm, calibration):
    """One sweep's records (x, y up) in its own frame; it is turned by turn_deg against the first."""
    own = np.arange(start_deg, 360.0, step_deg)
    distance = ray_cast(polygon, own + turn_deg)
    distance = distance + rng.normal(0.0, noise_mm, size=distance.shape)
    a = np.radians(own)
    xs, ys = miscalibrated(distance * np.cos(a), distance * np.sin(a), *calibration)
    return np.float32(xs), np.float32(ys)


def lidar_file(heading, xs, ys):
    data = struct.pack("<f", heading)
    return data + np.stack([xs, ys], axis=1).astype("<f4").tobytes()


def shot_picture(width, side, shot, plain=False):
    """Top-down rows of one shot: a gradient of the shot's own hue and the red marker near the
    top left of the centred square, as linear light between 0 and about 1. Plain shots are one
    flat grey: nothing in them to align the shots by, so the turns stay the lidar's."""
    if plain:
        return np.full((side, width, 3), 0.4)
    offset = (width - side) // 2
    u = (np.arange(width, dtype=np.float64) + 0.5 - offset) / side
    v = (np.arange(side, dtype=np.float64) + 0.5) / side
    uu, vv = np.meshgrid(u, v)
    hue = [(0.25, 0.45, 0.7), (0.6, 0.5, 0.25), (0.35, 0.6, 0.35)][shot]
    light = np.stack([hue[c] * (0.35 + 0.65 * vv) + 0.08 * np.sin(uu * 40 + c) for c in range(3)], axis=-1)
    # Texture, so that every exposure has some contrast where it is well exposed.
    light += 0.05 * ((np.floor(uu * 24) + np.floor(vv * 24)) % 2)[..., None]
    marker = (uu >= MARKER[0]) & (uu < MARKER[1]) & (vv >= MARKER[0]) & (vv < MARKER[1])
    light[marker] = (0.9, 0.02, 0.02)
    return np.clip(light, 0.0, None)


def sky_picture(lens, width, side, shot, scan):
    """Top-down rows of one shot of the sky scene through the lens, the camera turned as in the
    scan: a bright sky in the picture's top rows, a dark floor below and the red disc."""
    own = (0.0, math.radians([0.0, scan["yaw2"], scan["yaw3"]][shot]), 0.0)
    matrix = one_lens_optics.shot_matrix(shot, own)
    return one_lens_optics.shot_light(lens, side, width, matrix, one_lens_optics.sky_scene(SKY_MARKER))


exposed = one_lens_optics.exposed


def write_jpeg(path, pixels):
    Image.fromarray(pixels, "RGB").save(path, "JPEG", quality=95)


def write_scan(folder, scan, index, side, exposures, exposure_width, step_deg, noise_mm, rng, calibration,
               plain=False, sky_lens=None):
    os.makedirs(folder)
    polygon = outline_in_sweep_frame(scan)
    turns = [0.0, 240.0 + scan["yaw3"], 120.0 + scan["yaw2"]]
    counts = []
    for k, turn in enumerate(turns):
        xs, ys = sweep_records(polygon, turn, step_deg, step_deg * (0.13 + 0.29 * k), rng, noise_mm, calibration)
        heading = SWEEP_HEADING + math.radians(turn)
        with open(os.path.join(folder, "pts%d.dat" % (k + 1)), "wb") as out:
            out.write(lidar_file(heading, xs, ys))
        counts.append(len(xs))
    def picture(width, shot):
        if sky_lens:
            return sky_picture(sky_lens, width, side, shot, scan)
        return shot_picture(width, side, shot, plain)

    for shot in range(3):
        if shot == 0 and exposures:
            light = picture(exposure_width, shot)
            for k in range(exposures):
                write_jpeg(os.path.join(folder, "p%d.jpg" % k), exposed(light, EXPOSURE_GAINS[k]))
        else:
            write_jpeg(os.path.join(folder, "h%d.jpg" % (shot + 1)), exposed(picture(side, shot), 1.0))
    record = {"pos": [scan["at"][0], -scan["at"][1]], "rot": math.radians(scan["turn"]),
              "shutterCounter": 5100 + 3 * index, "hidden": index % 2, "globalId": "ztm5-scan-%d" % index,
              "systemcfg": "system.cfg", "alignmentScore": 0.75}
    with open(os.path.join(folder, "scan.json"), "w", encoding="utf-8") as out:
        json.dump(record, out, indent=4)
    return {"yaw3": math.radians(scan["yaw3"]), "yaw2": math.radians(scan["yaw2"]), "outline": polygon,
            "lidarHeading": math.degrees(math.atan2(-math.sin(SWEEP_HEADING), math.cos(SWEEP_HEADING))),
            "points": counts, "scanJson": record}


def write_project(out, scans=1, side=96, exposures=0, exposure_width=None, step_deg=0.2, noise_mm=1.0, seed=5,
                  calibration=(0.0, 0.0), plain=False, sky=False, serial=SERIAL, grade_hint=None):
    os.makedirs(out, exist_ok=True)
    if os.listdir(out):
        raise SystemExit("%s is not empty" % out)
    rng = np.random.default_rng(seed)
    values = {"U0": side / 2.0, "V0": side / 2.0, "F": side * 0.376}
    values.update({"VC%d" % i: 0.0 for i in range(10)})
    data, system = make_system_cfg.build_ztm5(serial=serial, width=side, height=side, values=values)
    with open(os.path.join(out, "system.cfg"), "wb") as f:
        f.write(data)
    with open(os.path.join(out, "project.json"), "w") as f:
        json.dump({"extWallThickness": 250, "cam360": {"model": "ZTM5", "serial": serial}}, f, indent=1)
    floor = os.path.join(out, "Ground")
    os.makedirs(floor)
    if grade_hint is not None:
        with open(os.path.join(floor, "floor.json"), "w") as f:
            json.dump({"gradeHint": grade_hint}, f, indent=1)
    described = []
    for i in range(scans):
        scan = SCANS[i % len(SCANS)]
        folder = os.path.join(floor, "%03d" % (i + 1))
        entry = write_scan(folder, scan, i, side, exposures, exposure_width or side, step_deg, noise_mm, rng,
                           calibration, plain, system["values"] if sky else None)
        entry["dir"] = os.path.relpath(folder, out)
        described.append(entry)
    return {"serial": serial, "side": side, "system": system, "room": ROOM, "marker": MARKER,
            "skyMarker": {"azimuth": SKY_MARKER[0], "elevation": SKY_MARKER[1], "radius": SKY_MARKER[2]},
            "scans": described,
            "calibration": {"azimuth": calibration[0], "tilt": calibration[1]}}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out", help="project folder to write (created; must be empty)")
    parser.add_argument("--scans", type=int, default=1)
    parser.add_argument("--side", type=int, default=96, help="side of the square shots")
    parser.add_argument("--exposures", type=int, default=0, choices=[0, 1, 2, 3],
                        help="the first shot as this many exposures p0.jpg ... instead of h1.jpg")
    parser.add_argument("--exposure-width", type=int, help="exposures this wide (default: square)")
    parser.add_argument("--step", type=float, default=0.2, help="lidar sample step, degrees")
    parser.add_argument("--noise", type=float, default=1.0, help="lidar range noise, mm (standard deviation)")
    parser.add_argument("--seed", type=int, default=5)
    parser.add_argument("--calib-azimuth", type=float, default=0.0,
                        help="direction (radians) of the lidar's planted calibration error")
    parser.add_argument("--calib-tilt", type=float, default=0.0,
                        help="size (radians) of the lidar's planted calibration error: the correction "
                             "a + tilt * sin(a + azimuth) gives the true returns back")
    parser.add_argument("--plain-shots", action="store_true", help="flat grey shots (no texture to align by)")
    parser.add_argument("--sky-scene", action="store_true",
                        help="shots of a sky above a floor with a red disc, through the calibration's lens")
    parser.add_argument("--serial", default=SERIAL, help="the camera's serial number (default %(default)s)")
    parser.add_argument("--grade-hint", type=int, choices=[1, 2],
                        help="the floor's \"floor.json\" states this grade level (1 below, 2 above)")
    parser.add_argument("--describe", action="store_true", help="print what was written as JSON")
    args = parser.parse_args(argv)
    if args.scans < 0 or args.side < 8 or (args.exposure_width or args.side) < args.side or args.step <= 0:
        parser.error("no negative counts, shots of at least 8 pixels, exposures not narrower than the shots")
    described = write_project(args.out, args.scans, args.side, args.exposures, args.exposure_width, args.step,
                              args.noise, args.seed, (args.calib_azimuth, args.calib_tilt), args.plain_shots,
                              args.sky_scene, args.serial, args.grade_hint)
    if args.describe:
        json.dump(described, sys.stdout, indent=1)
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
