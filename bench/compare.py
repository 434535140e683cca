#!/usr/bin/env python3
"""Compares the whole output of two builds' export jobs on one sample database.

For both encodings and both card versions it runs pv-export-bench of each build: a full export
that writes a change ledger, then, after some records got a new change stamp, an export of
changes against that ledger. The card files must be byte-identical except the REV lines (they
hold the time of the run), the ledgers byte-identical. Prints one line per comparison and exits
with status 1 when any differs.

usage: bench/compare.py OLD_BUILD NEW_BUILD DATA_DIR [RECORDS] [TOUCHED] [--awkward]
--awkward makes the sample with text that the cards must escape or convert (see pv-sampledb).
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys

REV = re.compile(rb"^REV:[0-9TZ:-]+\r$", re.M)
MODES = [("utf8 4.0", []), ("ansi 4.0", ["ansi"]), ("utf8 3.0", ["v30"]), ("ansi 3.0", ["ansi", "v30"])]


def digest(path, drop_rev):
    with open(path, "rb") as f:
        data = f.read()
    if drop_rev:
        data = REV.sub(b"REV:*\r", data)
    return hashlib.sha256(data).hexdigest()[:16], len(data)


def job(build, db, out, ledger, kind, flags):
    tool = os.path.join(build, "bench/pv-export-bench")
    subprocess.run([tool, db, out, ledger, kind] + flags, check=True, stdout=subprocess.DEVNULL)


def main():
    args = [a for a in sys.argv[1:] if a != "--awkward"]
    awkward = ["--awkward"] if len(args) < len(sys.argv) - 1 else []
    if len(args) < 3:
        sys.exit(__doc__)
    old, new, data = args[:3]
    records = int(args[3]) if len(args) > 3 else 100000
    touched = int(args[4]) if len(args) > 4 else 5000
    maker = os.path.join(new, "tools/sampledb/pv-sampledb")
    db = os.path.join(data, "compare%d" % records)
    failed = False
    for name, flags in MODES:
        subprocess.run([maker, db, str(records), "--seed", "1"] + awkward, check=True,
                       stdout=subprocess.DEVNULL)
        files = {}
        for tag, build in (("old", old), ("new", new)):
            ledger = os.path.join(data, "calc.%s.txt" % tag)
            if os.path.exists(ledger):
                os.remove(ledger)
            job(build, db, os.path.join(data, "full.%s.vcf" % tag), ledger, "full", flags)
            shutil.copyfile(ledger, ledger + ".full")
        subprocess.run([maker, db, "--touch", str(touched), "--seed", "7"], check=True,
                       stdout=subprocess.DEVNULL)
        for tag, build in (("old", old), ("new", new)):
            ledger = os.path.join(data, "calc.%s.txt" % tag)
            job(build, db, os.path.join(data, "changes.%s.vcf" % tag), ledger, "changes", flags)
            files[tag] = [("full cards", "full.%s.vcf" % tag, True),
                          ("full ledger", "calc.%s.txt.full" % tag, False),
                          ("changed cards", "changes.%s.vcf" % tag, True),
                          ("changed ledger", "calc.%s.txt" % tag, False)]
        for (what, old_file, drop), (_, new_file, _) in zip(files["old"], files["new"]):
            a = digest(os.path.join(data, old_file), drop)
            b = digest(os.path.join(data, new_file), drop)
            same = a == b
            failed |= not same
            print("%-9s %-15s %s %s %10d bytes" % (name, what, "same" if same else "DIFFERENT",
                                                 a[0], a[1]))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
