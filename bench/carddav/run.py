#!/usr/bin/python3
"""Speed of `vcard-parvela SYNC` against a local Radicale, next to the same PUTs sent by curl.

    bench/carddav/run.py BUILD_DIR [RECORDS] [CHANGES]      (defaults 2000 and 100)

Makes a sample of RECORDS records, starts Radicale on 127.0.0.1 with a fresh storage and times
(1) a first sync, (2) an incremental sync after CHANGES records were touched, then on a fresh
storage the same requests by `curl --parallel --parallel-max 4`: (3) every card PUT with
If-None-Match: *, (4) the changed cards PUT again (curl without "Expect: 100-continue", which Radicale never
answers). Prints wall seconds and the program's peak RSS.
Bounded: every step has a time limit; only 127.0.0.1 is contacted.
"""
import base64
import http.client
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import xml.etree.ElementTree as ET

USER, PASSWORD = "bench", "bench"


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


def fetch_cards(book, folder):
    """Every card of the book into folder; returns the file names."""
    u = urllib.parse.urlsplit(book)
    conn = http.client.HTTPConnection(u.hostname, u.port, timeout=120)
    auth = {"Authorization": "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()}
    conn.request("PROPFIND", u.path, body=b'<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>',
                 headers={"Depth": "1", **auth})
    hrefs = [e.text for e in ET.fromstring(conn.getresponse().read()).findall("{DAV:}response/{DAV:}href")]
    names = []
    for href in hrefs:
        if href.rstrip("/") == u.path.rstrip("/"):
            continue
        conn.request("GET", href, headers=auth)
        data = conn.getresponse().read()
        name = href.rsplit("/", 1)[-1]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        names.append(name)
    return names


def curl_put(book, folder, names, conditional):
    cfg = os.path.join(folder, "curl.cfg")
    with open(cfg, "w") as f:
        for n in names:
            f.write(f'upload-file = "{os.path.join(folder, n)}"\nurl = "{book}{n}"\n'
                    f'output = "/dev/null"\n')
    cmd = ["curl", "-s", "--no-progress-meter", "--parallel", "--parallel-max", "4", "-u", f"{USER}:{PASSWORD}",
           "-H", "Content-Type: text/vcard; charset=utf-8", "-H", "Expect:", "-K", cfg]
    if conditional:
        cmd[1:1] = ["-H", "If-None-Match: *"]
    return timed(cmd)[0]


def main():
    build = os.path.abspath(sys.argv[1])
    records = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    changes = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    program = os.path.join(build, "app/vcard-parvela")
    sampledb = os.path.join(build, "tools/sampledb/pv-sampledb")
    work = tempfile.mkdtemp(prefix="pv-carddav-bench-")
    procs = []
    try:
        db = os.path.join(work, "db")
        subprocess.run([sampledb, db, str(records)], check=True, stdout=subprocess.DEVNULL)
        proc, book = start_radicale(os.path.join(work, "a"))
        procs.append(proc)
        env = dict(os.environ, PV_CARDDAV_PASSWORD=PASSWORD, TMPDIR=work)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        sync = [program, "SYNC", db, book, "--user", USER]
        first, rss1 = timed(sync, env)
        print(f"records {records}, changes {changes}", flush=True)
        print(f"(1) SYNC first       {first:8.2f} s   peak RSS {rss1:6.1f} MiB", flush=True)
        subprocess.run([sampledb, db, "--touch", str(changes)], check=True, stdout=subprocess.DEVNULL)
        incr, rss2 = timed(sync, env)
        print(f"(2) SYNC changes     {incr:8.2f} s   peak RSS {rss2:6.1f} MiB", flush=True)
        cards = os.path.join(work, "cards")
        os.makedirs(cards)
        names = fetch_cards(book, cards)
        proc2, book2 = start_radicale(os.path.join(work, "b"))
        procs.append(proc2)
        curl_first = curl_put(book2, cards, names, True)
        print(f"(3) curl {len(names)} PUTs   {curl_first:8.2f} s   (1)/(3) = {first / curl_first:.2f}",
              flush=True)
        curl_incr = curl_put(book2, cards, names[:changes], False)
        print(f"(4) curl {changes} PUTs    {curl_incr:8.2f} s   (2)/(4) = {incr / curl_incr:.2f}",
              flush=True)
    finally:
        for p in procs:
            p.terminate()
            p.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
