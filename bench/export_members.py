#!/usr/bin/env python3
"""Exports one generated project with two builds of Quoril and compares the archives member by
member: the SHA-1 of every member's content, enciphered ones deciphered first with openssl.

A and B are each a source folder or a revision of this checkout (taken out with git archive).
Each is configured with its own CMake files and given bench/export_members/driver.cpp, which loads
the project and exports it as the window's export command does (Property::load, then
Property::exportTar), so no file of A or B is changed. The project comes from
tests/support/make_project.py of this checkout, written once and copied for each build under the
same folder name.

What is left out of the comparison, because it may differ between two runs of one build:
  - the tar headers (modification times) and the envelopes' IVs (random): members are compared by
    name, order and deciphered content;
  - the time stamps at the start of the program log's lines (quorillog.txt);
  - the order of the SVG plans' attributes, which Qt's DOM writes in the order of a hash seeded
    afresh in every process: the runs set QT_HASH_SEED=0, so that both builds write them alike.
Everything else counts, the export copy of the project file included: it is compared as bytes,
and when those differ the script names the JSON values that do.

Usage: bench/export_members.py [--work DIR] [--jobs N] A B
  --work DIR   where the sources, builds and runs go (default: a new folder in the temp folder);
               builds found there are reused
The deciphered content of every member that differs is left in DIR/differences/a and b.
Exit code 0 when every member is equal, 1 when one differs, 2 when a build or a run failed.
"""
import argparse
import base64
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKOUT = os.path.dirname(HERE)
PROJECT = "Maple Street"
GENERATOR = ["--floors", "2", "--scans-per-floor", "2", "--user-scans", "1", "--lens-height", "200",
             "--no-missing-main-image", "--exportable", "--seed", "7"]
# The envelope's key of each enciphered member, by how its name ends (the export's table).
ENCIPHERED = [(".qjs", "data"), (".pic", "data"), ("/pc.dat", "data"), (".qsv", "svg"), (".qdx", "dxf")]
LOG_STAMP = re.compile(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d+)? ", re.M)


class Failure(Exception):
    pass


def run(command, **kwargs):
    done = subprocess.run(command, capture_output=True, **kwargs)
    if done.returncode != 0:
        raise Failure(f"{' '.join(command)} exited with {done.returncode}:\n"
                      + done.stderr.decode(errors="replace")[-4000:])
    return done.stdout


def sources(side, work):
    """The source folder of A or B (the folder itself, or the revision taken out into work) and
    the folder in work for its build and run."""
    if os.path.isdir(side):
        source = os.path.abspath(side)
        return source, os.path.join(work, "tree-" + hashlib.sha1(source.encode()).hexdigest()[:12])
    commit = run(["git", "-C", CHECKOUT, "rev-parse", "--verify", side + "^{commit}"]).decode().strip()
    source = os.path.join(work, commit[:12], "src")
    if not os.path.isdir(source):
        os.makedirs(source)
        archive = run(["git", "-C", CHECKOUT, "archive", commit])
        tarfile.open(fileobj=io.BytesIO(archive)).extractall(source)
    return source, os.path.dirname(source)


def build(source, folder, jobs):
    """Configures the checkout with the driver added and builds the driver alone."""
    run(["cmake", "-S", source, "-B", folder, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         "-DQUORIL_TESTS=OFF", "-DQUORIL_BENCH=OFF",
         "-DCMAKE_PROJECT_INCLUDE=" + os.path.join(HERE, "export_members", "driver.cmake")])
    run(["cmake", "--build", folder, "-j", str(jobs), "--target", "export_members_driver"])
    return os.path.join(folder, "export_members_driver")


def export(driver, project, folder):
    """Exports a fresh copy of the project; the archive's bytes, the summary and the keys."""
    shutil.rmtree(folder, ignore_errors=True)
    copy = os.path.join(folder, PROJECT)
    shutil.copytree(project, copy)
    home = os.path.join(folder, "home")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QT_HASH_SEED="0", HOME=home, XDG_CONFIG_HOME=home + "/config",
               XDG_CACHE_HOME=home + "/cache", XDG_DATA_HOME=home + "/data")
    out = run([driver, copy], env=env, timeout=1800).decode()
    fields = dict(line.split(" ", 1) for line in out.splitlines() if " " in line)
    keys = {line.split()[1]: line.split()[2] for line in out.splitlines() if line.startswith("key ")}
    with open(os.path.join(copy, "_Export", PROJECT + ".quoril.tar"), "rb") as f:
        archive = f.read()
    return archive, base64.b64decode(fields["summary"]).decode(), keys


def decipher(envelope, key):
    """The envelope's content as openssl gives it: AES-128-CBC without padding over the whole
    blocks after the 16-byte IV, the last 0 to 15 bytes as they are."""
    if len(envelope) < 16:
        raise Failure(f"an envelope of {len(envelope)} bytes has no IV")
    body = envelope[16:]
    whole = len(body) // 16 * 16
    content = b""
    if whole:
        content = run(["openssl", "enc", "-d", "-aes-128-cbc", "-nopad", "-K", key, "-iv", envelope[:16].hex()],
                      input=body[:whole])
    return content + body[whole:]


def members(archive, keys):
    """(name, content) of every member in order; enciphered ones deciphered, the log unstamped."""
    found = []
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        for info in tar:
            data = tar.extractfile(info).read() if info.isfile() else b""
            kind = next((k for end, k in ENCIPHERED if info.name.endswith(end)), None)
            if kind:
                data = decipher(data, keys[kind])
            if info.name.endswith("/quorillog.txt"):
                data = LOG_STAMP.sub(b"", data)
            found.append((info.name, data))
    return found


def plausible(name, data):
    """Whether deciphered content looks like what the member holds (a wrong key gives noise)."""
    if name.endswith(".pic"):
        return data.startswith(b"\xff\xd8\xff")
    if name.endswith(".qjs"):
        try:
            return isinstance(json.loads(data), dict)
        except ValueError:
            return False
    if name.endswith(".qsv"):
        return data.lstrip().startswith(b"<")
    if name.endswith(".qdx"):
        return data.lstrip().startswith(b"0")
    return True


def json_differences(a, b, path=""):
    if isinstance(a, dict) and isinstance(b, dict):
        for key in sorted(set(a) | set(b)):
            yield from json_differences(a.get(key, "<absent>"), b.get(key, "<absent>"), f"{path}/{key}")
    elif isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        for i, (x, y) in enumerate(zip(a, b)):
            yield from json_differences(x, y, f"{path}[{i}]")
    elif a != b:
        yield f"{path}: {json.dumps(a)[:80]} / {json.dumps(b)[:80]}"


def compare(label_a, a, label_b, b, keep):
    """Prints one line per member and writes the deciphered content of those that differ under
    keep/a and keep/b; the number of members that differ."""
    names_a, names_b = [n for n, _ in a], [n for n, _ in b]
    differing = 0
    if names_a != names_b:
        differing += 1
        print(f"the member lists differ:\n  only in {label_a}: {sorted(set(names_a) - set(names_b))}\n"
              f"  only in {label_b}: {sorted(set(names_b) - set(names_a))}")
    contents_b = dict(b)
    print(f"{'member':<64} {'bytes':>9}  sha1 ({label_a})                         same in {label_b}")
    for name, data in a:
        other = contents_b.get(name)
        same = other is not None and other == data
        differing += not same
        print(f"{name:<64} {len(data):>9}  {hashlib.sha1(data).hexdigest()}  "
              f"{'yes' if same else 'NO ' + (hashlib.sha1(other).hexdigest() if other is not None else '(absent)')}")
        if not same and other is not None:
            for side, content in (("a", data), ("b", other)):
                path = os.path.join(keep, side, name.replace("//", "/"))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(content)
        if not same and other is not None and name.endswith(".qjs"):
            for line in json_differences(json.loads(data), json.loads(other)):
                print("    " + line)
    return differing


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("a")
    parser.add_argument("b")
    parser.add_argument("--work")
    parser.add_argument("--jobs", type=int, default=4)
    args = parser.parse_args()
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="export-members-"))
    try:
        project = os.path.join(work, "project", PROJECT)
        if not os.path.isdir(project):
            os.makedirs(os.path.dirname(project), exist_ok=True)
            run(["/usr/bin/python3", os.path.join(CHECKOUT, "tests", "support", "make_project.py"), project]
                + GENERATOR)
            # One asset, so that the archive carries the assets folder too.
            os.makedirs(os.path.join(project, "Ground", "001", "assets"))
            with open(os.path.join(project, "Ground", "001", "assets", "plan.pdf"), "wb") as f:
                f.write(b"%PDF-1.4 ground floor plan")
        results = []
        for side in (args.a, args.b):
            source, folder = sources(side, work)
            driver = build(source, os.path.join(folder, "build"), args.jobs)
            archive, summary, keys = export(driver, project, os.path.join(folder, "run"))
            contents = members(archive, keys)
            for name, data in contents:
                if not plausible(name, data):
                    raise Failure(f"{side}: {name} does not decipher to what it should hold")
            results.append((side, contents, summary, keys))
            print(f"{side}: {source}, {len(contents)} members, {len(archive)} archive bytes")
    except Failure as failure:
        print(failure, file=sys.stderr)
        return 2
    (label_a, a, summary_a, keys_a), (label_b, b, summary_b, keys_b) = results
    keep = os.path.join(work, "differences")
    shutil.rmtree(keep, ignore_errors=True)
    differing = compare(label_a, a, label_b, b, keep)
    for what, x, y in (("HTML summary", summary_a, summary_b), ("cipher keys", keys_a, keys_b)):
        print(f"{what}: {'same' if x == y else 'DIFFERENT'}")
        differing += x != y
    print(f"{len(a)} members, {differing} difference(s); work folder {work}")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
