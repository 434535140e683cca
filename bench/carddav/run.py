#!/usr/bin/python3
"""Speed of `vcard-parvela SYNC` against a local Radicale, next to the same PUTs sent by curl.

    bench/carddav/run.py BUILD_DIR [RECORDS] [CHANGES] [PAIRS]   (defaults 2000, 100 and 3)

Makes a sample of RECORDS records. Each of PAIRS rounds starts two Radicale servers on 127.0.0.1
with fresh storages, A for the program and B for curl, and times, alternating program and curl:
(1) the program's first sync into A, (3) every card of A PUT into B by curl with
If-None-Match: *, then, after CHANGES records were touched, (2) the program's incremental sync
into A and (4) the cards it changed PUT again into B by curl. curl runs with
`--parallel --parallel-max N`, N being the program's default number of requests in flight, and
without "Expect: 100-continue" (which Radicale never answers). Prints every run, then the
medians and the ratios (1)/(3) and (2)/(4), and the program's peak RSS.
Bounded: every step has a time limit; only 127.0.0.1 is contacted.
"""
import base64
import http.client
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import xml.etree.ElementTree as ET

USER, PASSWORD = "bench", "bench"
IN_FLIGHT = 4  # the program's default (TCardDavSync::MaxInFlight)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def start_radicale(folder):
    book = os.path.join(folder, "collections/collection-root", USER, "kontakte")
    os.makedirs(book)
    with open(os.path.join(book, ".Radicale.props"), "w") as f:
        f.write('{"tag": "VADDRESSBOOK"}')
    with open(os.path.join(folder, "users"), "w") as f:
        f.write(f"{USER}:{PASSWORD}\n")
    port = free_port()
    with open(os.path.join(folder, "config"), "w") as f:
        f.write(f"[server]\nhosts = 127.0.0.1:{port}\n[auth]\ntype = htpasswd\n"
                f"htpasswd_filename = {folder}/users\nhtpasswd_encryption = plain\n"
                f"[storage]\nfilesystem_folder = {folder}/collections\n[logging]\nlevel = warning\n")
    proc = subprocess.Popen(["radicale", "--config", os.path.join(folder, "config")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(600):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.1)
    return proc, f"http://127.0.0.1:{port}/{USER}/kontakte/"


def timed(cmd, env=None):
    """Wall seconds and peak RSS (MiB, through /usr/bin/time) of one command."""
    with tempfile.NamedTemporaryFile() as rss:
        start = time.monotonic()
        subprocess.run(["/usr/bin/time", "-o", rss.name, "-f", "%M"] + cmd, env=env, check=True,
                       timeout=3600, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = time.monotonic() - start
        return wall, int(open(rss.name).read().split()[-1]) / 1024


def auth_header():
    return {"Authorization": "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()}


def fetch_cards(book, folder, only=None):
    """The book's cards (or only the resources named in `only`) into folder; their names."""
    u = urllib.parse.urlsplit(book)
    conn = http.client.HTTPConnection(u.hostname, u.port, timeout=120)
    if only is None:
        conn.request("PROPFIND", u.path, headers={"Depth": "1", **auth_header()},
                     body=b'<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>')
        hrefs = [e.text for e in
                 ET.fromstring(conn.getresponse().read()).findall("{DAV:}response/{DAV:}href")]
        only = [h.rsplit("/", 1)[-1] for h in hrefs if h.rstrip("/") != u.path.rstrip("/")]
    for name in only:
        conn.request("GET", u.path + name, headers=auth_header())
        data = conn.getresponse().read()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return list(only)


def ledger_entries(db):
    """Resource name -> stamp from the database's one sync ledger."""
    folder = os.path.join(db, "vCard.Export")
    entries = {}
    for name in os.listdir(folder):
        if name.startswith("carddav-"):
            for line in open(os.path.join(folder, name), encoding="utf-8"):
                f = line.rstrip("\n").split("\t")
                if len(f) == 4 and not line.startswith("#"):
                    entries[f[2]] = f[1]
    return entries


def curl_put(book, folder, names, conditional):
    cfg = os.path.join(folder, "curl.cfg")
    with open(cfg, "w") as f:
        for n in names:
            f.write(f'upload-file = "{os.path.join(folder, n)}"\nurl = "{book}{n}"\n'
                    f'output = "/dev/null"\n')
    cmd = ["curl", "-s", "--no-progress-meter", "--parallel", "--parallel-max", str(IN_FLIGHT),
           "-u", f"{USER}:{PASSWORD}", "-H", "Content-Type: text/vcard; charset=utf-8",
           "-H", "Expect:", "-K", cfg]
    if conditional:
        cmd[1:1] = ["-H", "If-None-Match: *"]
    return timed(cmd)[0]


def one_round(n, program, sampledb, sample, changes, work):
    """One pair of each kind, program first; returns ((1), (2), (3), (4), rss1, rss2, cards)."""
    here = os.path.join(work, f"round{n}")
    db = os.path.join(here, "db")
    shutil.copytree(sample, db)
    procs = []
    try:
        proc, book = start_radicale(os.path.join(here, "a"))
        procs.append(proc)
        proc2, book2 = start_radicale(os.path.join(here, "b"))
        procs.append(proc2)
        env = dict(os.environ, PV_CARDDAV_PASSWORD=PASSWORD, TMPDIR=here)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        sync = [program, "SYNC", db, book, "--user", USER]
        first, rss1 = timed(sync, env)
        cards = os.path.join(here, "cards")
        os.makedirs(cards)
        names = fetch_cards(book, cards)
        curl_first = curl_put(book2, cards, names, True)
        print(f"round {n}: (1) SYNC first {first:8.2f} s  (3) curl {len(names)} PUTs "
              f"{curl_first:8.2f} s", flush=True)
        before = ledger_entries(db)
        subprocess.run([sampledb, db, "--touch", str(changes), "--seed", str(n)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        incr, rss2 = timed(sync, env)
        after = ledger_entries(db)
        changed = sorted(r for r, stamp in after.items() if before.get(r) != stamp)
        changed_dir = os.path.join(here, "changed")
        os.makedirs(changed_dir)
        fetch_cards(book, changed_dir, changed)
        curl_incr = curl_put(book2, changed_dir, changed, False)
        print(f"round {n}: (2) SYNC changes {incr:8.2f} s  (4) curl {len(changed)} PUTs "
              f"{curl_incr:8.2f} s", flush=True)
        return first, incr, curl_first, curl_incr, rss1, rss2, len(names), len(changed)
    finally:
        for p in procs:
            p.terminate()
            p.wait(timeout=30)


def main():
    build = os.path.abspath(sys.argv[1])
    records = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    changes = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    pairs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    program = os.path.join(build, "app/vcard-parvela")
    sampledb = os.path.join(build, "tools/sampledb/pv-sampledb")
    work = tempfile.mkdtemp(prefix="pv-carddav-bench-")
    try:
        sample = os.path.join(work, "sample")
        subprocess.run([sampledb, sample, str(records)], check=True, stdout=subprocess.DEVNULL)
        print(f"records {records}, touched {changes}, {pairs} rounds, {IN_FLIGHT} requests in "
              f"flight on both sides, load average {os.getloadavg()[0]:.1f}", flush=True)
        runs = [one_round(n, program, sampledb, sample, changes, work) for n in range(1, pairs + 1)]
        med = [statistics.median(r[i] for r in runs) for i in range(4)]
        print(f"cards {runs[0][6]}, changed cards {runs[0][7]}; "
              f"load average at the end {os.getloadavg()[0]:.1f}")
        print(f"median (1) SYNC first   {med[0]:8.2f} s   peak RSS {max(r[4] for r in runs):6.1f} MiB")
        print(f"median (3) curl first   {med[2]:8.2f} s   (1)/(3) = {med[0] / med[2]:.2f}")
        print(f"median (2) SYNC changes {med[1]:8.2f} s   peak RSS {max(r[5] for r in runs):6.1f} MiB")
        print(f"median (4) curl changes {med[3]:8.2f} s   (2)/(4) = {med[1] / med[3]:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
