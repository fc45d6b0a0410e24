#!/usr/bin/python3
"""Writes a project folder as the two-lens camera and its field application leave it, for tests,
benchmarks and for trying the program without a camera.

The folder holds a two-lens "system.cfg" (two_lens_scan.py through make_system_cfg.py: struct + crcmod),
"project.json", "wall.txt", "version.txt", the field application's log, the reserved folders,
several floors (each with "floor.json" or "wall.txt") of two-lens scans (lens images "h1.jpg" and
"h2.jpg" of a room, lidar files "pts1.dat" and "pts2.dat" and "scan.json" from two_lens_scan.py;
one older scan with "xfrm.dat"),
user scans ("u.jpg"), a "Pictures" floor and one scan whose main image is missing.

Variants add project files written with openssl (the enciphered-file envelope: a random 16-byte
IV, AES-128-CBC over the whole 16-byte blocks, the last 0 to 15 bytes in plain); they need the
keys (--data-key, --draft-key, 32 hex digits):
  draft          "draft.djs" with the draft key
  project-file   "quoril.qjs"
  autosave       "quoril.qjs" and a different "~quoril.qjs"
  newer-format   "quoril.qjs" whose "formatVersion" is 53
  corrupt        "quoril.qjs" that deciphers to no JSON
  archive        OUT/Job-export-data.tar, made by GNU tar, holding the project folder with
                 "quoril_exp.qjs" (the folder itself is not kept)

Sizes are small by default (lens images 800 x 400 with a calibration to match); --realistic
writes camera-sized images (3840 x 1920 lens images, 6000 x 3000 user pictures).

--exportable writes what an export needs without any editing: every floor states its grade level
and the camera scans stand at least 70 cm from each other and from the floor's origin, where the
user scan (which has no position of its own) stands; so it allows at most one user scan per floor.
"""

import argparse
import io
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import system_python  # noqa: E402

system_python.require("numpy", "PIL", "crcmod")

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import two_lens_scan  # noqa: E402

SERIAL = "MX0123456789"
FLOOR_NAMES = ["Ground", "1st Floor", "Basement", "2nd Floor", "Attic", "3rd Floor", "Garage", "Loft"]
RESERVED = ["_Snapshots", "_Export", "_Upload", "_Assets"]
FORMAT_VERSION = 52


# ----------------------------------------------------------------------------------------------
# Images


def scene(width, height, rng, hue):
    """An equirectangular room: ceiling at the top, four walls with a door, a red marker, a wooden
    floor.

    Row 0 is the top of the picture (looking up); column c faces azimuth 360 c / width degrees.
    """
    rows = np.arange(height, dtype=np.float32)[:, None]
    cols = np.arange(width, dtype=np.float32)[None, :]
    elevation = 90.0 - 180.0 * (rows + 0.5) / height
    azimuth = 360.0 * (cols + 0.5) / width
    image = np.zeros((height, width, 3), dtype=np.float32)
    wall_colours = np.array([[200, 180, 150], [170, 190, 210], [210, 200, 170], [180, 200, 170]], np.float32)
    wall_colours = (wall_colours * (0.85 + 0.15 * hue)).clip(0, 255)
    wall = (azimuth // 90).astype(int) % 4
    image[:] = wall_colours[wall]
    ceiling = elevation > 30
    image[np.broadcast_to(ceiling, (height, width))] = [235, 235, 230]
    floor = elevation < -25
    planks = ((azimuth // 6).astype(int) % 2) * 18
    wood = np.stack(np.broadcast_arrays(140 + planks, 95 + planks * 0.6, 55 + 0 * planks), axis=-1)
    floor_mask = np.broadcast_to(floor, (height, width))
    image[floor_mask] = np.broadcast_to(wood, (height, width, 3))[floor_mask]
    door_azimuth = 45.0 + 90.0 * (hue * 3 % 4 // 1)
    door = (np.abs(azimuth - door_azimuth) < 8) & (elevation < 15) & (elevation > -25)
    image[door] = [110, 70, 40]
    # A red marker on the wall above the door's right-hand side, seen wherever the door is.
    marker = (np.abs(azimuth - door_azimuth - 12.0) < 4) & (np.abs(elevation - 20.0) < 4)
    image[marker] = [230, 20, 20]
    noise = rng.normal(0.0, 6.0, size=image.shape).astype(np.float32)
    return (image + noise).clip(0, 255).astype(np.uint8)


def write_jpeg(path, pixels, quality=90):
    Image.fromarray(pixels, "RGB").save(path, "JPEG", quality=quality)


# ----------------------------------------------------------------------------------------------
# The project folder


class Generator:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.np_rng = np.random.default_rng(args.seed)
        self.lens_height = 1920 if args.realistic else args.lens_height
        self.user_width = 6000 if args.realistic else 2 * self.lens_height
        self.counter = 1000
        self.floors = []  # [{"name", "dir", "scans": [{"dir", "kind"}]}]

    def system_cfg(self, out):
        two_lens_scan.write_two_lens_system_cfg(os.path.join(out, "system.cfg"), self.lens_height, SERIAL)

    def spread_position(self, index):
        """The index-th place of a 90 cm grid around the origin, the origin itself left free, moved
        by up to 10 cm: any two places and the origin stay at least 70 cm apart."""
        ring, places = 1, []
        while len(places) <= index:
            places = [(i, j) for i in range(-ring, ring + 1) for j in range(-ring, ring + 1) if (i, j) != (0, 0)]
            places.sort(key=lambda p: (max(abs(p[0]), abs(p[1])), p))
            ring += 1
        i, j = places[index]
        return (900.0 * i + (self.rng.random() - 0.5) * 200.0, 900.0 * j + (self.rng.random() - 0.5) * 200.0)

    def two_lens_scan(self, folder, picture, room, missing_main=False, old_metadata=False, place=None):
        """Lidar files and "scan.json" from the shared scan writer, the lens images from this room."""
        half_w, half_d = room
        if place is None:
            x = (self.rng.random() - 0.5) * half_w
            y = (self.rng.random() - 0.5) * half_d
        else:
            x, y = place
            # The room around every scan.
            half_w, half_d = max(half_w, abs(x) + 600.0), max(half_d, abs(y) + 600.0)
        rot = self.rng.random() * 2.0 * math.pi
        self.counter += 3
        walls = {"left": -half_w - x, "right": half_w - x, "top": -half_d - y, "bottom": half_d - y}
        two_lens_scan.write_two_lens_scan(folder, lens_height=self.lens_height, position=(round(x, 1), round(y, 1)),
                                          rot=rot, shutter_counter=self.counter,
                                          capture_timestamp=1718000000000 + self.counter * 61000,
                                          camera_serial=SERIAL, room=walls)
        shift = int(self.rng.random() * picture.shape[1])
        lens1 = np.roll(picture, shift, axis=1)
        write_jpeg(os.path.join(folder, "h1.jpg"), lens1)
        write_jpeg(os.path.join(folder, "h2.jpg"), np.roll(lens1, picture.shape[1] // 2, axis=1))
        if missing_main:
            os.remove(os.path.join(folder, "h1.jpg"))
        if old_metadata:
            # Older cameras wrote the binary "xfrm.dat" instead.
            os.remove(os.path.join(folder, "scan.json"))
            with open(os.path.join(folder, "xfrm.dat"), "wb") as f:
                f.write(struct.pack("<3fI", x, y, rot, self.counter))

    def user_scan(self, folder, hue):
        os.makedirs(folder)
        width = self.user_width
        write_jpeg(os.path.join(folder, "u.jpg"), scene(width, width // 2, self.np_rng, hue), quality=88)

    def floor_metadata(self, folder, index):
        if index % 2 == 0 or self.args.exportable:
            meta = {"building": "Main Building", "extWallThickness": 230 + 10 * index,
                    "gradeHint": 1 if "Basement" in os.path.basename(folder) else 2,
                    "globalId": str(uuid.UUID(int=self.rng.getrandbits(128))),
                    "floorTransform": {"tx": 0, "ty": 0, "angle": 0}}
            with open(os.path.join(folder, "floor.json"), "w") as f:
                json.dump(meta, f, indent=1)
        else:
            with open(os.path.join(folder, "wall.txt"), "w") as f:
                f.write("%.1f\n" % (21.5 + index))

    def write(self, out):
        a = self.args
        os.makedirs(out, exist_ok=True)
        if os.listdir(out):
            raise SystemExit("%s is not empty" % out)
        self.system_cfg(out)
        with open(os.path.join(out, "project.json"), "w") as f:
            json.dump({"extWallThickness": 250, "nomivoVersion": "3.8.1", "globalId": str(uuid.UUID(
                int=self.rng.getrandbits(128))), "cam360": {"model": "QC-2", "serial": SERIAL}}, f, indent=1)
        with open(os.path.join(out, "wall.txt"), "w") as f:
            f.write("25.0\n")
        with open(os.path.join(out, "version.txt"), "w") as f:
            f.write("3.8.1\n")
        with open(os.path.join(out, "nomivolog.txt"), "w") as f:
            f.write("2024-06-10 09:12:01 Project started\n2024-06-10 09:40:55 Upload finished\n")
        for name in RESERVED:
            os.makedirs(os.path.join(out, name))
        with open(os.path.join(out, "_Assets", "plan.pdf"), "wb") as f:
            f.write(b"%PDF-1.4\n% sample asset\n")

        lens_width = 2 * self.lens_height
        for f_index in range(a.floors):
            name = FLOOR_NAMES[f_index % len(FLOOR_NAMES)] + ("" if f_index < len(FLOOR_NAMES) else " %d" % f_index)
            folder = os.path.join(out, name)
            os.makedirs(folder)
            self.floor_metadata(folder, f_index)
            picture = scene(lens_width, self.lens_height, self.np_rng, (f_index * 0.37) % 1.0)
            room = (2500.0 + 300.0 * f_index, 2000.0 + 200.0 * f_index)
            scans = []
            for s in range(a.scans_per_floor):
                scan_dir = "%03d" % (s + 1)
                missing = a.missing_main_image and f_index == a.floors - 1 and s == a.scans_per_floor - 1
                old = f_index == 0 and s == 1
                place = self.spread_position(s) if a.exportable else None
                self.two_lens_scan(os.path.join(folder, scan_dir), picture, room, missing, old, place)
                scans.append({"dir": scan_dir, "kind": "missing-main-image" if missing else "two-lens"})
            for u in range(a.user_scans):
                scan_dir = "User Pano_%s %d" % (name, u + 1)
                self.user_scan(os.path.join(folder, scan_dir), (f_index + u * 0.5) % 1.0)
                scans.append({"dir": scan_dir, "kind": "user"})
            self.floors.append({"name": name, "dir": name, "scans": scans})
        if a.pictures:
            folder = os.path.join(out, "Pictures")
            os.makedirs(folder)
            scans = []
            for u in range(2):
                scan_dir = "User Pano_Picture %d" % (u + 1)
                self.user_scan(os.path.join(folder, scan_dir), 0.2 + 0.3 * u)
                scans.append({"dir": scan_dir, "kind": "user"})
            self.floors.append({"name": "Pictures", "dir": "Pictures", "scans": scans})

    # ------------------------------------------------------------------------------------------
    # Project files

    def export_labels(self):
        """Folder names of the scans inside an export: floor, "_", scan, "#" and the scan's id."""
        labels, pano_id = {}, 0
        for floor in self.floors:
            if floor["name"].startswith("Pictures"):
                continue
            for scan in floor["scans"]:
                pano_id += 1
                labels[(floor["dir"], scan["dir"])] = "%s_%s#%d" % (floor["name"][:10].strip(),
                                                                    scan["dir"][:10].strip(), pano_id)
        return labels

    def project_object(self, name, for_export=False, format_version=FORMAT_VERSION):
        """The property as the program saves it: one building, the floors with their scan order."""
        ids = {"building": 1, "floor": 0, "pano": 0}
        floors = []
        first_user = None
        for floor in self.floors:
            if for_export and floor["name"].startswith("Pictures"):
                continue
            ids["floor"] += 1
            panos = []
            for scan in floor["scans"]:
                ids["pano"] += 1
                entry = {"dir": scan["dir"], "id": ids["pano"]}
                if for_export:
                    entry.update({"name": scan["dir"], "type": "user" if scan["kind"] == "user" else "full",
                                  "pos": [0, 0], "rot": 0})
                panos.append(entry)
                if scan["kind"] == "user" and first_user is None and floor["name"] != "Pictures":
                    first_user = ids["pano"]
            record = {"id": ids["floor"], "name": floor["name"], "globalId": "", "hidden": False,
                      "gradeHint": 2, "layout": {"panos": panos, "viewerViewBox": [-5000, -5000, 10000, 10000],
                                                 "printViewBox": [-5000, -5000, 10000, 10000]}}
            if not for_export:
                record["dir"] = floor["dir"]
            floors.append(record)
        return {
            "portalData": {}, "name": name, "globalId": "", "quorilVersion": "6.15.1",
            "quorilPlatform": "x86_64;x86_64;Debian GNU/Linux 12 (bookworm)", "nomivoVersion": "3.8.1",
            "formatVersion": format_version, "comments": {"newPost": "Generated sample"},
            "initPanoId": first_user or 0, "initPanoAngle": -0.5235987755982988 if first_user else 0,
            "mainBuildingId": 1,
            "buildings": [{"name": "Main Building", "id": 1, "floors": floors}],
            "cameraSerialNumber": SERIAL, "shutterCounter": self.counter, "lensCalibrated": True,
            "lastIds": ids, "systemcfgs": ["system.cfg"],
        }


def envelope(data, key_hex):
    """The enciphered-file envelope, made with openssl."""
    if not key_hex or len(key_hex) != 32:
        raise SystemExit("this variant needs its key as 32 hex digits")
    iv = os.urandom(16)
    whole = len(data) // 16 * 16
    enciphered = b""
    if whole:
        enciphered = subprocess.run(["openssl", "enc", "-aes-128-cbc", "-nopad", "-K", key_hex, "-iv", iv.hex()],
                                    input=data[:whole], stdout=subprocess.PIPE, check=True).stdout
        if len(enciphered) != whole:
            raise SystemExit("openssl returned %d bytes for %d" % (len(enciphered), whole))
    return iv + enciphered + data[whole:]


def compact(obj):
    return json.dumps(obj, separators=(",", ":"), sort_keys=True).encode("utf-8")


def write_variant(gen, out, args):
    name = os.path.basename(os.path.normpath(out))
    v = args.variant
    if v == "raw":
        return
    if v == "draft":
        with open(os.path.join(out, "draft.djs"), "wb") as f:
            f.write(envelope(compact(gen.project_object(name)), args.draft_key))
    elif v in ("project-file", "autosave", "newer-format"):
        version = FORMAT_VERSION + 1 if v == "newer-format" else FORMAT_VERSION
        with open(os.path.join(out, "quoril.qjs"), "wb") as f:
            f.write(envelope(compact(gen.project_object(name, format_version=version)), args.data_key))
        with open(os.path.join(out, "quorillog.txt"), "w") as f:
            f.write("2024-06-11 10:00:00 Warning: sample log line\n")
        if v == "autosave":
            with open(os.path.join(out, "~quoril.qjs"), "wb") as f:
                f.write(envelope(compact(gen.project_object(name + " (autosaved)")), args.data_key))
    elif v == "corrupt":
        with open(os.path.join(out, "quoril.qjs"), "wb") as f:
            f.write(envelope(b"\x00not json" + os.urandom(300), args.data_key))
    elif v == "archive":
        return
    else:
        raise SystemExit("unknown variant " + v)


def write_archive(args):
    """OUT/Job-export-data.tar holding a project folder named "job_export" with "quoril_exp.qjs"."""
    os.makedirs(args.out, exist_ok=True)
    inner = os.path.join(args.out, "job_export")
    gen = Generator(args)
    gen.write(inner)
    # An export holds each scan folder directly in the project folder, named by floor, scan and id,
    # and no floor folders; the load moves the scans into floor folders made from the names.
    labels = gen.export_labels()
    for floor in gen.floors:
        for scan in floor["scans"]:
            label = labels.get((floor["dir"], scan["dir"]))
            if label:
                os.rename(os.path.join(inner, floor["dir"], scan["dir"]), os.path.join(inner, label))
                scan["dir"] = label
        shutil.rmtree(os.path.join(inner, floor["dir"]))
    with open(os.path.join(inner, "quoril_exp.qjs"), "wb") as f:
        f.write(envelope(compact(gen.project_object("Job", for_export=True)), args.data_key))
    archive = os.path.join(args.out, "Job-export-data.tar")
    subprocess.run(["tar", "--format=ustar", "-cf", archive, "-C", args.out, "job_export"], check=True)
    shutil.rmtree(inner)
    return gen, archive


def write_laser_line_project(args, parser):
    import laser_line_project
    if args.variant != "raw":
        parser.error("the laser-line camera's folders are written raw only")
    side, width = (2848, 4272) if args.realistic else (args.lens_height, None)
    described = laser_line_project.write_project(args.out, args.floors, args.scans_per_floor, args.user_scans, side,
                                                 width)
    if args.describe:
        json.dump(described, sys.stdout, indent=1)
        sys.stdout.write("\n")
    return 0


def write_lidar_project(args, parser):
    import make_ztm5_project
    if args.variant != "raw" or args.realistic:
        parser.error("the lidar camera's sample is written raw and small only")
    if args.floors not in (None, 1) or args.user_scans not in (None, 0):
        parser.error("the lidar camera's sample has one floor and no user scans")
    if not 1 <= args.scans_per_floor <= len(make_ztm5_project.SCANS):
        parser.error("the lidar camera's sample has 1 to %d scans" % len(make_ztm5_project.SCANS))
    described = make_ztm5_project.write_project(args.out, args.scans_per_floor, args.lens_height, exposures=3,
                                                exposure_width=args.lens_height * 3 // 2, seed=args.seed,
                                                grade_hint=2 if args.exportable else None)
    if args.describe:
        json.dump(described, sys.stdout, indent=1)
        sys.stdout.write("\n")
    return 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out", help="project folder to write (created; must be empty)")
    parser.add_argument("--floors", type=int, help="floors (default 3)")
    parser.add_argument("--scans-per-floor", type=int, default=3, help="camera scans per floor")
    parser.add_argument("--user-scans", type=int, help="user scans per floor (default 1)")
    parser.add_argument("--no-pictures", dest="pictures", action="store_false", help="no \"Pictures\" floor")
    parser.add_argument("--no-missing-main-image", dest="missing_main_image", action="store_false",
                        help="every two-lens scan keeps its main image")
    parser.add_argument("--lens-height", type=int, default=400, help="lens images are twice as wide")
    parser.add_argument("--realistic", action="store_true", help="camera-sized images")
    parser.add_argument("--variant", default="raw",
                        choices=["raw", "draft", "project-file", "autosave", "newer-format", "corrupt", "archive"])
    parser.add_argument("--data-key", help="32 hex digits: the data key of the enciphered files")
    parser.add_argument("--draft-key", help="32 hex digits: the key of \"draft.djs\"")
    parser.add_argument("--exportable", action="store_true",
                        help="grade levels on every floor and scans spread out: exports as written")
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--describe", action="store_true", help="print the floors and scans written as JSON")
    parser.add_argument("--camera", choices=["two-lens", "laser-line", "lidar"], default="two-lens",
                        help="laser-line: a raw folder of the laser-line camera (laser_line_project.py), with "
                             "--floors, --scans-per-floor, --user-scans and --lens-height as the shots' side; "
                             "lidar: one floor of 1 to 3 scans of the one-lens lidar camera (make_ztm5_project.py), "
                             "the first shot of each as three exposures, --lens-height the shots' side")
    args = parser.parse_args(argv)
    if args.camera == "lidar":
        return write_lidar_project(args, parser)
    args.floors = 3 if args.floors is None else args.floors
    args.user_scans = 1 if args.user_scans is None else args.user_scans
    if args.camera == "laser-line":
        return write_laser_line_project(args, parser)
    if args.floors < 0 or args.scans_per_floor < 0 or args.user_scans < 0 or args.lens_height < 8:
        parser.error("counts must not be negative and lens images at least 16 x 8")
    if args.exportable and args.user_scans > 1:
        parser.error("--exportable places at most one user scan per floor")
    if args.exportable and args.scans_per_floor + args.user_scans - int(args.missing_main_image) < 1:
        parser.error("--exportable needs a scan with its main image on every floor")

    if args.variant == "archive":
        gen, archive = write_archive(args)
        described = {"archive": archive}
    else:
        gen = Generator(args)
        gen.write(args.out)
        write_variant(gen, args.out, args)
        described = {}
    if args.describe:
        described.update({"floors": gen.floors, "serial": SERIAL, "lensHeight": gen.lens_height})
        json.dump(described, sys.stdout, indent=1)
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
