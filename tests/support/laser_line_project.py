#!/usr/bin/python3
"""Writes a project folder of the laser-line camera (three fisheye shots per scan and laser line
projectors instead of a lidar) as the camera and its field application leave it, for tests and
for trying the program without a camera.

The folder holds the camera's "system.cfg" (make_system_cfg.py: struct + crcmod) with one plane
record per laser, "project.json", the legacy layout "house.dat" naming each floor's scans, each
floor's folder with its "floor.json", and one folder per scan at the top ("Ground_001", ...), which
the program's first import moves into its floor's folder. It exports as written. A scan folder
holds:
  shots        "ha.jpg", "hb.jpg", "hc.jpg": a synthetic room seen through the lens model, or, for
               some shots, three bracketed exposures "pa0.jpg" .. "pa2.jpg" as wide as the camera's
               images, whose centred square is the shot
  centroids    "aCts.dat" .. "cCts.dat": float32 (u, v) pixel positions of the laser lines, made from
               known wall points through the laser and lens model, with some records the camera
               marks as empty (negative) or that fall between the lasers' column ranges
  "pos.txt"    position and the compass angle of each shot ("Ang0:" ...), from a planted heading
  "room.dat"   (some scans) the field application's placement, which takes precedence

Everything is computed here, in double precision, from the models' formulas; nothing of the
program is used. Conventions: millimetres; floor plans have y pointing down; the camera frame has
x right, y towards the bottom of the shot's picture and z along the optical axis (see
one_lens_optics.py); a shot's pixel positions address its rows bottom-up (the JPEG files are
top-down, the ceiling in their top rows).

Shot k of a scan looks along yaw k: a camera point (X, Z) lies at (c X - s Z, -(c Z + s X)) of the
scan's frame, c and s the cosine and sine of the yaw; the yaws are 0, yaw3 + 4 pi / 3 and
yaw2 + 2 pi / 3. The compass angle of shot k is the heading plus 2 pi k / 3 (with --two-angles
only two angles, half a turn apart). The scan stands at its position turned by 360 - h degrees
(h the heading in radians), so that a point p of its frame lies at position + R(360 - h) p on the
floor, R turning clockwise on the plan.

A module too: write_project(out, ...) returns the description --describe prints.
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
from one_lens_optics import TINY, exposed, project, shot_light as light_through_lens, shot_matrix  # noqa: E402

SERIAL = "ZT4-00512"
LASERS = 3
EXPOSURE_GAINS = (0.35, 1.0, 2.8)
SPACING = 750.0
MARKER = (60.0, 20.0)  # the red marker of every shot: azimuth and elevation (up), degrees
# Floors: a room (polygon, y down) and where each scan stands, its heading (radians) and which of
# its files are written in their other form. Scans stand at least SPACING from each other and from
# the floor's origin, where a user scan (which has no position of its own) stands.
FLOORS = [
    {"name": "Ground",
     "room": [(-2600.0, -1900.0), (1300.0, -1900.0), (1300.0, -700.0), (3100.0, -700.0), (3100.0, 2300.0),
              (-2600.0, 2300.0)],
     "scans": [{"at": (-1100.0, 600.0), "heading": 0.7, "exposures": True, "room_dat": False, "two_angles": False},
               {"at": (1600.0, 900.0), "heading": 2.9, "exposures": False, "room_dat": True, "two_angles": True}]},
    {"name": "1st Floor",
     "room": [(-2100.0, -1700.0), (2400.0, -1700.0), (2400.0, 1800.0), (-2100.0, 1800.0)],
     "scans": [{"at": (900.0, -800.0), "heading": 5.1, "exposures": False, "room_dat": False, "two_angles": False},
               {"at": (-1000.0, 900.0), "heading": 4.0, "exposures": True, "room_dat": True, "two_angles": False}]},
]


# ----------------------------------------------------------------------------------------------
# Calibration


def calibration(side, width):
    """Lens and laser values for shots of side x side pixels, scaled from the camera's 2848."""
    scale = side / 2848.0
    focal = 1050.0 * scale
    half = side / 2.0
    lens = {"F": focal, "U0": half + 0.75 * scale * 10, "V0": half - 0.5 * scale * 10, "RY": 0.9985,
            # Mild distortion: at the edge of the image the radial term moves a pixel by 0.4 percent.
            "K1": 0.004 / (half * half), "K2": 0.0, "K3": 0.0,
            "P1": 0.05 / (side * side), "P2": -0.04 / (side * side), "P3": 0.0,
            "COMPASS_OFFSET": 0.0, "LENS_FOV": 3.229, "RCA": 1.00106, "BCA": 1.00003}
    lens = {k: make_system_cfg.as_float32(v) for k, v in lens.items()}
    # The lasers fan across the image: laser i serves a sixth of a turn of directions, and the
    # columns where its line lies. The ranges leave a gap between lasers.
    boundary = focal * math.pi / 6.0
    gap = 0.04 * focal
    ranges = [(0.0, lens["U0"] - boundary - gap), (lens["U0"] - boundary + gap, lens["U0"] + boundary - gap),
              (lens["U0"] + boundary + gap, float(side))]
    lasers = []
    for i in range(LASERS):
        nx, nz = 0.01 * (i - 1), 0.015
        record = {"PN": -(300.0 + 40.0 * i), "NX": nx, "NY": math.sqrt(1.0 - nx * nx - nz * nz), "NZ": nz,
                  "A0": 0.001 * (i + 1), "A1": -0.002, "A2": 0.0015, "A3": -0.0005, "A4": 0.0002, "A5": -0.0001,
                  "UMIN": ranges[i][0], "UMAX": ranges[i][1]}
        lasers.append({k: make_system_cfg.as_float32(v) for k, v in record.items()})
    return lens, lasers


def system_cfg(side, width, serial=SERIAL):
    lens, lasers = calibration(side, width)
    values = {k: v for k, v in lens.items()}
    laser_values = {(i, k): v for i, record in enumerate(lasers) for k, v in record.items()}
    return make_system_cfg.build_ztm4(serial=serial, lasers=LASERS, values=values, laser_values=laser_values,
                                      integers={"IMGWIDTH": width, "IMGHEIGHT": side})


# ----------------------------------------------------------------------------------------------
# The lasers


def laser_sector_centre(i, count=LASERS):
    """Laser angle w (pi/2 minus the direction's angle from the axis towards x) at the middle of
    laser i's share of the fan."""
    return ((count - i) - 0.5) * math.pi / count


def laser_polynomial(laser, w):
    return sum(laser["A%d" % k] * w ** k for k in range(6))


def laser_pixel(lens, laser, i, point):
    """The pixel whose ray, bent by laser i's polynomial, runs through a camera point on its plane."""
    x, y, z = point
    w = math.pi / 2 - math.atan(x / z) - laser_sector_centre(i)
    q = laser_polynomial(laser, w)
    # The pixel's unit direction d satisfies (dx, dy + q, dz) = k (x, y, z) for some k > 0.
    n2 = x * x + y * y + z * z
    k = (y * q + math.sqrt((y * q) ** 2 - n2 * (q * q - 1.0))) / n2
    u, v = project(lens, np.float64(k * x), np.float64(k * y - q), np.float64(k * z))
    return float(u), float(v)


def ray_cast(polygon, dx, dy):
    """Distance from the origin to the polygon along (dx, dy)."""
    best = math.inf
    n = len(polygon)
    for j in range(n):
        (ax, ay), (bx, by) = polygon[j], polygon[(j + 1) % n]
        ex, ey = bx - ax, by - ay
        denom = dx * ey - dy * ex
        if abs(denom) < 1e-12:
            continue
        t = (ax * ey - ay * ex) / denom
        s = (ax * dy - ay * dx) / denom
        if t > 0 and 0 <= s <= 1:
            best = min(best, t)
    return best


def shot_centroids(lens, lasers, side, polygon, yaw, samples):
    """Records of one shot's centroid file and the scan-frame wall points the good ones show."""
    c, s = math.cos(yaw), math.sin(yaw)
    records, points = [], []
    for i, laser in enumerate(lasers):
        half_share = math.pi / (2 * len(lasers))
        for w in np.linspace(-0.85 * half_share, 0.85 * half_share, samples):
            phi = math.pi / 2 - (w + laser_sector_centre(i))
            cam_x, cam_z = math.sin(phi), math.cos(phi)
            floor_x, floor_y = c * cam_x - s * cam_z, -(c * cam_z + s * cam_x)
            distance = ray_cast(polygon, floor_x, floor_y)
            if not math.isfinite(distance):
                continue
            x, z = distance * cam_x, distance * cam_z
            y = (laser["PN"] - laser["NX"] * x - laser["NZ"] * z) / laser["NY"]
            u, v = laser_pixel(lens, laser, i, (x, y, z))
            stored = struct.unpack("<2f", struct.pack("<2f", u, v))
            inside = 0 <= stored[1] < side and laser["UMIN"] <= stored[0] <= laser["UMAX"]
            earlier = any(lasers[j]["UMIN"] <= stored[0] <= lasers[j]["UMAX"] for j in range(i))
            if not inside or earlier or not 250000.0 < x * x + z * z < 3.5e8:
                continue
            records.append(stored)
            points.append((distance * floor_x, distance * floor_y))
    # Records the camera marks as empty, and one between two lasers' columns: none gives a point.
    gap_u = (lasers[0]["UMAX"] + lasers[1]["UMIN"]) / 2.0
    extras = [(-1.0, side / 2.0), (side / 2.0, -1.0), (gap_u, side / 3.0)]
    for k, extra in enumerate(extras):
        records.insert(min(len(records), 1 + 7 * k), extra)
    data = b"".join(struct.pack("<2f", u, v) for u, v in records)
    return data, points


# ----------------------------------------------------------------------------------------------
# Shots


def scene_colour(dx, up, dz):
    """Linear light of a room around the camera, by world direction: ceiling, four walls, a door
    and a red marker, a wooden floor."""
    azimuth = np.degrees(np.arctan2(dz, dx)) % 360.0
    elevation = np.degrees(np.arcsin(np.clip(up, -1.0, 1.0)))
    walls = np.array([[0.62, 0.52, 0.38], [0.42, 0.50, 0.62], [0.66, 0.60, 0.45], [0.48, 0.58, 0.44]])
    light = walls[(azimuth // 90).astype(int) % 4]
    light = light * (0.8 + 0.2 * np.cos(np.radians(azimuth * 6)))[..., None]
    light = np.where((elevation > 35)[..., None], np.array([0.85, 0.85, 0.82]), light)
    planks = ((azimuth // 5).astype(int) % 2) * 0.08
    wood = np.stack([0.35 + planks, 0.22 + planks * 0.6, 0.12 + 0 * planks], axis=-1)
    light = np.where((elevation < -28)[..., None], wood, light)
    door = (np.abs(azimuth - 135.0) < 9) & (elevation < 12) & (elevation > -28)
    light = np.where(door[..., None], np.array([0.30, 0.18, 0.10]), light)
    marker = (np.abs(azimuth - MARKER[0]) < 4) & (np.abs(elevation - MARKER[1]) < 4)
    light = np.where(marker[..., None], np.array([0.9, 0.03, 0.03]), light)
    return light


def shot_light(lens, side, width, shot):
    """Linear light of shot k as a top-down (side, width) picture whose centred square is the shot:
    the room with its ceiling in the picture's top rows, as the camera takes it."""
    return light_through_lens(lens, side, width, shot_matrix(shot), scene_colour)


def write_jpeg(path, pixels):
    Image.fromarray(pixels, "RGB").save(path, "JPEG", quality=95)


# ----------------------------------------------------------------------------------------------
# Scan files


def utf16_record(text):
    return struct.pack("<i", len(text)) + text.encode("utf-16-le")


def room_dat(position, heading, version=12):
    """The field application's scan file: header, a name, flags, image parameters and corner
    records it keeps for itself, then the scan's position (y up) and heading."""
    data = struct.pack("<I", version) + utf16_record("Room")
    data += b"\x01" + (b"\x00" if version >= 12 else b"") + struct.pack("<i", 7)
    data += struct.pack("<i", 2) + struct.pack("<2f", 0.5, 0.25)
    data += struct.pack("<i", 3) + b"".join(struct.pack("<2f", 10.0 * k, -5.0 * k) for k in range(3))
    return data + struct.pack("<3f", position[0], -position[1], heading)


def pos_txt(position, angles):
    text = "PosX:%f\nPosY:%f\n" % (position[0], -position[1])
    return text + "".join("Ang%d:%f\n" % (k, a) for k, a in enumerate(angles))


def scan_frame(polygon, at, heading_rad):
    """The room in the scan's frame: moved to the scan and turned back by its rotation."""
    rotation = math.radians(360.0 - math.degrees(heading_rad))
    c, s = math.cos(rotation), math.sin(rotation)
    # The scan's rotation maps (x, y) to (c x - s y, s x + c y); its inverse is the transpose.
    return [(c * (x - at[0]) + s * (y - at[1]), -s * (x - at[0]) + c * (y - at[1])) for x, y in polygon]


def write_scan(folder, lens, lasers, side, width, room, scan, shots=True, samples=40, yaw2=0.0, yaw3=0.0):
    os.makedirs(folder)
    polygon = scan_frame(room, scan["at"], scan["heading"])
    yaws = [0.0, yaw3 + 4.0 * math.pi / 3.0, yaw2 + 2.0 * math.pi / 3.0]
    points = []
    for k, letter in enumerate("abc"):
        data, shot_points = shot_centroids(lens, lasers, side, polygon, yaws[k], samples)
        with open(os.path.join(folder, "%sCts.dat" % letter), "wb") as out:
            out.write(data)
        points.append(shot_points)
        if not shots:
            continue
        if scan["exposures"] and k != 1:
            light = shot_light(lens, side, width, k)
            for e, gain in enumerate(EXPOSURE_GAINS):
                write_jpeg(os.path.join(folder, "p%s%d.jpg" % (letter, e)), exposed(light, gain))
        else:
            write_jpeg(os.path.join(folder, "h%s.jpg" % letter), exposed(shot_light(lens, side, side, k), 1.0))
    h = scan["heading"]
    if scan["two_angles"]:
        angles = [h % (2 * math.pi), (h + math.pi) % (2 * math.pi)]
    else:
        angles = [(h + 2.0 * math.pi * k / 3.0) % (2 * math.pi) for k in range(3)]
    written_at = scan["at"]
    if scan["room_dat"]:
        # The field application's placement wins over the camera's own.
        written_at = (scan["at"][0] + 150.0, scan["at"][1] - 90.0)
        with open(os.path.join(folder, "room.dat"), "wb") as out:
            out.write(room_dat(scan["at"], h))
    with open(os.path.join(folder, "pos.txt"), "w") as out:
        out.write(pos_txt(written_at, angles))
    return {"position": list(scan["at"]), "heading": 360.0 - math.degrees(h), "compass": angles,
            "outline": [list(p) for p in polygon], "points": [[list(p) for p in shot] for shot in points],
            "exposures": bool(scan["exposures"]), "roomDat": bool(scan["room_dat"])}


def house_dat(name, floors):
    """The legacy layout: per floor its name and the scan folders it holds."""
    data = struct.pack("<i", 8) + utf16_record(name) + struct.pack("<i", len(floors))
    for floor_name, scans in floors:
        data += utf16_record(floor_name) + b"\x00\x01" + struct.pack("<ii", 0, 0) + b"\x00"
        data += struct.pack("<i", 1) + struct.pack("<ii", 4, 5) + utf16_record("wall")
        data += b"\x00" + struct.pack("<i", 0) + struct.pack("<i", len(scans))
        data += b"".join(utf16_record(scan) for scan in scans) + struct.pack("<2d", 0.0, 1.0)
    return data + struct.pack("<i", 0)


def user_picture(width, seed):
    rng = np.random.default_rng(seed)
    height = width // 2
    rows = (np.arange(height) + 0.5) / height
    cols = (np.arange(width) + 0.5) / width
    vv, uu = np.meshgrid(rows, cols, indexing="ij")
    light = np.stack([0.3 + 0.5 * uu, 0.6 - 0.3 * vv, 0.4 + 0.2 * np.sin(uu * 20)], axis=-1)
    return exposed(light + rng.normal(0, 0.01, light.shape), 1.0)


def inside(polygon, x, y):
    """Whether a point lies inside the polygon (even-odd rule)."""
    result = False
    n = len(polygon)
    for j in range(n):
        (ax, ay), (bx, by) = polygon[j], polygon[(j + 1) % n]
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            result = not result
    return result


def free_spot(room, taken):
    """A place in the room at least SPACING from the origin, the scans placed and the walls."""
    for radius in np.arange(900.0, 3000.0, 150.0):
        for degrees in np.arange(0.0, 360.0, 15.0):
            x, y = radius * math.cos(math.radians(degrees)), radius * math.sin(math.radians(degrees))
            near = [(0.0, 0.0)] + taken
            if inside(room, x, y) and all(math.hypot(x - a, y - b) >= SPACING for a, b in near) and all(
                    inside(room, x + dx, y + dy) for dx, dy in ((400, 0), (-400, 0), (0, 400), (0, -400))):
                return x, y
    raise SystemExit("no room left for another scan")


def floor_json(folder, index):
    """The floor's metadata: it states its grade level, so the project exports as written."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "floor.json"), "w") as f:
        json.dump({"building": "Main Building", "extWallThickness": 250, "gradeHint": 2,
                   "floorTransform": {"tx": 0, "ty": 0, "angle": 0}}, f, indent=1)


def write_project(out, floors=2, scans_per_floor=2, user_scans=0, side=128, width=None, shots=True, samples=40,
                  yaw2=0.0, yaw3=0.0, name="Laser Lane"):
    width = width or side * 3 // 2
    os.makedirs(out, exist_ok=True)
    if os.listdir(out):
        raise SystemExit("%s is not empty" % out)
    data, system = system_cfg(side, width)
    with open(os.path.join(out, "system.cfg"), "wb") as f:
        f.write(data)
    with open(os.path.join(out, "project.json"), "w") as f:
        json.dump({"extWallThickness": 250, "nomivoVersion": "2.4.0", "cam360": {"model": "ZTM4", "serial": SERIAL}},
                  f, indent=1)
    lens, lasers = calibration(side, width)
    layout, described = [], []
    for f_index in range(floors):
        floor = FLOORS[f_index % len(FLOORS)]
        floor_name = floor["name"] + ("" if f_index < len(FLOORS) else " %d" % f_index)
        floor_json(os.path.join(out, floor_name), f_index)
        raw_names, scans, taken = [], [], []
        for s_index in range(scans_per_floor):
            plan = dict(floor["scans"][s_index % len(floor["scans"])])
            if s_index >= len(floor["scans"]):
                plan["at"] = free_spot(floor["room"], taken)
                plan["heading"] = (plan["heading"] + 1.3 * s_index) % (2 * math.pi)
            taken.append(plan["at"])
            raw = "%s_%03d" % (floor_name, s_index + 1)
            entry = write_scan(os.path.join(out, raw), lens, lasers, side, width, floor["room"], plan, shots, samples,
                               yaw2, yaw3)
            entry.update({"raw": raw, "dir": "%03d" % (s_index + 1), "kind": "laser-line"})
            raw_names.append(raw)
            scans.append(entry)
        for u in range(user_scans):
            raw = "%s_User Pano %d" % (floor_name, u + 1)
            os.makedirs(os.path.join(out, raw))
            write_jpeg(os.path.join(out, raw, "u.jpg"), user_picture(4 * side, f_index * 10 + u))
            raw_names.append(raw)
            scans.append({"raw": raw, "dir": "User Pano %d" % (u + 1), "kind": "user"})
        layout.append((floor_name, raw_names))
        described.append({"name": floor_name, "dir": floor_name, "room": [list(p) for p in floor["room"]],
                          "scans": scans})
    with open(os.path.join(out, "house.dat"), "wb") as f:
        f.write(house_dat(name, layout))
    return {"serial": SERIAL, "side": side, "width": width, "system": system, "yaw2": yaw2, "yaw3": yaw3,
            "marker": {"azimuth": MARKER[0], "elevation": MARKER[1]},
            "floors": described}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out", help="project folder to write (created; must be empty)")
    parser.add_argument("--floors", type=int, default=2)
    parser.add_argument("--scans-per-floor", type=int, default=2)
    parser.add_argument("--user-scans", type=int, default=0, help="user scans per floor")
    parser.add_argument("--side", type=int, default=128, help="side of the square shots (the camera's is 2848)")
    parser.add_argument("--width", type=int, help="width of the camera's images (default 1.5 x side)")
    parser.add_argument("--realistic", action="store_true", help="the camera's own image size, 4272 x 2848")
    parser.add_argument("--no-shots", dest="shots", action="store_false", help="centroids and scan files only")
    parser.add_argument("--samples", type=int, default=40, help="wall points per laser and shot")
    parser.add_argument("--yaw2", type=float, default=0.0, help="turn of shot c beyond 120 degrees, radians")
    parser.add_argument("--yaw3", type=float, default=0.0, help="turn of shot b beyond 240 degrees, radians")
    parser.add_argument("--describe", action="store_true", help="print what was written as JSON")
    args = parser.parse_args(argv)
    side, width = (2848, 4272) if args.realistic else (args.side, args.width)
    if args.floors < 0 or args.scans_per_floor < 0 or args.user_scans < 0 or side < 16 or (width or side) < side:
        parser.error("no negative counts, shots of at least 16 pixels, images not narrower than the shots")
    described = write_project(args.out, args.floors, args.scans_per_floor, args.user_scans, side, width,
                              args.shots, args.samples, args.yaw2, args.yaw3)
    if args.describe:
        json.dump(described, sys.stdout, indent=1)
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
