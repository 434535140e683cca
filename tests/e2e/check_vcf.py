#!/usr/bin/env python3
"""Reads an exported vCard file with vobject, an independent parser, and checks every card.

usage: check_vcf.py FILE ENCODING EXPECTED_CARDS
Prints one line per problem and exits 1 when there is any; exits 77 when vobject is missing.
"""
import sys

try:
    import vobject
except ImportError:
    sys.exit(77)


def main():
    path, encoding, expected = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(path, "rb") as f:
        data = f.read()
    problems = []
    if data.startswith(b"\xef\xbb\xbf"):
        problems.append("byte-order mark")
    text = data.decode(encoding)
    cards = 0
    for card in vobject.readComponents(text, validate=True):
        cards += 1
        where = "card %d" % cards
        if card.name != "VCARD" or card.version.value != "4.0":
            problems.append(where + ": not a 4.0 card")
        if not hasattr(card, "n") or not hasattr(card, "fn"):
            problems.append(where + ": no N or FN")
        if not (hasattr(card, "email") or hasattr(card, "tel")):
            problems.append(where + ": neither EMAIL nor TEL")
        rev = card.rev.value
        if len(rev) != 16 or rev[8] != "T" or not rev.endswith("Z"):
            problems.append(where + ": REV " + rev)
        adr = card.adr.value
        for part in (adr.street, adr.city, adr.code):
            if "\n" in part or "\r" in part:
                problems.append(where + ": line break left in ADR")
        for email in card.contents.get("email", []):
            if "@" not in email.value:
                problems.append(where + ": e-mail " + email.value)
        for category in card.contents.get("categories", []):
            for name in category.value:
                if not name or name.startswith('"'):
                    problems.append(where + ": category %r" % name)
    if cards != expected:
        problems.append("%d cards, expected %d" % (cards, expected))
    for p in problems[:20]:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
