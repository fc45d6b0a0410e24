#!/usr/bin/python3
"""Writes the three shots of a smooth scene as the one-lens lidar camera takes them, its
"system.cfg", and a reference render of the scene's equirectangular pano made from the scene
itself, for checking the program's full pano against something it did not compute.

The shots go through the lens model of one_lens_optics.py (distortion included) and are JPEG
files of quality 100 without chroma subsampling, the sky in their top rows. The reference holds
the pano's pixels at every `stride`-th file row and column (rows top-down, RGB, 8 bits): column i
of a pano of width W looks at azimuth 360 - 360 i / W degrees, file row f at elevation
(W / 4 - 1 - f) 360 / W degrees above the horizon, the rows of a camera's pano being its
render's rows flipped once.

Writes into OUT: system.cfg, h1.jpg, h2.jpg, h3.jpg, reference.rgb; prints a JSON description.
"""

import argparse
import json
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import system_python  # noqa: E402

system_python.require("numpy", "PIL", "crcmod")

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import make_system_cfg  # noqa: E402
import one_lens_optics  # noqa: E402


def scene(x, up, z):
    """Linear light: a sky brighter towards the zenith above a darker floor, crossed by soft
    waves of about ten degrees in azimuth and elevation, different in each channel."""
    azimuth = np.arctan2(z, x)
    elevation = np.arcsin(np.clip(up, -1.0, 1.0))
    horizon = 0.5 + 0.5 * np.tanh(elevation / math.radians(6.0))
    base = np.stack([0.18 + 0.5 * horizon, 0.14 + 0.55 * horizon, 0.10 + 0.7 * horizon], axis=-1)
    waves = np.stack([np.sin(37 * azimuth) * np.cos(elevation), np.sin(18 * elevation + 1.0),
                      np.sin(25 * azimuth + 17 * elevation)], axis=-1)
    return np.clip(base + 0.12 * waves, 0.0, 1.0)


def lens_values(side):
    half = side / 2.0
    return {"F": side * 0.376, "U0": half + 3.25, "V0": half - 2.5, "RY": 1.0015,
            "K1": 0.003 / (half * half), "K2": 0.0, "K3": 0.0,
            "P1": 0.03 / (side * side), "P2": -0.02 / (side * side), "P3": 0.0,
            "RCA": 1.0, "BCA": 1.0}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("--side", type=int, default=1024, help="side of the square shots")
    parser.add_argument("--width", type=int, default=7200, help="width of the pano the reference samples")
    parser.add_argument("--stride", type=int, default=4, help="every stride-th row and column of the pano")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    side = args.side
    data, system = make_system_cfg.build_ztm5(width=side, height=side, values=lens_values(side))
    with open(os.path.join(args.out, "system.cfg"), "wb") as f:
        f.write(data)
    lens = system["values"]
    for shot in range(3):
        light = one_lens_optics.shot_light(lens, side, side, one_lens_optics.shot_matrix(shot), scene)
        Image.fromarray(one_lens_optics.exposed(light, 1.0), "RGB").save(
            os.path.join(args.out, "h%d.jpg" % (shot + 1)), "JPEG", quality=100, subsampling=0)

    width, height = args.width, args.width // 2
    columns = np.arange(0, width, args.stride, dtype=np.float64)
    rows = np.arange(0, height, args.stride, dtype=np.float64)
    azimuth = 2.0 * math.pi - columns * 2.0 * math.pi / width
    elevation = (width / 4.0 - 1.0 - rows) * 2.0 * math.pi / width
    aa, ee = np.meshgrid(azimuth, elevation)
    light = scene(np.cos(ee) * np.cos(aa), np.sin(ee), np.cos(ee) * np.sin(aa))
    with open(os.path.join(args.out, "reference.rgb"), "wb") as f:
        f.write(one_lens_optics.exposed(light, 1.0).tobytes())
    json.dump({"width": width, "stride": args.stride, "columns": len(columns), "rows": len(rows), "side": side},
              sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
