#!/usr/bin/env python3
"""Every zorvctl command under --json, against the published schema.

Runs each command of the table below on a simulated bay as its own process
and checks what a script that reads zorvctl's output relies on:
  - stdout holds exactly one JSON document, whatever happened, and it is valid
    against schema/zorvctl.schema.json;
  - the document's exitStatus is the process's exit status, which is the one
    the case expects (0 success, 1 ran and failed, 2 unusable input);
  - its "command" names the command that ran;
  - the table has a case for every command `zorvctl --help-all` lists.

Usage: check_json_documents.py ZORVCTL SCHEMA WORKDIR [KEEPDIR]
(KEEPDIR: where to keep each document, to read them)
"""

import json
import os
import re
import shutil
import subprocess
import sys
import time

try:
    import jsonschema
except ImportError:
    sys.exit("this test needs Python's jsonschema module (scripts/setup installs python3-jsonschema)")

ZORVCTL, SCHEMA_PATH, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
KEEP = sys.argv[4] if len(sys.argv) > 4 else None
BAY = os.path.join(WORK, "bay")


def run(args, cwd=WORK):
    return subprocess.run([ZORVCTL] + args, cwd=cwd, capture_output=True, timeout=120)


def setup_or_die(args):
    r = run(args)
    if r.returncode != 0:
        sys.exit("setting up with zorvctl %s failed (%d): %s" % (" ".join(args), r.returncode, r.stderr.decode()))


def listed_commands():
    """The runnable commands as --help-all lists them: each top-level command
    and each of its subcommands."""
    text = run(["--help-all"]).stdout.decode()
    top, nested = [], []
    current, in_top, in_sub = None, False, False
    for line in text.splitlines():
        if line == "Subcommands:":
            in_top = True
            continue
        if not in_top or not line.strip():
            continue
        if re.match(r"^[a-z][a-z0-9-]*$", line):
            current, in_sub = line, False
            top.append(current)
        elif line == "  Subcommands:":
            in_sub = True
        elif in_sub and re.match(r"^    [a-z][a-z0-9-]* ", line):
            nested.append(current + " " + line.split()[0])
        elif re.match(r"^  \S", line):
            in_sub = False
    return top, nested


def prepare():
    if os.path.exists(WORK):
        shutil.rmtree(WORK)
    os.makedirs(WORK)
    files = {name: os.path.join(WORK, name) for name in
             ["pkg.qz", "image.bin", "packed.qz", "unpacked", "exe", "out.exe", "ident0.bin", "ident1.bin",
              "notjson.txt", "pattern.bin", "runs", "reports", "define.sc1", "capacity.sc2", "script.sc3",
              "sector.bin", "buffer.bin"]}
    setup_or_die(["sim", "create", BAY])
    setup_or_die(["--sim", BAY, "fw", "demo-package", files["pkg.qz"]])
    shutil.copy(ZORVCTL, files["exe"])
    with open(files["notjson.txt"], "w") as f:
        f.write("neither a package nor an image\n")
    for d in ("runs", "reports", "unpacked"):
        os.makedirs(files[d])
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
    shutil.copy(os.path.join(examples, "workload", "define.sc1"), files["define.sc1"])
    shutil.copy(os.path.join(examples, "workload", "capacity.sc2"), files["capacity.sc2"])
    shutil.copy(os.path.join(examples, "volume", "type1_sequential.sc3"), files["script.sc3"])
    return files


# Commands this test cannot run to success, and why; a failing case still
# checks their document.
NO_SUCCESS_HERE = {
    "volume test": "needs a file system mounted from a family drive (root and a loop device: tests/volume_cli)",
}


def power_cycle_when_asked(process):
    """What a person at the RMA station does: power cycles the drive once the
    station has prepared it and asks for it."""
    for _ in range(3000):
        if process.poll() is not None:
            return
        listing = json.loads(run(["--sim", BAY, "--json", "sim", "list"]).stdout)
        drive = listing["slots"][0].get("drive") or {}
        if drive.get("vendor", {}).get("rma", {}).get("preb2") == 1:
            run(["--sim", BAY, "sim", "power-cycle", "0", "--off-seconds", "1"])
            return
        time.sleep(0.05)


def cases(f):
    """(command as --help-all names it, its arguments, expected exit status[, what a person does meanwhile]).
    Run in order: later cases use files earlier ones wrote."""
    sim = ["--sim", BAY]
    d0 = sim + ["--drive", "0"]
    d1 = sim + ["--drive", "1"]
    return [
        ("scan", sim + ["scan"], 0),
        ("info", sim + ["info"], 0),
        ("scan", ["--sim", f["notjson.txt"], "scan"], 2),
        ("sim list", sim + ["sim", "list"], 0),
        ("sim create", ["sim", "create", os.path.join(WORK, "bay2")], 0),
        ("sim plug", sim + ["sim", "plug", "4", "--model", "ORBENNE PA256 SSD", "--serial", "SMALL4",
                             "--capacity", "262144"], 0),
        ("sim unplug", sim + ["sim", "unplug", "4"], 0),
        ("sim plug", sim + ["sim", "plug", "4"], 0),
        ("sim power-cycle", sim + ["sim", "power-cycle", "4", "--off-seconds", "0"], 0),
        ("sim fault", sim + ["sim", "fault", "4", "no-such-fault"], 2),
        ("identify", d0 + ["identify"], 0),
        ("identify", d0 + ["identify", "--decode"], 0),
        ("identify", d0 + ["identify", "--save"], 0),
        ("identify", d1 + ["identify", "--save"], 0),
        ("identify compare", ["identify", "compare"] + sorted(
            os.path.join(WORK, n) for n in os.listdir(WORK) if n.startswith("Identify_"))[:2], 0),
        ("identify compare", ["identify", "compare", f["notjson.txt"], os.path.join(WORK, "missing.bin")], 2),
        ("ata", d0 + ["ata", "--sector-cnt", "1", "--device", "40", "--command", "EC", "--out", f["sector.bin"]], 0),
        ("ata", d0 + ["ata", "--command", "E5E5E"], 2),
        ("buffer", d0 + ["buffer", "--read-buffer", "--start", "0", "--length", "40"], 0),
        ("diag", d0 + ["diag", "30", "--dir", f["runs"]], 0),
        ("diag", d0 + ["diag", "--list"], 0),
        ("diag", d0 + ["diag", "no-such-operation"], 2),
        ("diag trigger", d0 + ["diag", "trigger"], 0),
        ("diag clean-smart", d0 + ["diag", "clean-smart"], 0),
        ("diag erase-stats", d0 + ["diag", "erase-stats", "--dir", f["runs"]], 0),
        ("diag erase-stats", ["diag", "erase-stats", "--file", f["notjson.txt"]], 2),
        ("parse devinfo", ["parse", "devinfo", "-o", os.path.join(WORK, "devinfo.csv")] + sorted(
            os.path.join(f["runs"], n) for n in os.listdir(f["runs"]) if n.endswith(".txt"))[:1], 0),
        ("parse spi", ["parse", "spi", "-o", os.path.join(WORK, "spi.csv"), os.path.join(BAY, "slot1", "spi.bin")], 0),
        ("parse spi", ["parse", "spi", "-o", os.path.join(WORK, "spi.csv"), os.path.join(WORK, "missing.bin")], 2),
        ("qz list", ["qz", "list", f["pkg.qz"], "--class", "0"], 0),
        ("qz list", ["qz", "list", f["notjson.txt"], "--class", "0"], 2),
        ("qz unpack", ["qz", "unpack", f["pkg.qz"], f["unpacked"], "--class", "0"], 0),
        ("qz make-image", ["qz", "make-image", "--class", "0", "--hwid", "5A0C1F0300000000AA", "--version",
                           "S1107B", "-o", f["image.bin"]], 0),
        ("qz pack", ["qz", "pack", "--class", "0", "--row", "5A0C1F0300000000AA,PA256," + f["image.bin"], "-o",
                     f["packed.qz"]], 0),
        ("fw demo-package", sim + ["fw", "demo-package", os.path.join(WORK, "demo2.qz")], 0),
        ("fw update", d0 + ["fw", "update", "--package", f["pkg.qz"]], 0),
        ("fw update", d0 + ["fw", "update", "--bin", f["notjson.txt"]], 2),
        ("fw append-qz", ["fw", "append-qz", f["exe"], f["pkg.qz"], f["out.exe"]], 0),
        ("fw make-downloader", ["fw", "make-downloader", f["exe"], f["image.bin"]], 0),
        ("fw lock-model", ["fw", "lock-model", f["exe"], os.path.join(WORK, "locked.exe"), "--brand", "2"], 0),
        ("fw rma-variant", ["fw", "rma-variant", f["exe"], os.path.join(WORK, "b.exe"), "--letter", "B"], 0),
        ("fw rma-variant", ["fw", "rma-variant", f["exe"], os.path.join(WORK, "b.exe"), "--letter", "b"], 2),
        ("pattern", d0 + ["pattern", "write", "--start-lba", "0", "--end-lba", "800", "--loop", "1",
                          "--compare", "total", "--command", "dma-ext", "--quiet"], 0),
        ("pattern", ["pattern", "gen", "--out", f["pattern.bin"]], 0),
        ("test", d0 + ["test", "seq-read", "--slba", "0", "--elba", "1000", "--length", "4"], 0),
        ("test", d0 + ["test", "seq-write", "--slba", "0", "--elba", "1000"], 0),
        ("test", d0 + ["test", "no-such-test"], 2),
        ("workload run", sim + ["workload", "run", "--drive", "0", "--sc1", f["define.sc1"], "--seed", "1"], 0),
        ("workload run", sim + ["workload", "run", "--drive", "0", "--sc2", f["capacity.sc2"], "--seed", "1",
                                "--report-dir", f["reports"]], 0),
        ("report show", ["report", "show"] + sorted(
            os.path.join(f["reports"], n) for n in os.listdir(f["reports"]))[:1], 0),
        ("report show", ["report", "show", os.path.join(WORK, "missing.csv")], 2),
        ("volume list", sim + ["volume", "list"], 0),
        ("volume test", sim + ["volume", "test", "--script", f["script.sc3"]], 2),
        ("watch", sim + ["watch", "--seconds", "1"], 0),
        ("watch", sim + ["watch"], 2),
        ("sim fault", sim + ["sim", "fault", "0", "temperature", "4"], 0),
        ("rma", d0 + ["rma", "--serial", "OB2310A00417", "--report-dir", f["reports"]], 1),
        ("sim fault", sim + ["sim", "fault", "0", "temperature", "36"], 0),
        ("rma", d0 + ["rma", "--serial", "OB2310A00417", "--report-dir", f["reports"], "--time-interval", "30"], 0,
         power_cycle_when_asked),
        ("sim fault", sim + ["sim", "fault", "0", "clear"], 0),
        ("", ["--help"], 0),
        ("", [], 2),
    ]


def schema_rejects_what_it_must(validator, documents):
    """The schema is strict: documents that differ from a valid one in the
    ways a changed program would must fail it."""
    if "scan" not in documents or "sim create" not in documents:
        return ["no valid scan or sim create document to alter"]
    scan, plain = documents["scan"], documents["sim create"]
    altered = {
        "an unknown field": dict(scan, unknownField=1),
        "another format version": dict(scan, json_format_version=2),
        "an exit status outside the table": dict(scan, exitStatus=3),
        "a result field of the wrong type": dict(scan, drives="none"),
        "part of a result": {k: v for k, v in scan.items() if k != "pane"},
        "a result on a command that has none": dict(plain, drives=[]),
        "no command": {k: v for k, v in plain.items() if k != "command"},
    }
    return ["the schema accepts a document with %s" % what for what, doc in altered.items() if validator.is_valid(doc)]


def main():
    with open(SCHEMA_PATH) as s:
        schema = json.load(s)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    files = prepare()
    failures = []
    covered = set()
    documents = {}
    # Cases are built lazily: some name files that earlier cases write.
    index = 0
    while True:
        table = cases(files)
        if index >= len(table):
            break
        command, args, expected = table[index][:3]
        meanwhile = table[index][3] if len(table[index]) > 3 else None
        index += 1
        # --json goes last: it may stand anywhere, after the command too.
        if meanwhile:
            process = subprocess.Popen([ZORVCTL] + args + ["--json"], cwd=WORK, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            meanwhile(process)
            out, err = process.communicate(timeout=120)
            r = subprocess.CompletedProcess(process.args, process.returncode, out, err)
        else:
            r = run(args + ["--json"])
        label = "zorvctl %s --json" % " ".join(args)
        try:
            doc = json.loads(r.stdout.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError) as e:
            failures.append("%s: stdout is not one JSON document (%s): %r" % (label, e, r.stdout[:300]))
            continue
        if KEEP:
            os.makedirs(KEEP, exist_ok=True)
            with open(os.path.join(KEEP, "%02d-%s.json" % (index, command.replace(" ", "-") or "none")), "w") as k:
                json.dump(doc, k, indent=1)
        errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.absolute_path))
        for e in errors[:5]:
            failures.append("%s: schema: at %s: %s" % (label, "/".join(map(str, e.absolute_path)), e.message[:300]))
        if doc.get("exitStatus") != r.returncode:
            failures.append("%s: exitStatus %r but the process exited with %d" % (label, doc.get("exitStatus"),
                                                                                   r.returncode))
        if r.returncode != expected:
            failures.append("%s: exit status %d, expected %d; messages: %s" % (label, r.returncode, expected,
                                                                               doc.get("messages", "")[:400]))
        if doc.get("command") != command:
            failures.append("%s: command %r, expected %r" % (label, doc.get("command"), command))
        if r.returncode == 0:
            covered.add(command)
            documents.setdefault(command, doc)
    failures += schema_rejects_what_it_must(validator, documents)
    top, nested = listed_commands()
    if not top or not nested:
        failures.append("--help-all lists no commands: its layout changed and this test must follow it")
    parents = {n.split(" ")[0] for n in nested}
    # A group whose own callback does the work (diag, identify) is a command too.
    runnable = set(nested) | {t for t in top if t not in parents or t in ("diag", "identify")}
    for c in sorted(runnable - covered - set(NO_SUCCESS_HERE)):
        failures.append("no case runs %r successfully under --json: add one to the table" % c)
    for f in failures:
        print(f)
    print("%d cases, %d commands, %d failures" % (index, len(runnable), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
