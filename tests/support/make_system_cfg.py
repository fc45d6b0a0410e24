#!/usr/bin/python3
"""Writes camera calibration files ("system.cfg") for tests and sample projects.

The layouts are built here with struct and the CRC with crcmod, independently of the product
code. Every model's block is little-endian but for its CRC-16/X-25 trailer, stored high byte
first. Run with --describe to get the values written as JSON on stdout.

Usable as a module too: build_ztm6(), build_ztm5(), build_ztm4() return (bytes, description).
"""

import argparse
import json
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import system_python  # noqa: E402

system_python.require("crcmod")
import crcmod.predefined  # noqa: E402

_crc_x25 = crcmod.predefined.mkCrcFun("x-25")

ZTM6_HEADER_FLOATS = ["POSX", "POSY", "POSZ", "ROLL", "PITCH", "YAW"]
ZTM6_LENS_KEYS = ["RCA", "BCA", "U0", "V0", "K1", "K2", "K3", "P1", "P2", "P3", "P4", "RM",
                  "POSX", "POSY", "POSZ", "ROLL", "PITCH", "YAW"]
ZTM6_TEXTS = ["SYSTEM_SERIAL", "CAMERA_MODEL", "CAMERA_SERIAL", "CAMERA_FW"]
ONE_LENS_LENS_KEYS = ["F", "U0", "V0", "RY", "K1", "K2", "K3", "P1", "P2", "P3"]
ONE_LENS_CALIB_KEYS = ["COMPASS_OFFSET", "LENS_FOV", "RCA", "BCA"] + ["VC%d" % i for i in range(10)]
ZTM4_INT_KEYS = ["TIMESTAMP", "IMGWIDTH", "IMGHEIGHT", "NUM_LASERS", "CENT_COLOR", "CENT_THRESHOLD",
                 "CENT_MINPEAK", "CENT_MAXPEAK", "CENT_MINSIDEPIX", "CENT_MAXSIDEPIX", "COMPASS_FACTOR"]
ZTM4_LASER_KEYS = ["PN", "NX", "NY", "NZ", "A0", "A1", "A2", "A3", "A4", "A5", "UMIN", "UMAX"]


def crc_trailer(data, low_first=False):
    crc = _crc_x25(bytes(data))
    return crc.to_bytes(2, "little" if low_first else "big")


def as_float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def text_field(text=None, raw_hex=None):
    """24 bytes of a text field: the text NUL-padded, or exactly the given bytes."""
    if raw_hex is not None:
        raw = bytes.fromhex(raw_hex)
        if len(raw) != 24:
            raise ValueError("a raw text field is 24 bytes")
        return raw
    encoded = text.encode("utf-8")
    if len(encoded) > 24:
        raise ValueError("text longer than 24 bytes: %r" % text)
    return encoded.ljust(24, b"\0")


def field_text(raw, limit):
    return raw[:limit].split(b"\0", 1)[0].decode("utf-8", "replace")


def default_ztm6_lens(index):
    """Distinct, non-trivial values for lens record index (0-based)."""
    values = {}
    for k, key in enumerate(ZTM6_LENS_KEYS):
        values[key] = as_float32((index + 1) * 0.37 + k * 1.25 - 3.0 + k * k * 0.001)
    values["U0"] = as_float32(1920.25 + index * 3.5)
    values["V0"] = as_float32(1919.75 - index * 2.25)
    values["K1"] = as_float32(-1.5e-7 * (index + 1))
    values["RM"] = as_float32(1.6580628)
    return values


def _setter_into(target, key, value):
    if key not in target:
        raise KeyError(key)
    target[key] = value


def build_ztm6(version=60002, timestamp=20240315, width=7680, height=3840, lens_count=2, records=None,
               texts=None, raw_texts=None, calibrated=1, aligned=1, reserved="a55a", header=None,
               lenses=None, crc_over_terminated=False):
    records = lens_count if records is None else records
    texts = dict({"SYSTEM_SERIAL": "MX0123456789", "CAMERA_MODEL": "QC-2", "CAMERA_SERIAL": "CAM-778812",
                  "CAMERA_FW": "4.2.17"}, **(texts or {}))
    raw_texts = raw_texts or {}
    head = {"POSX": 1.5, "POSY": -205.75, "POSZ": 12.0, "ROLL": 0.0125, "PITCH": -0.0075, "YAW": 1.0471976,
            "MIN_RANGE": 150, "MAX_RANGE": 40000}
    for key, value in (header or {}).items():
        _setter_into(head, key, value)
    lens_values = [default_ztm6_lens(i) for i in range(max(records, 0))]
    for (index, key), value in (lenses or {}).items():
        _setter_into(lens_values[index], key, value)

    fields = {name: text_field(texts.get(name), raw_texts.get(name)) for name in ZTM6_TEXTS}
    def header_bytes(text_fields):
        out = struct.pack("<5i", version, timestamp, width, height, lens_count)
        for name in ZTM6_TEXTS:
            out += text_fields[name]
        out += struct.pack("<BB", calibrated, aligned) + bytes.fromhex(reserved)
        out += struct.pack("<6f", *[head[k] for k in ZTM6_HEADER_FLOATS])
        out += struct.pack("<2I", head["MIN_RANGE"], head["MAX_RANGE"])
        assert len(out) == 152
        return out

    lens_bytes = b"".join(struct.pack("<18f", *[lens[k] for k in ZTM6_LENS_KEYS]) for lens in lens_values)
    block = header_bytes(fields) + lens_bytes
    terminated = {name: raw[:23] + b"\0" for name, raw in fields.items()}
    crc_block = header_bytes(terminated) + lens_bytes if crc_over_terminated else block
    data = block + crc_trailer(crc_block)

    description = {
        "model": "ztm6",
        "header": dict({"FILE_VERSION": version, "TIME_STAMP": timestamp, "IMG_WIDTH": width,
                        "IMG_HEIGHT": height, "NUM_LENS": lens_count, "LENS_CALIBRATED": calibrated,
                        "LENS_ALIGNED": aligned, "reserved": reserved},
                       **{k: as_float32(head[k]) for k in ZTM6_HEADER_FLOATS},
                       MIN_RANGE=head["MIN_RANGE"], MAX_RANGE=head["MAX_RANGE"],
                       **{name: field_text(fields[name], 23) for name in ZTM6_TEXTS}),
        "lenses": [{k: as_float32(v) for k, v in lens.items()} for lens in lens_values],
    }
    return data, description


def _one_lens_values(defaults, overrides):
    values = dict(defaults)
    for key, value in (overrides or {}).items():
        _setter_into(values, key, value)
    return {k: as_float32(v) for k, v in values.items()}


def build_ztm5(stamp=2128511, serial="MS2200417", raw_serial=None, timestamp=20230611, width=3456, height=3456,
               values=None):
    defaults = {"F": 1287.625, "U0": 1731.5, "V0": 1722.25, "RY": 1.0015, "K1": 3.75e-8, "K2": -1.25e-14,
                "K3": 2.5e-21, "P1": 1.5e-6, "P2": -2.25e-6, "P3": 1.0e-7,
                "LENS_FOV": 3.229, "RCA": 1.00106, "BCA": 1.000033}
    defaults.update({"VC%d" % i: 0.001 * (i + 1) for i in range(10)})
    v = _one_lens_values(defaults, values)
    serial_bytes = text_field(serial, raw_serial)
    block = struct.pack("<I", stamp) + serial_bytes + struct.pack("<3i", timestamp, width, height)
    block += struct.pack("<10f", *[v[k] for k in ONE_LENS_LENS_KEYS])
    block += struct.pack("<13f", *[v[k] for k in ONE_LENS_CALIB_KEYS[1:]])
    assert len(block) == 132
    data = block + crc_trailer(block)
    description = {"model": "ztm5", "stamp": stamp, "serial": field_text(serial_bytes, 24),
                   "TIMESTAMP": timestamp, "IMGWIDTH": width, "IMGHEIGHT": height, "values": v}
    return data, description


def build_ztm4(stamp=2128509, serial="ZT4-00512", raw_serial=None, lasers=3, integers=None, values=None,
               laser_values=None):
    ints = {"TIMESTAMP": 20190402, "IMGWIDTH": 4272, "IMGHEIGHT": 2848, "NUM_LASERS": lasers, "CENT_COLOR": 2,
            "CENT_THRESHOLD": 41, "CENT_MINPEAK": 25, "CENT_MAXPEAK": 60000, "CENT_MINSIDEPIX": 2,
            "CENT_MAXSIDEPIX": 9, "COMPASS_FACTOR": 3}
    for key, value in (integers or {}).items():
        _setter_into(ints, key, value)
    defaults = {"F": 1049.5, "U0": 1425.25, "V0": 1420.75, "RY": 0.9985, "K1": 1.125e-7, "K2": -2.5e-14,
                "K3": 0.0, "P1": 2.5e-6, "P2": 1.5e-6, "P3": -1.0e-7,
                "COMPASS_OFFSET": 0.125, "LENS_FOV": 3.229, "RCA": 1.00106, "BCA": 1.00003}
    defaults.update({"VC%d" % i: 1.0 + 0.01 * i for i in range(10)})
    v = _one_lens_values(defaults, values)
    records = []
    for laser in range(max(lasers, 0)):
        record = {k: as_float32(100.0 * (laser + 1) + j * 0.5 - 2.0) for j, k in enumerate(ZTM4_LASER_KEYS)}
        for (index, key), value in (laser_values or {}).items():
            if index == laser:
                _setter_into(record, key, as_float32(value))
        records.append(record)
    serial_bytes = text_field(serial, raw_serial)
    block = struct.pack("<I", stamp) + serial_bytes + struct.pack("<11i", *[ints[k] for k in ZTM4_INT_KEYS])
    block += struct.pack("<10f", *[v[k] for k in ONE_LENS_LENS_KEYS])
    for record in records:
        block += struct.pack("<12f", *[record[k] for k in ZTM4_LASER_KEYS])
    block += struct.pack("<14f", *[v[k] for k in ONE_LENS_CALIB_KEYS])
    data = block + crc_trailer(block)
    description = {"model": "ztm4", "stamp": stamp, "serial": field_text(serial_bytes, 24), "integers": ints,
                   "values": v, "lasers": records}
    return data, description


def damage(data, flip_bit=None, swap_trailer=False, truncate=0, append=None, trailer_at=None):
    """Spoils a finished file the way the tests need: after the CRC was computed."""
    data = bytearray(data)
    if flip_bit is not None:
        data[flip_bit // 8] ^= 1 << (flip_bit % 8)
    if swap_trailer:
        at = len(data) - 2 if trailer_at is None else trailer_at
        data[at], data[at + 1] = data[at + 1], data[at]
    if truncate:
        del data[len(data) - truncate:]
    if append:
        data += bytes.fromhex(append)
    return bytes(data)


def _key_value(text):
    key, _, value = text.partition("=")
    if not _:
        raise argparse.ArgumentTypeError("expected KEY=VALUE, got %r" % text)
    return key, value


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out", help="file to write ('-' for stdout)")
    parser.add_argument("--model", choices=["ztm6", "ztm5", "ztm4"], default="ztm6")
    parser.add_argument("--version", type=int, help="ztm6: FILE_VERSION")
    parser.add_argument("--stamp", type=int, help="ztm5/ztm4: file stamp")
    parser.add_argument("--timestamp", type=int)
    parser.add_argument("--width", type=int)
    parser.add_argument("--height", type=int)
    parser.add_argument("--lens-count", type=int, help="ztm6: NUM_LENS as stored")
    parser.add_argument("--records", type=int, help="ztm6: lens records actually written (default NUM_LENS)")
    parser.add_argument("--lasers", type=int, help="ztm4: NUM_LASERS and laser records written")
    parser.add_argument("--serial", help="system serial")
    parser.add_argument("--camera-model")
    parser.add_argument("--camera-serial")
    parser.add_argument("--camera-fw")
    parser.add_argument("--raw-text", action="append", type=_key_value, default=[],
                        help="FIELD=HEX: exactly 24 bytes for a text field (SYSTEM_SERIAL, ... or serial)")
    parser.add_argument("--calibrated", type=int)
    parser.add_argument("--aligned", type=int)
    parser.add_argument("--reserved", help="ztm6: the two reserved header bytes as hex")
    parser.add_argument("--set", action="append", type=_key_value, default=[],
                        help="KEY=VALUE: a header value (POSX, MIN_RANGE, ...), lensN.KEY for a ztm6 lens "
                             "(1-based), laserN.KEY for a ztm4 laser, a one-lens value (F, VC0, CENT_COLOR, ...)")
    parser.add_argument("--crc-over-terminated", action="store_true",
                        help="ztm6: compute the CRC with byte 23 of every text field as 0")
    parser.add_argument("--flip-bit", type=int, help="flip this bit (byte = N / 8) after the CRC")
    parser.add_argument("--swap-trailer", action="store_true", help="store the CRC low byte first")
    parser.add_argument("--truncate", type=int, default=0, help="drop this many bytes from the end")
    parser.add_argument("--append", help="hex bytes to add after the trailer")
    parser.add_argument("--describe", action="store_true", help="print the values written as JSON")
    args = parser.parse_args(argv)

    common = {}
    for name, key in (("timestamp", "timestamp"), ("width", "width"), ("height", "height")):
        if getattr(args, name) is not None:
            common[key] = getattr(args, name)
    raw = dict(args.raw_text)
    if args.model == "ztm6":
        header, lenses = {}, {}
        for key, value in args.set:
            if key.startswith("lens"):
                index, _, field = key[4:].partition(".")
                lenses[(int(index) - 1, field)] = float(value)
            else:
                header[key] = int(value, 0) if key in ("MIN_RANGE", "MAX_RANGE") else float(value)
        texts = {}
        for option, name in (("serial", "SYSTEM_SERIAL"), ("camera_model", "CAMERA_MODEL"),
                             ("camera_serial", "CAMERA_SERIAL"), ("camera_fw", "CAMERA_FW")):
            if getattr(args, option) is not None:
                texts[name] = getattr(args, option)
        kwargs = dict(common, texts=texts, raw_texts=raw, header=header, lenses=lenses,
                      crc_over_terminated=args.crc_over_terminated)
        for option, name in (("version", "version"), ("lens_count", "lens_count"), ("records", "records"),
                             ("calibrated", "calibrated"), ("aligned", "aligned"), ("reserved", "reserved")):
            if getattr(args, option) is not None:
                kwargs[name] = getattr(args, option)
        data, description = build_ztm6(**kwargs)
    elif args.model == "ztm5":
        kwargs = dict(common, values={k: float(v) for k, v in args.set}, raw_serial=raw.get("serial"))
        if args.stamp is not None:
            kwargs["stamp"] = args.stamp
        if args.serial is not None:
            kwargs["serial"] = args.serial
        data, description = build_ztm5(**kwargs)
    else:
        integers, values, laser_values = {}, {}, {}
        for key, value in args.set:
            if key.startswith("laser"):
                index, _, field = key[5:].partition(".")
                laser_values[(int(index) - 1, field)] = float(value)
            elif key in ZTM4_INT_KEYS:
                integers[key] = int(value, 0)
            else:
                values[key] = float(value)
        renamed = {"timestamp": "TIMESTAMP", "width": "IMGWIDTH", "height": "IMGHEIGHT"}
        integers.update({renamed[k]: v for k, v in common.items()})
        kwargs = dict(integers=integers, values=values, laser_values=laser_values, raw_serial=raw.get("serial"))
        for option in ("stamp", "serial", "lasers"):
            if getattr(args, option) is not None:
                kwargs[option] = getattr(args, option)
        data, description = build_ztm4(**kwargs)

    data = damage(data, flip_bit=args.flip_bit, swap_trailer=args.swap_trailer, truncate=args.truncate,
                  append=args.append, trailer_at=len(data) - 2)
    description["size"] = len(data)
    if args.out == "-":
        sys.stdout.buffer.write(data)
    else:
        with open(args.out, "wb") as out:
            out.write(data)
    if args.describe:
        json.dump(description, sys.stdout, indent=1, sort_keys=True)
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
