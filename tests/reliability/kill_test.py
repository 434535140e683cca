#!/usr/bin/python3
"""Kills exports at random moments and checks that nothing is lost and nothing is left behind.

Makes a large sample database, learns the output of an uninterrupted run, then again and again
puts the old files in place, starts an export, SIGKILLs it after a random time and checks:
the target is byte for byte the old or the new file, and no temporary file stays in its folder
(one the kill happened to leave must be gone after the next run). Three kinds of export take
turns: `vcard-parvela AUTO <db> <file>`, and the export job with a change ledger (pv-export-bench),
a full export and an export of the changes, whose ledger is checked the same way.

  kill_test.py BUILD_DIR [--kills N] [--records R] [--seed S] [--keep]

Exit status 0 when every check held, 1 otherwise; a summary with the counts goes to stdout.
"""

import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OLD_VCF = b"BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Alte Datei\r\nEND:VCARD\r\n"
OLD_LEDGER = b'"1","1999.01.01.00.00.00"\r\n'
KINDS = ("auto", "full", "changes")  # AUTO; the job with a ledger, a full export or the changes
LEDGER_KINDS = ("full", "changes")


class Setup:
    """Paths of one run: programs, database, the files the exports write."""

    def __init__(self, programs, work):
        self.program = programs["vcard-parvela"]
        self.sampledb = programs["pv-sampledb"]
        self.bench = programs["pv-export-bench"]
        self.peak_kib = {}
        self.work = work
        self.db = os.path.join(work, "db")
        self.out_dir = os.path.join(work, "out")
        self.out = os.path.join(self.out_dir, "pv.vcf")
        self.ledger_dir = os.path.join(self.db, "vCard.Export")
        self.ledger = os.path.join(self.ledger_dir, "calc.txt")
        self.env = dict(os.environ, TMPDIR=os.path.join(work, "tmp"))
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)
        os.makedirs(self.env["TMPDIR"], exist_ok=True)
        os.makedirs(self.out_dir, exist_ok=True)

    def command(self, kind):
        if kind == "auto":
            return [self.program, "AUTO", self.db, self.out]
        return [self.bench, self.db, self.out, self.ledger, kind]


def find_build_programs(build):
    """The three programs live in different folders of a CMake build; link them side by side."""
    found = {}
    for root, _dirs, files in os.walk(build):
        for name in ("vcard-parvela", "pv-sampledb", "pv-export-bench"):
            if name in files and name not in found:
                found[name] = os.path.join(root, name)
    missing = {"vcard-parvela", "pv-sampledb", "pv-export-bench"} - set(found)
    if missing:
        sys.exit("kill_test: not built: " + ", ".join(sorted(missing)))
    return found


def digest(path, drop_rev=False):
    """SHA-256 of the file, or None when it is missing; with drop_rev the time of the run is taken
    out of the REV lines of a vCard file. Read line by line: the files are large."""
    h = hashlib.sha256()
    try:
        with open(path, "rb") as f:
            for line in f:
                h.update(b"REV:\r\n" if drop_rev and line.startswith(b"REV:") else line)
    except FileNotFoundError:
        return None
    return h.hexdigest()


def digest_of(data):
    return hashlib.sha256(data).hexdigest()


def read_vcf(path):
    return digest(path, drop_rev=True)


def read_ledger(path):
    return digest(path)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def put_old_files(s, kind):
    write(s.out, OLD_VCF)
    if kind in LEDGER_KINDS:
        write(s.ledger, OLD_LEDGER)


def entries(folder):
    return set(os.listdir(folder))


def run(s, kind):
    """One whole export; its time in seconds. Notes the peak memory of each kind."""
    start = time.monotonic()
    with tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(s.command(kind), env=s.env, stdout=subprocess.DEVNULL, stderr=err)
        peak = 0
        while proc.poll() is None:
            peak = max(peak, high_water_kib(proc.pid))
            time.sleep(0.02)
        seconds = time.monotonic() - start
        if proc.returncode != 0:
            err.seek(0)
            sys.exit("kill_test: %s export failed: %s" % (kind, err.read().decode(errors="replace")))
    s.peak_kib[kind] = max(s.peak_kib.get(kind, 0), peak)
    return seconds


def high_water_kib(pid):
    """The process's peak resident memory so far (VmHWM), 0 when it is gone. Taken from /proc:
    the rusage of a child also counts the memory of this script that it was forked from."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        pass
    return 0


def learn_new_files(s):
    """Uninterrupted runs of both kinds: the new files and how long a run takes."""
    new, seconds = {}, {}
    for kind in KINDS:
        put_old_files(s, kind)
        times = [run(s, kind) for _ in range(3)]
        put_old_files(s, kind)
        run(s, kind)
        new[kind] = (read_vcf(s.out), read_ledger(s.ledger) if kind in LEDGER_KINDS else None)
        seconds[kind] = sorted(times)[1]
    return new, seconds


class Tally:
    def __init__(self):
        self.counts = {}
        self.failures = []

    def count(self, what):
        self.counts[what] = self.counts.get(what, 0) + 1

    def fail(self, text):
        self.failures.append(text)
        print("FAIL " + text, flush=True)


def check_file(tally, label, data, old, new):
    if data == old:
        tally.count(label + " old")
    elif data == new:
        tally.count(label + " new")
    elif data is None:
        tally.fail(label + " is missing")
    else:
        tally.fail("%s is neither old nor new" % label)


def check_folders(tally, s, baseline, when):
    """Names in the output and ledger folders besides the ones that belong there."""
    extra = []
    for folder, names in baseline.items():
        extra += [os.path.join(folder, n) for n in entries(folder) - names]
    if extra:
        tally.count("leftovers " + when)
    return extra


def one_kill(s, tally, kind, new, delay, baseline):
    put_old_files(s, kind)
    proc = subprocess.Popen(s.command(kind), env=s.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(delay)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    tally.count(kind + (" killed" if proc.returncode == -signal.SIGKILL else " finished"))
    check_file(tally, kind + " vcf", read_vcf(s.out), digest_of(OLD_VCF), new[kind][0])
    if kind in LEDGER_KINDS:
        check_file(tally, kind + " ledger", read_ledger(s.ledger), digest_of(OLD_LEDGER),
                   new[kind][1])
    left = check_folders(tally, s, baseline, "after a kill")
    if left:
        # The next run of the program must clear what the kill left.
        put_old_files(s, kind)
        run(s, kind)
        still = check_folders(tally, s, baseline, "after the next run")
        if still:
            tally.fail("temporary files outlive the next run: " + ", ".join(still))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--kills", type=int, default=20)
    parser.add_argument("--records", type=int, default=200000)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="pv-kill-")
    programs = find_build_programs(args.build)
    s = Setup(programs, work)
    rng = random.Random(args.seed)
    tally = Tally()
    try:
        subprocess.run([s.sampledb, s.db, str(args.records)], check=True,
                       stdout=subprocess.DEVNULL)
        os.makedirs(s.ledger_dir, exist_ok=True)
        new, seconds = learn_new_files(s)
        baseline = {s.out_dir: entries(s.out_dir), s.ledger_dir: entries(s.ledger_dir)}
        for i in range(args.kills):
            kind = KINDS[i % len(KINDS)]
            one_kill(s, tally, kind, new, rng.uniform(0, seconds[kind] * 1.15), baseline)
        for kind in KINDS:  # a last whole run after all the kills
            put_old_files(s, kind)
            run(s, kind)
            if read_vcf(s.out) != new[kind][0]:
                tally.fail(kind + " export after the kills wrote a different file")
        if check_folders(tally, s, baseline, "at the end"):
            tally.fail("temporary files left at the end")
        print("kill test: seed %d, %d records, %d kills" % (args.seed, args.records, args.kills))
        for kind in KINDS:
            print("  %-8s one run %.2f s, peak RSS %d MiB"
                  % (kind, seconds[kind], s.peak_kib[kind] // 1024))
        for what in sorted(tally.counts):
            print("  %-32s %d" % (what, tally.counts[what]))
        print("  %-32s %d" % ("failures", len(tally.failures)))
    finally:
        if args.keep:
            print("work folder kept: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if tally.failures else 0


if __name__ == "__main__":
    sys.exit(main())
