#!/usr/bin/env python3
"""Times the export as whole processes on sample databases of 100 000 and 1 000 000 records.

For each size the commands take turns (so that a change in the machine's load hits all alike),
and the median of RUNS runs (default 7) is printed:
  (1) the full export job without a ledger, as the silent export runs it (pv-export-bench, UTF-8),
      over the file of the run before; (1n) the same onto a file that is not there yet; (1c) the
      same pinned to one core: its CPU time without a second core's interference
  (2) sqlite3 -csv <db> "<the statement>" > /dev/null: reading and printing the same rows
  (3) sqlite3 <db> "select sum(length(...)) ...": merely stepping through the same ten columns
  (3p) two of (3) at once, each pinned to a core of its own, until both are done: their CPU time
      against (3)'s shows how much two busy cores slow each other down; wall near 1 when the
      machine has two cores to give, near 2 when it has one, and the export can use no more
  (4) an export of changes over the unchanged database with its ledger
  (A) vcard-parvela AUTO, when the build has the program
With --baseline OLD_BUILD, (1) and (4) of the old build's pv-export-bench join the turns, and the
ratios new/old are printed.

usage: bench/run.py BUILD_DIR DATA_DIR [RUNS] [SIZES...] [--baseline OLD_BUILD_DIR]
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

COLUMNS = ["ID", "NName", "VName", "Abt", "IX", "adr_42_", "Ort", "strasse", "GR", "adr_47_"]
STATEMENT = "Select %s from Adressen" % ",".join(COLUMNS)
STEPPING = "select %s from Adressen" % ",".join("sum(length(%s))" % c for c in COLUMNS)


def measure(cmds, env=None):
    """Wall time until all commands, started at once, are done; CPU time and peak RSS of one of
    them, on average."""
    start = time.monotonic()
    cpu = rss = 0.0
    copies = len(cmds)
    with open(os.devnull, "wb") as null:
        procs = [subprocess.Popen(cmd, env=env, stdout=null, stderr=subprocess.PIPE)
                 for cmd in cmds]
        for proc, cmd in zip(procs, cmds):
            _, status, usage = os.wait4(proc.pid, 0)
            err = proc.stderr.read().decode(errors="replace")
            proc.stderr.close()
            if os.waitstatus_to_exitcode(status) != 0:
                sys.exit("failed: %s\n%s" % (" ".join(cmd), err))
            cpu += (usage.ru_utime + usage.ru_stime) / copies
            rss += usage.ru_maxrss / 1024.0 / copies
    return time.monotonic() - start, cpu, rss


def medians(results):
    return tuple(statistics.median(r[i] for r in results) for i in range(3))


def parse_args(argv):
    baseline = None
    if "--baseline" in argv:
        at = argv.index("--baseline")
        baseline = argv[at + 1]
        argv = argv[:at] + argv[at + 2:]
    if len(argv) < 3:
        sys.exit(__doc__)
    runs = int(argv[3]) if len(argv) > 3 else 7
    sizes = [int(s) for s in argv[4:]] or [100000, 1000000]
    return argv[1], argv[2], runs, sizes, baseline


def settings_env(data):
    """An environment whose settings file says UTF-8, with no display."""
    env = dict(os.environ, TMPDIR=os.path.join(data, "tmp"))
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    settings = os.path.join(data, "tmp/PVTempDir/vcard")
    os.makedirs(settings, mode=0o700, exist_ok=True)
    os.chmod(os.path.join(data, "tmp/PVTempDir"), 0o700)
    with open(os.path.join(settings, "UserMode.INI"), "wb") as f:
        f.write(b"[MODE]\r\nAsAnsi=0\r\n")
    return env


def pinned(cpu, cmd):
    """The command on one core, where taskset and that core are there; else as it is."""
    if shutil.which("taskset") and cpu < (os.cpu_count() or 1):
        return ["taskset", "-c", str(cpu)] + cmd
    return cmd


def commands(build, baseline, db, data, n, env):
    """The commands of one size, by name, each with the processes it runs at once and their
    environment; each ledger is made by a full run of its own build."""
    sqlite_db = os.path.join(db, "Parvela.sqlite")
    out = os.path.join(data, "s%d" % n)
    cmds = {}
    for tag, where in (("", build), (" old", baseline)):
        if where is None:
            continue
        job = os.path.join(where, "bench/pv-export-bench")
        ledger = os.path.join(db, "vCard.Export/calc%s.txt" % tag.strip())
        subprocess.run([job, db, out + ".ledger", ledger, "full"], check=True,
                       stdout=subprocess.DEVNULL)
        full = [job, db, out + ".vcf", "", "full"]
        cmds["(1) full job" + tag] = ([full], None)
        cmds["(4) changes" + tag] = ([[job, db, out + ".vcf", ledger, "changes"]], None)
        if not tag:
            # The same onto a file that is not there yet: nothing replaced, nothing to free.
            cmds["(1n) full job, new file"] = ([[job, db, out + ".new.vcf", "", "full"]], None)
            cmds["(1c) full job on one core"] = ([pinned(1, full)], None)
    stepping = ["sqlite3", sqlite_db, STEPPING]
    cmds["(2) sqlite3 -csv"] = ([["sqlite3", "-csv", sqlite_db, STATEMENT]], None)
    cmds["(3) sqlite3 stepping"] = ([stepping], None)
    cmds["(3p) two steppings at once"] = ([pinned(0, stepping), pinned(1, stepping)], None)
    program = os.path.join(build, "app/vcard-parvela")
    if os.path.exists(program):
        cmds["(A) vcard-parvela AUTO"] = ([[program, "AUTO", db, out + ".auto.vcf"]], env)
    return cmds


def main():
    build, data, runs, sizes, baseline = parse_args(sys.argv)
    maker = os.path.join(build, "tools/sampledb/pv-sampledb")
    env = settings_env(data)
    for n in sizes:
        db = os.path.join(data, "s%d" % n)
        if not os.path.exists(os.path.join(db, "Parvela.sqlite")):
            subprocess.run([maker, db, str(n), "--seed", "1"], check=True, stdout=subprocess.DEVNULL)
        cmds = commands(build, baseline, db, data, n, env)
        results = {name: [] for name in cmds}
        load_before = os.getloadavg()
        for _ in range(runs):
            for name, (cmd, cmd_env) in cmds.items():
                if name.startswith("(1n)") and os.path.exists(cmd[0][2]):
                    os.remove(cmd[0][2])
                    os.sync()
                results[name].append(measure(cmd, cmd_env))
        load_after = os.getloadavg()
        m = {name: medians(r) for name, r in results.items()}
        print("load average (1, 5, 15 min) before %.1f %.1f %.1f, after %.1f %.1f %.1f" % (
            load_before + load_after))
        print("%d records, median of %d                wall s   CPU s  peak RSS MiB" % (n, runs))
        for name in sorted(m):
            print("  %-32s %7.2f %7.2f %10.0f" % (name, *m[name]))
        full, step, csv = m["(1) full job"], m["(3) sqlite3 stepping"], m["(2) sqlite3 -csv"]
        print("  (1)/(3) wall %.2f CPU %.2f   (1)/(2) wall %.2f   (4)/(2) wall %.2f   "
              "(1n)/(3) wall %.2f" % (full[0] / step[0], full[1] / step[1], full[0] / csv[0],
                                      m["(4) changes"][0] / csv[0],
                                      m["(1n) full job, new file"][0] / step[0]))
        pair, one = m["(3p) two steppings at once"], m["(1c) full job on one core"]
        print("  (3p)/(3) wall %.2f CPU %.2f   (1c)/(3) wall %.2f CPU %.2f" % (
            pair[0] / step[0], pair[1] / step[1], one[0] / step[0], one[1] / step[1]))
        if baseline:
            for what in ("(1) full job", "(4) changes"):
                new, old = m[what], m[what + " old"]
                print("  %s new/old: wall %.2f, CPU %.2f; ratio to (2) new %.2f old %.2f; "
                      "to (3) new %.2f old %.2f" % (
                          what, new[0] / old[0], new[1] / old[1], new[0] / csv[0], old[0] / csv[0],
                          new[0] / step[0], old[0] / step[0]))


if __name__ == "__main__":
    main()
