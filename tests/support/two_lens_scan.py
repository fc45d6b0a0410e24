"""Writes two-lens camera scan folders, and the calibration file they fit, for tests and sample
projects. The folder matches what tests/support/two_lens_scan_fixture.cpp writes: the same lidar
files byte for byte, the same "scan.json" values and lens images of the same planted scene (sky
above ground, a red marker near the top left seen by lens 2, a green one near the top just right
of the middle seen by lens 1), encoded by another JPEG writer.

A module: write_two_lens_scan(folder, ...) and write_two_lens_system_cfg(path, ...).
"""

import json
import math
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_system_cfg  # noqa: E402

MARKER_TOP, MARKER_BOTTOM = 0.03, 0.12
RED_MARKER = (0.01, 0.06)
GREEN_MARKER = (0.55, 0.60)
LENS2_GAINS = (0.42, 0.5, 0.6)
ROOM = {"left": -2000.0, "right": 4000.0, "top": -1600.0, "bottom": 2400.0}


def planted_scene(width, height):
    """The lens picture, top-down rows, as an (height, width, 3) uint8 array."""
    u = (np.arange(width, dtype=np.float64) + 0.5) / width
    v = (np.arange(height, dtype=np.float64) + 0.5) / height
    uu, vv = np.meshgrid(u, v)
    sky_t = vv / 0.5
    ground_t = (vv - 0.5) / 0.5
    sky = np.stack([45 + 30 * sky_t, 125 + 30 * sky_t, 225 + 25 * sky_t], axis=-1)
    ground = np.stack([135 - 30 * ground_t, 95 - 30 * ground_t, 45 - 30 * ground_t], axis=-1)
    image = np.where((vv < 0.5)[..., None], sky, ground)
    image = np.clip(np.floor(image + 0.5), 0, 255)
    band = (vv >= MARKER_TOP) & (vv < MARKER_BOTTOM)
    red = band & (uu >= RED_MARKER[0]) & (uu < RED_MARKER[1])
    green = band & (uu >= GREEN_MARKER[0]) & (uu < GREEN_MARKER[1])
    image[red] = (230, 20, 20)
    image[green] = (20, 200, 40)
    return image.astype(np.uint8)


def gain_curve(g, u):
    k1 = g / (g - 1)
    k2 = (g - 0.5) / (-2 * g * g * (g - 1))
    q = 2 * g * (g - 1)
    c1 = (0.5 * g + g * g - 1) / q
    c2 = (g * g - 2.5 * g + 0.5) / q
    if u <= g:
        return max(k2 * u * u * u + c1 * u, 0.0)
    w = u - 1
    return min(k1 * k2 * w * w * w + c2 * w + 1, 1.0)


def inverse_gain_table(g):
    """For each byte n the byte whose curve value is nearest n / 255 (the first of equals)."""
    values = [gain_curve(g, m / 255.0) for m in range(256)]
    table = []
    for n in range(256):
        target = n / 255.0
        best = 0
        for m in range(1, 256):
            if abs(values[m] - target) < abs(values[best] - target):
                best = m
        table.append(best)
    return np.array(table, dtype=np.uint8)


def room_hit(a, room=ROOM):
    dx, dy = math.cos(a), -math.sin(a)
    t = math.inf
    if dx > 1e-12:
        t = min(t, room["right"] / dx)
    if dx < -1e-12:
        t = min(t, room["left"] / dx)
    if dy > 1e-12:
        t = min(t, room["bottom"] / dy)
    if dy < -1e-12:
        t = min(t, room["top"] / dy)
    return np.float32(t * dx), np.float32(t * dy)


def sweep(from_deg, to_deg, own_from, own_to, room=ROOM):
    """One lens's quarter-degree sweep; outside its own range it reads 10 mm too far."""
    points = []
    deg = float(from_deg)
    while deg <= to_deg + 1e-9:
        x, y = room_hit(deg * math.pi / 180, room)
        if deg < own_from or deg > own_to:
            length = np.hypot(x, y)
            scale = float((length + np.float32(10)) / length)
            x = np.float32(float(x) * scale)
            y = np.float32(float(y) * scale)
        points.append((x, y))
        deg += 0.25
    return points


def lidar_file(heading, points):
    data = struct.pack("<f", heading)
    for x, y in points:
        data += struct.pack("<ff", float(x), float(-y))
    return data


def write_two_lens_scan(folder, lens_height=300, position=(2500.0, 1200.0), rot=0.25, shutter_counter=4321,
                        capture_timestamp=1700000000123, camera_serial="MX0123456789", systemcfg="system.cfg",
                        lens2_gains=LENS2_GAINS, second_lens_image=True, room=ROOM):
    """Writes h1.jpg, h2.jpg, pts1.dat, pts2.dat and scan.json; returns the scan.json record."""
    os.makedirs(folder, exist_ok=True)
    scene = planted_scene(2 * lens_height, lens_height)
    Image.fromarray(scene, "RGB").save(os.path.join(folder, "h1.jpg"), quality=95)
    if second_lens_image:
        seen = np.empty_like(scene)
        for ch in range(3):
            seen[..., ch] = inverse_gain_table(lens2_gains[ch])[scene[..., ch]]
        Image.fromarray(seen, "RGB").save(os.path.join(folder, "h2.jpg"), quality=95)
    # Lens 1 owns the left half (90..270 degrees), lens 2 the right half; each sees 30 degrees more.
    with open(os.path.join(folder, "pts1.dat"), "wb") as out:
        out.write(lidar_file(0.5, sweep(60, 300, 90, 270, room)))
    with open(os.path.join(folder, "pts2.dat"), "wb") as out:
        out.write(lidar_file(0.7, sweep(-120, 120, -90, 90, room)))
    record = {
        "pos": [position[0], position[1]],
        "rot": rot,
        "shutterCounter": shutter_counter,
        "hidden": 0,
        "globalId": "scan-%d" % shutter_counter,
        "temperature": 23.5,
        "temperatureSource": "lidar",
        "system": {"cameraSerialNumber": camera_serial, "firmware": "4.2.17"},
        "takePictureParams": {"exposure": "auto", "hdr": 3},
        "lidarUptime": 5123,
        "systemcfg": systemcfg,
        "captureTimestamp": capture_timestamp,
        "alignmentScore": 0.875,
    }
    with open(os.path.join(folder, "scan.json"), "w", encoding="utf-8") as out:
        json.dump(record, out, indent=4)
    return record


def write_two_lens_system_cfg(path, lens_height=300, serial="MX0123456789"):
    """An undistorted two-lens calibration for lens images of 2 lens_height x lens_height: lens 1
    centred on the image, lens 2 on its edges, no distortion terms, the camera level."""
    lenses = {}
    for index, u0 in ((0, float(lens_height)), (1, 0.0)):
        for key in ("K1", "K2", "K3", "P1", "P2", "P3", "P4", "RM", "ROLL", "PITCH", "YAW"):
            lenses[(index, key)] = 0.0
        lenses[(index, "U0")] = u0
        lenses[(index, "V0")] = lens_height / 2.0
    data, description = make_system_cfg.build_ztm6(
        width=2 * lens_height, height=lens_height, texts={"SYSTEM_SERIAL": serial},
        header={"ROLL": 0.0, "PITCH": 0.0, "YAW": 0.0}, lenses=lenses)
    with open(path, "wb") as out:
        out.write(data)
    return description
