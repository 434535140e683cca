#!/usr/bin/env python3
"""Reads a UTF-8 vCard export with an independent parser and compares every card with the
database it came from.

usage: compare_parsers.py FILE DATABASE VERSION PARSER [NODE_FOLDER]
  VERSION      the card version every card must carry: 3.0 or 4.0
  PARSER       vobject (python3-vobject, with its validation) or icaljs (ical.js through node;
               NODE_FOLDER holds read_vcf.mjs and its node_modules)

Checks: no byte-order mark, valid UTF-8, every line ends with CR LF, one card per usable record
in the database's order, and for each card the name parts, organisation, e-mail addresses, phone
numbers, address parts and categories as the program derives them from the record.
Prints one line per problem (at most 20) and exits 1 when there is any; exits 77 when the parser
is not available.
"""
import json
import os
import re
import sqlite3
import subprocess
import sys

SELECT = "Select ID,NName,VName,Abt,IX,adr_42_,Ort,strasse,GR,adr_47_ from Adressen"
DIGITS = "0123456789"


def ansi(text):
    """Database text as the program holds it: Windows-1252, '?' for what it cannot hold."""
    return (text or "").encode("cp1252", errors="replace").decode("cp1252")


def breaks(text):
    """Line breaks as a parser returns them from an escaped value."""
    return text.replace("\r\n", "\n").replace("\r", "\n")


def upper(text):
    """Upper case through the Windows-1252 letters only (no 'SS' for 'ß')."""
    out = []
    for ch in text:
        up = ch.upper()
        out.append(up if len(up) == 1 and ansi(up) == up else ch)
    return "".join(out)


def company(abt):
    text = ansi(abt)
    while text and ord(text[0]) <= 32:
        text = text[1:]
    while text and ord(text[-1]) <= 32:
        text = text[:-1]
    return text.replace("\xac", " ").replace("  ", " ")


def contact_data(ix):
    """E-mail addresses and long phone numbers in IX, as sorted lists."""
    emails, seen, candidates = [], set(), []
    for piece in ansi(ix).split(" ") if ix else []:
        if len(piece) < 6:
            continue
        if "@" in piece:
            if upper(piece) not in seen:
                seen.add(upper(piece))
                emails.append(breaks(piece))
        elif all(ch in DIGITS for ch in piece) and piece[0] == "0":
            if piece not in candidates:
                candidates.append(piece)
    return sorted(emails), sorted(c for c in candidates if len(c) > 8)


def expected_cards(database):
    con = sqlite3.connect("file:%s?mode=ro" % database, uri=True)
    cards = []
    for row in con.execute(SELECT):
        rid, nname, vname, abt, ix, code, city, street, groups = row[:9]
        emails, tels = contact_data(ix)
        if not emails and not tels:
            continue
        org = company(abt)
        cards.append({
            "id": rid,
            "n": [breaks(ansi(nname)), breaks(ansi(vname))],
            "org": [breaks(org)] if org else None,
            "emails": emails,
            "tels": tels,
            "adr": [breaks(ansi(street)), breaks(ansi(city)), breaks(ansi(code))],
            "categories": [c for c in re.split(r"\r\n|\r|\n", ansi(groups)) if c],
        })
    con.close()
    return cards


def line_problems(data):
    problems = []
    if data.startswith(b"\xef\xbb\xbf"):
        problems.append("byte-order mark")
    lines = data.split(b"\r\n")
    if lines[-1] != b"":
        problems.append("the last line does not end with CR LF")
    bad = [i + 1 for i, line in enumerate(lines) if b"\n" in line or b"\r" in line]
    if bad:
        problems.append("%d lines without CR LF, the first near line %d" % (len(bad), bad[0]))
    return problems


def read_vobject(text, version):
    try:
        import vobject
    except ImportError:
        sys.exit(77)
    cards = []
    for card in vobject.readComponents(text, validate=True):
        if version == "3.0":
            card.validate(raiseException=True)
        contents = card.contents
        n = card.n.value if "n" in contents else None
        adr = card.adr.value if "adr" in contents else None
        cards.append({
            "version": card.version.value,
            "n": [n.family, n.given] if n else None,
            "org": card.org.value if "org" in contents else None,
            "emails": sorted(e.value for e in contents.get("email", [])),
            "tels": sorted(t.value for t in contents.get("tel", [])),
            "adr": [adr.street, adr.city, adr.code] if adr else None,
            "categories": [c for line in contents.get("categories", []) for c in line.value],
        })
    return cards


def read_icaljs(path, node_folder):
    script = os.path.join(node_folder, "read_vcf.mjs")
    if not os.path.isdir(os.path.join(node_folder, "node_modules", "ical.js")):
        sys.exit(77)
    try:
        out = subprocess.run(["node", script, path], check=True, capture_output=True).stdout
    except FileNotFoundError:
        sys.exit(77)
    cards = []
    for card in json.loads(out):
        n, adr = card["n"], card["adr"]
        card["n"] = n[:2] if n else None
        card["adr"] = [adr[2], adr[3], adr[5]] if adr else None
        card["emails"] = sorted(card["emails"])
        card["tels"] = sorted(card["tels"])
        cards.append(card)
    return cards


def compare(read, expected, version):
    problems = []
    if len(read) != len(expected):
        problems.append("%d cards, expected %d" % (len(read), len(expected)))
    for got, want in zip(read, expected):
        where = "record %s" % want["id"]
        if got["version"] != version:
            problems.append("%s: version %s" % (where, got["version"]))
        for field in ("n", "org", "emails", "tels", "adr", "categories"):
            if got[field] != want[field]:
                problems.append("%s: %s %r, expected %r" % (where, field, got[field], want[field]))
    return problems


def main():
    path, database, version, parser = sys.argv[1:5]
    with open(path, "rb") as f:
        data = f.read()
    problems = line_problems(data)
    text = data.decode("utf-8")
    if parser == "vobject":
        read = read_vobject(text, version)
    else:
        read = read_icaljs(path, sys.argv[5])
    problems += compare(read, expected_cards(database), version)
    for p in problems[:20]:
        print(p)
    if len(problems) > 20:
        print("... %d problems in all" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
