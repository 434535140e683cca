#!/usr/bin/env python3
"""Times the export as whole processes on sample databases of 100 000 and 1 000 000 records.

For each size, median of RUNS runs (default 3):
  (1) vcard-parvela AUTO: the full export (UTF-8)
  (2) sqlite3 -csv <db> "<the statement>" > /dev/null: merely reading the same rows
  (3) an export of changes over the unchanged database with its ledger
and prints wall seconds, CPU seconds, peak RSS and the ratios the targets are stated in.

usage: bench/run.py BUILD_DIR DATA_DIR [RUNS] [SIZES...]
"""
import os
import statistics
import subprocess
import sys
import time

STATEMENT = "Select ID,NName,VName,Abt,IX,adr_42_,Ort,strasse,GR,adr_47_ from Adressen"


def measure(cmd, env=None, stdout=subprocess.DEVNULL):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), err))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def medians(results):
    return tuple(statistics.median(r[i] for r in results) for i in range(3))


def main():
    build, data = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    sizes = [int(s) for s in sys.argv[4:]] or [100000, 1000000]
    maker = os.path.join(build, "tools/sampledb/pv-sampledb")
    program = os.path.join(build, "app/vcard-parvela")
    job = os.path.join(build, "bench/pv-export-bench")

    env = dict(os.environ, TMPDIR=os.path.join(data, "tmp"))
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    settings = os.path.join(data, "tmp/PVTempDir/vcard")
    os.makedirs(settings, mode=0o700, exist_ok=True)
    os.chmod(os.path.join(data, "tmp/PVTempDir"), 0o700)
    with open(os.path.join(settings, "UserMode.INI"), "wb") as f:
        f.write(b"[MODE]\r\nAsAnsi=0\r\n")

    rows = {}
    for n in sizes:
        db = os.path.join(data, "s%d" % n)
        if not os.path.exists(os.path.join(db, "Parvela.sqlite")):
            subprocess.run([maker, db, str(n), "--seed", "1"], check=True, stdout=subprocess.DEVNULL)
        out = os.path.join(data, "s%d.vcf" % n)
        ledger = os.path.join(db, "vCard.Export/calc.txt")
        subprocess.run([job, db, out + ".job", ledger, "full"], check=True, stdout=subprocess.DEVNULL)
        # The three commands take turns, so that a change in the machine's load hits all alike.
        full, read, changes = [], [], []
        for _ in range(runs):
            full.append(measure([program, "AUTO", db, out], env=env))
            with open(os.devnull, "wb") as null:
                read.append(measure(["sqlite3", "-csv", os.path.join(db, "Parvela.sqlite"), STATEMENT],
                                    stdout=null))
            changes.append(measure([job, db, out + ".job", ledger, "changes"]))
        full, read, changes = medians(full), medians(read), medians(changes)
        with open(ledger, "rb") as f:
            lines = sum(1 for _ in f)
        rows[n] = (full, read, changes, lines)

    print("records    what                       wall s   CPU s   peak RSS MiB")
    for n, (full, read, changes, lines) in rows.items():
        print("%9d  (1) vcard-parvela AUTO      %7.2f %7.2f %10.0f" % (n, *full))
        print("%9d  (2) sqlite3 -csv            %7.2f %7.2f %10.0f" % (n, *read))
        print("%9d  (3) changes, %7d-line ledger %5.2f %7.2f %10.0f" % (n, lines, *changes))
        print("%9d  (1)/(2) wall %.2f   (3)/(1) wall %.2f" % (n, full[0] / read[0], changes[0] / full[0]))
    if len(rows) >= 2:
        small, large = min(rows), max(rows)
        print("growth %d -> %d: (1) wall x%.1f, CPU x%.1f" % (
            small, large, rows[large][0][0] / rows[small][0][0], rows[large][0][1] / rows[small][0][1]))


if __name__ == "__main__":
    main()
