#!/usr/bin/python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/: a few small files in the
forms the readers meet, built here (struct, json, tarfile, zlib) or by the tests' calibration
generator. Run it again after a format changes; the files are committed.

Targets whose input is split with libFuzzer's FuzzedDataProvider (scan_data, raw_import) take
pieces ended by a backslash and "n" (a backslash inside a piece is doubled) and read their switches
from the last bytes of the input; http_response reads its switches from there too.
"""
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
CALIBRATION_TOOL = os.path.join(HERE, "..", "tests", "support", "make_system_cfg.py")


def compact(value):
    return json.dumps(value, separators=(",", ":"), sort_keys=True).encode()


def piece(data):
    """One piece of a FuzzedDataProvider input: its bytes and the end marker."""
    return data.replace(b"\\", b"\\\\") + b"\\n"


def utf16(text):
    return struct.pack("<i", len(text)) + text.encode("utf-16-le")


# --- JSON records -----------------------------------------------------------------------------

TAG = {"id": 5, "initialPanoId": 3, "originalPos": [0.25, 0.5], "offset": 2500.5, "pos": [100, -40, 1350],
       "title": "Boiler", "color": "#ff0000", "content": "see manual.pdf", "globalId": "t-1", "iconId": "info"}
LAYOUT = {
    "notes": [{"id": 9, "pos": [120.5, -40], "text": "Kitchen", "rot": -0.5}],
    "labels": [{"pos": [1, 2], "text": "old label"}],
    "referenceLines": [{"p1": [0, 0], "p2": [500.5, 250]}],
    "panos": [{"dir": "001", "id": 3}, {"dir": "Kitchen#4", "id": 4, "pos": [5.4, 6], "rot": 0.25},
              {"dir": "Gone", "id": 8}],
    "tags": [TAG],
    "viewerViewBox": [0, 0, 100, 100],
    "printViewBox": [0, 0, 100, 100],
}
FLOOR = {"id": 2, "name": "Ground", "globalId": "f-1", "dir": "Ground", "hidden": False, "gradeHint": 2,
         "actualExtWallThickness": 250, "ceilingHeight": 2400, "compassRotHint": 0.5, "layout": LAYOUT}
PROJECT = {
    "portalData": {"url": "x"}, "cam360": {"model": "QC-2"}, "name": "Maple Street 5", "globalId": "g-1",
    "quorilVersion": "6.15.1", "nomivoVersion": "3.8.1", "formatVersion": 52, "alignmentBad": False,
    "comments": {"newPost": "hello"}, "initPanoId": 3, "initPanoAngle": -0.7, "mainBuildingId": 1,
    "buildings": [{"id": 1, "name": "House", "actualExtWallThickness": 300,
                   "floors": [FLOOR, {"id": 6, "name": "Upper", "dir": "Upper", "layout": {}}]}],
    "cameraSerialNumber": "MX0123456789", "shutterCounter": 812, "lensCalibrated": True,
    "lastIds": {"building": 1, "floor": 6, "note": 9, "pano": 8, "tag": 5}, "alignmentLocked": True,
    "systemcfgs": ["system.cfg", "system_2.cfg"],
}
EXPORTED = dict(PROJECT, buildings=[{"id": 1, "name": "House", "floors": [
    {"id": 2, "name": "Ground", "layout": {"panos": [{"dir": "Kitchen#4", "id": 4, "name": "Kitchen"}]}}]}])
PANO = {"id": 7, "name": "001", "type": "full", "pos": [1200.5, -340], "rot": 0.25, "compass": 1.2,
        "alignment": 0, "initAngle": 0.3, "imageParams": [0.01 * i for i in range(29)], "equirectangular": False,
        "capture": {"cameraSerialNumber": "MX0123456789"}, "scanHash": "0" * 40, "systemcfg": 0, "hidden": False}


def json_seeds():
    return {
        "project_file": {"full.json": compact(PROJECT), "exported.json": compact(EXPORTED),
                         "huge_ids.json": compact(dict(PROJECT, initPanoId=2147483647,
                                                       lastIds={"pano": 2147483647, "note": 4294967296})),
                         "empty.json": b"{}"},
        "floor_file": {"floor.json": compact({"extWallThickness": 250, "globalId": "f-2", "gradeHint": 0,
                                              "building": "Annex", "floorTransform": {"tx": 1, "ty": 2, "angle": 0.1}}),
                       "floor_object.json": compact(FLOOR),
                       "hostile_dirs.json": compact(dict(FLOOR, layout={"panos": [
                           {"dir": "Upper"}, {"dir": "_Export"}, {"dir": ".."}, {"dir": "Kitchen#4"}]}))},
        "pano_record": {"full.json": compact(PANO), "user.json": compact(dict(PANO, type="user", equirectangular=True)),
                        "odd.json": compact({"id": 1e30, "pos": ["a", 2], "rot": None, "imageParams": [1, 2]})},
    }


# --- binary scan files ------------------------------------------------------------------------

def lidar(heading, points):
    return struct.pack("<f", heading) + b"".join(struct.pack("<2f", x, y) for x, y in points)


def scan_data_seeds():
    room = [(3000.0 * (1 if i % 2 else -1), -100.0 - i) for i in range(40)]
    cloud = b"QPCD" + struct.pack("<2HI", 1, 0, 3) + b"".join(struct.pack("<2i", x, y)
                                                             for x, y in [(1, -2), (0, 0), (9, 9)])
    scan_json = compact({"pos": [1500.5, -220], "rot": 0.25, "hidden": 1, "tags": [{"t": 1}], "alignmentBad": True,
                         "captureTimestamp": "1234567890123", "shutterCounter": 41, "temperature": 21.5})
    xfrm = struct.pack("<3fI", 1200, 340, 0.25, 812)
    # Switches from the end: the metadata kind (odd: "scan.json"), then yaw and levelling angles.
    as_json, as_xfrm = b"\x00" * 15 + b"\x01", b"\x00" * 16
    return {
        "room_json": piece(lidar(0.5, room)) + piece(lidar(0.7, room[::-1])) + piece(cloud) + scan_json + as_json,
        "room_xfrm": piece(lidar(0.5, room)) + piece(b"") + piece(cloud) + xfrm + as_xfrm,
        "short": piece(b"\x01\x02\x03") + piece(lidar(1.0, [(0, 0)])) + piece(b"QPCD") + xfrm[:11] + as_xfrm,
    }


def house_dat(version, name, floors):
    data = struct.pack("<i", version) + utf16(name) + struct.pack("<i", len(floors))
    for floor, scans in floors:
        data += utf16(floor) + b"\x01\x01" + struct.pack("<ii", 0, 0) + b"\x01"
        data += struct.pack("<i", 1) + struct.pack("<ii", 7, 9) + utf16("rec") + b"\x01" + struct.pack("<i", 0)
        data += struct.pack("<i", len(scans)) + b"".join(utf16(s) for s in scans) + b"\x00" * 16
    return data + struct.pack("<i", 0)


def raw_import_seeds():
    house = house_dat(8, "Maple Street 5", [("Ground", ["Ground_001", "Ground_002"]), ("Upper", ["Upper_7"])])
    project_json = compact({"extWallThickness": 254.6, "nomivoVersion": "3.8.1", "globalId": "g-1",
                            "cam360": {"model": "QC-2"}})
    with_json, without_json = b"\x01", b"\x00"
    return {
        "project_json": piece(project_json) + piece(b"30\n") + piece(b"2.0\n") + house + with_json,
        "text_files": piece(b"15.55\n") + piece(b"  4.1 \r\n") + house + without_json,
        "old_house": piece(b"") + piece(b"") + house_dat(7, "Old", [("Ground", ["Ground_001"])]) + without_json,
    }


# --- calibration files ------------------------------------------------------------------------

def calibration_seeds():
    seeds = {}
    for name, options in (("two_lens.cfg", ["--width", "64", "--height", "32", "--set", "lens1.U0=32",
                                            "--set", "lens1.V0=16", "--set", "lens2.U0=0", "--set", "lens2.V0=16",
                                            "--set", "lens1.RM=1.2"]),
                          ("one_lens_record.cfg", ["--lens-count", "1", "--width", "128", "--height", "64"]),
                          ("camera_size.cfg", []),
                          ("ztm5.cfg", ["--model", "ztm5"]),
                          ("ztm4.cfg", ["--model", "ztm4", "--lasers", "1"])):
        seeds[name] = subprocess.run([sys.executable, CALIBRATION_TOOL, "-"] + options, check=True,
                                     stdout=subprocess.PIPE).stdout
    return seeds


# --- archives ---------------------------------------------------------------------------------

def archive(fmt, members):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=fmt) as tar:
        for name, data in members:
            info = tarfile.TarInfo(name)
            info.mtime = 1700000000
            if data is None:
                info.type = tarfile.DIRTYPE
                tar.addfile(info)
            else:
                info.size = len(data)
                tar.addfile(info, io.BytesIO(data))
    return out.getvalue()


def tar_seeds():
    long_name = "Job/" + "d" * 120 + "/" + "f" * 110 + ".txt"
    members = [("Job", None), ("Job/quoril_exp.qjs", b"x" * 600), ("Job/Kitchen#4/t.pic", b"preview")]
    return {
        "ustar.tar": archive(tarfile.USTAR_FORMAT, members),
        "gnu_long_names.tar": archive(tarfile.GNU_FORMAT, members + [(long_name, b"long")]),
        "pax_utf8.tar": archive(tarfile.PAX_FORMAT, members + [("Job/Küche/Ärger.txt", b"umlauts"),
                                                              (long_name, b"long")]),
    }


# --- images -----------------------------------------------------------------------------------

def png(width, height):
    rows = b"".join(b"\x00" + bytes(v for x in range(width) for v in (x * 16 % 256, y * 32 % 256, 128))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
    header = struct.pack(">2I5B", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def jpeg(width, height):
    from PIL import Image  # python3-pil, installed with the test tools
    out = io.BytesIO()
    Image.new("RGB", (width, height), (90, 140, 200)).save(out, "JPEG", quality=50)
    return out.getvalue()


def declaring(data, width, height):
    """The JPEG with its frame header claiming another size."""
    at = data.index(b"\xff\xc0") + 5
    return data[:at] + struct.pack(">2H", height, width) + data[at + 4:]


def image_seeds():
    small = jpeg(16, 8)
    return {"lens.jpg": jpeg(64, 32), "small.jpg": small, "declares_16000.jpg": declaring(small, 16000, 16000),
            "picture.png": png(8, 4)}


# --- one-lens cameras, from the tests' project generators -------------------------------------

SUPPORT = os.path.join(HERE, "..", "tests", "support")


def generators():
    """The tests' generators of one-lens projects (numpy and PIL, installed with the test tools)."""
    sys.path.insert(0, SUPPORT)
    import laser_line_project  # noqa: E402
    import make_system_cfg  # noqa: E402
    import make_ztm5_project  # noqa: E402
    return laser_line_project, make_system_cfg, make_ztm5_project


def read(path):
    with open(path, "rb") as f:
        return f.read()


def zero_floats(count):
    """FuzzedDataProvider switches from the end: each float as 0 (a set flag, then four zero bytes)."""
    return b"\x00\x00\x00\x00\x01" * count


def one_lens_seeds(scratch):
    laser_line, system_cfg, ztm5 = generators()
    lidar_project = os.path.join(scratch, "lidar")
    ztm5.write_project(lidar_project, scans=2, side=64, exposures=3, exposure_width=96, step_deg=2.0)
    laser_project = os.path.join(scratch, "laser")
    # 64-pixel shots in 96-pixel frames: the calibration fuzz/small_one_lens_models.h holds.
    laser_line.write_project(laser_project, floors=1, scans_per_floor=2, user_scans=1, side=64, samples=12)
    lidar_scan = os.path.join(lidar_project, "Ground", "002")
    laser_scans = [os.path.join(laser_project, "Ground_%03d" % i) for i in (1, 2)]

    pts = [read(os.path.join(lidar_scan, "pts%d.dat" % k)) for k in (1, 2, 3)]
    scan_json = read(os.path.join(lidar_scan, "scan.json"))
    xfrm = struct.pack("<3fI", 1200, 340, 0.25, 812)
    # Switches from the end: the metadata kind, the turn search mode, then six floats.
    lidar = {"scan_json": b"".join(piece(p) for p in pts) + scan_json + zero_floats(6) + b"\x01\x01",
             "xfrm": b"".join(piece(p) for p in pts) + xfrm + zero_floats(6) + b"\x00\x00",
             "one_sweep": piece(pts[0]) + piece(b"") + piece(pts[2][:3]) + b"{}" + zero_floats(6) + b"\x02\x01"}

    laser = {}
    for scan in laser_scans:
        room = os.path.join(scan, "room.dat")
        laser[os.path.basename(scan)] = (piece(read(os.path.join(scan, "pos.txt")))
                                         + b"".join(piece(read(os.path.join(scan, "%sCts.dat" % c))) for c in "abc")
                                         + (read(room) if os.path.exists(room) else b"") + zero_floats(2))

    shot = read(os.path.join(lidar_scan, "h2.jpg"))
    shots = {"lidar_shot.jpg": shot, "lidar_exposure.jpg": read(os.path.join(lidar_scan, "p0.jpg")),
             "laser_shot.jpg": read(os.path.join(laser_scans[1], "hb.jpg")),
             "laser_exposure.jpg": read(os.path.join(laser_scans[0], "pa0.jpg")),
             "declares_16000.jpg": declaring(shot, 16000, 8000), "wider_than_twice.jpg": jpeg(129, 64)}

    calibrations = {}
    for name, options in (("ztm4.cfg", dict(lasers=2)), ("ztm4_no_lasers.cfg", dict(lasers=0))):
        data, described = system_cfg.build_ztm4(**options)
        calibrations[name] = data
        calibrations[name.replace(".cfg", ".txt")] = text_form(system_cfg, described)
    for name, options in (("ztm5.cfg", {}), ("ztm5_older.cfg", dict(stamp=2128510)),
                          ("ztm5_full_floats.cfg", dict(values={"F": 1424.3717, "U0": 1.00000012, "K1": 1.4e-45}))):
        data, described = system_cfg.build_ztm5(**options)
        calibrations[name] = data
        calibrations[name.replace(".cfg", ".txt")] = text_form(system_cfg, described)
    old = text_form(system_cfg, system_cfg.build_ztm4(lasers=3)[1]).split(b"\n")
    calibrations["ztm4_older.txt"] = b"\n".join([b"2128508"] + old[2:])

    user = read(os.path.join(laser_project, "Ground_User Pano 1", "u.jpg"))
    pictures = {"user.jpg": user, "wide.jpg": jpeg(128, 16), "tall.jpg": jpeg(16, 32),
                "declares_65000x2.jpg": declaring(user, 65000, 2), "declares_20000x5000.jpg": declaring(user, 20000, 5000)}
    return {"lidar_camera": lidar, "laser_camera": laser, "one_lens_shots": shots,
            "one_lens_calibration": calibrations, "user_pano": pictures}


def text_form(system_cfg, described):
    """A calibration's text form (the program's own layout: one value a line, a comment after a
    tab) from what the calibration generator wrote."""
    lines = [str(described["stamp"]), described["serial"]]
    if described["model"] == "ztm4":
        integers = [described["integers"][k] for k in system_cfg.ZTM4_INT_KEYS]
        calibration_keys = system_cfg.ONE_LENS_CALIB_KEYS
    else:
        integers = [described[k] for k in ("TIMESTAMP", "IMGWIDTH", "IMGHEIGHT")]
        calibration_keys = system_cfg.ONE_LENS_CALIB_KEYS[1:]
    lines += ["%d\t# integer" % value for value in integers]
    values = described["values"]
    lines += ["%.9g\t# %s" % (values[k], k) for k in system_cfg.ONE_LENS_LENS_KEYS]
    for index, laser in enumerate(described.get("lasers", [])):
        lines += ["%.9g\t# L%d: %s" % (laser[k], index + 1, k) for k in system_cfg.ZTM4_LASER_KEYS]
    lines += ["%.9g\t# %s" % (values[k], k) for k in calibration_keys]
    return ("\n".join(lines) + "\n").encode()


# --- camera replies -----------------------------------------------------------------------------

def http_reply(response, piece, max_body, close):
    """A reply and the switches the target reads from its end: close, body limit, piece size."""
    return response + bytes([close]) + struct.pack("<H", max_body) + bytes([piece - 1])


def http_seeds():
    body = compact({"retCode": 0, "fwVersion": "1.3.512"})
    return {
        "length": http_reply(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body, 7, 4096, 0),
        "chunked": http_reply(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=1\r\n" + body[:5]
                              + b"\r\n%x\r\n" % (len(body) - 5) + body[5:] + b"\r\n0\r\nX-After: 1\r\n\r\n",
                              3, 4096, 0),
        "interim": http_reply(b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n{}",
                              1, 64, 0),
        "until_close": http_reply(b"HTTP/1.0 200 OK\r\nServer: cam\r\n\r\n" + body, 16, 4096, 1),
        "no_content": http_reply(b"HTTP/1.1 204 No Content\r\n\r\nleft over", 2, 0, 1),
        "too_large": http_reply(b"HTTP/1.1 500 Error\r\nContent-Length: 300\r\n\r\n" + b"e" * 300, 64, 256, 1),
    }


# ----------------------------------------------------------------------------------------------

def main():
    seeds = json_seeds()
    seeds["envelope"] = {"empty": b"", "short": b"\x01" * 15, "three_blocks": bytes(range(49)), "iv_only": b"\x7f" * 16}
    seeds["scan_data"] = scan_data_seeds()
    seeds["raw_import"] = raw_import_seeds()
    seeds["calibration"] = calibration_seeds()
    seeds["tar"] = tar_seeds()
    seeds["image"] = image_seeds()
    seeds["http_response"] = http_seeds()
    scratch = tempfile.mkdtemp()
    try:
        seeds.update(one_lens_seeds(scratch))
    finally:
        shutil.rmtree(scratch)
    for target, files in seeds.items():
        folder = os.path.join(CORPUS, target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    print("wrote", sum(len(files) for files in seeds.values()), "seeds for", len(seeds), "targets")


if __name__ == "__main__":
    main()
