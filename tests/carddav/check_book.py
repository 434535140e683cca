#!/usr/bin/python3
"""Reads an address book back with Python's own HTTP client and checks what a sync left there.

    check_book.py BOOK_URL USER PASSWORD COUNT VERSION [EXPORT_FILE]

PROPFIND (Depth 1) lists the cards, GET fetches each. Checks: COUNT cards; every card has VERSION,
one UID "urn:uuid:<name-based UUID of a record ID>", the UIDs are unique, and each card lives in
"<uid>.vcf". With EXPORT_FILE (a UTF-8 file export): the cards without UID, REV and PRODID equal the
file's cards, compared property by property after parsing both sides with vobject (the server
re-serialises what it stores). Prints what differs; exit 0 when all holds, 1 when not, 77 when
vobject is missing.
"""
import base64
import http.client
import re
import sys
import urllib.parse
import uuid
import xml.etree.ElementTree as ET

try:
    import vobject
except ImportError:
    sys.exit(77)

NAMESPACE = uuid.UUID("c9998ba0-1ac3-4722-9bc8-c6866a3d13d1")
IGNORED = {"UID", "REV", "PRODID"}
PROPFIND = b'<?xml version="1.0"?><propfind xmlns="DAV:"><prop><getetag/></prop></propfind>'


def request(conn, auth, method, path, body=None, headers=None):
    h = {"Authorization": auth}
    h.update(headers or {})
    conn.request(method, path, body=body, headers=h)
    resp = conn.getresponse()
    return resp.status, resp.read()


def read_book(url, user, password):
    u = urllib.parse.urlsplit(url)
    conn = http.client.HTTPConnection(u.hostname, u.port, timeout=120)
    auth = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
    status, body = request(conn, auth, "PROPFIND", u.path, PROPFIND, {"Depth": "1"})
    if status != 207:
        raise SystemExit(f"PROPFIND {u.path}: {status}")
    hrefs = [e.text for e in ET.fromstring(body).findall("{DAV:}response/{DAV:}href")]
    cards = {}
    for href in hrefs:
        path = urllib.parse.urlsplit(href).path
        if path.rstrip("/") == u.path.rstrip("/"):
            continue
        status, data = request(conn, auth, "GET", path)
        if status != 200:
            raise SystemExit(f"GET {path}: {status}")
        cards[urllib.parse.unquote(path.rsplit("/", 1)[-1])] = data.decode("utf-8")
    return cards


def normalise(card):
    """The card's properties as a sorted list of (name, params, value), without IGNORED ones."""
    props = []
    for child in vobject.readOne(card).getChildren():
        name = child.name.upper()
        if name in IGNORED:
            continue
        params = tuple(sorted((k.upper(), tuple(sorted(v))) for k, v in child.params.items()))
        props.append((name, params, repr(child.value)))
    return sorted(props)


def check(cards, count, version, export_file):
    problems = []
    if len(cards) != count:
        problems.append(f"{len(cards)} cards on the server, {count} expected")
    uid_re = re.compile(r"^UID:urn:uuid:([0-9a-f-]{36})\r?$", re.M)
    seen = set()
    for name, text in cards.items():
        uids = uid_re.findall(text)
        if len(uids) != 1 or name != uids[0] + ".vcf":
            problems.append(f"{name}: UID lines {uids}")
            continue
        if uids[0] in seen:
            problems.append(f"{name}: UID twice")
        seen.add(uids[0])
        if uuid.UUID(uids[0]).version != 5:
            problems.append(f"{name}: not a name-based UID")
        if f"VERSION:{version}" not in text:
            problems.append(f"{name}: not version {version}")
    if export_file:
        with open(export_file, encoding="utf-8") as f:
            exported = re.findall(r"BEGIN:VCARD.*?END:VCARD\r?\n?", f.read(), re.S)
        want = sorted(map(normalise, exported))
        have = sorted(map(normalise, cards.values()))
        if want != have:
            missing = [c for c in want if c not in have][:2]
            extra = [c for c in have if c not in want][:2]
            problems.append(f"cards differ from the export; missing {missing}, extra {extra}")
    return problems


def main():
    url, user, password, count, version = sys.argv[1:6]
    export_file = sys.argv[6] if len(sys.argv) > 6 else None
    problems = check(read_book(url, user, password), int(count), version, export_file)
    for p in problems[:20]:
        print(p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
