"""Parses a .vcf file with vobject and compares N, ADR, CATEGORIES and REV of every card with
the values in a JSON file (a list with one object per card). Prints each difference; exit 1 if
there is any."""
import json
import sys

import vobject

N_FIELDS = ("family", "given", "additional", "prefix", "suffix")
ADR_FIELDS = ("box", "extended", "street", "city", "region", "code", "country")


def parsed(card):
    n = card.n.value
    adr = card.adr.value
    return {
        "n": [getattr(n, f) for f in N_FIELDS],
        "adr": [getattr(adr, f) for f in ADR_FIELDS],
        "categories": card.categories.value if hasattr(card, "categories") else None,
        "rev": card.rev.value,
    }


def main(vcf_path, expected_path):
    with open(vcf_path, encoding="utf-8", newline="") as f:
        text = f.read()
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    cards = list(vobject.readComponents(text))
    errors = []
    if len(cards) != len(expected):
        errors.append(f"{len(cards)} cards parsed, {len(expected)} expected")
    for i, (card, want) in enumerate(zip(cards, expected)):
        got = parsed(card)
        for key, value in want.items():
            if got[key] != value:
                errors.append(f"card {i + 1} {key}: got {got[key]!r}, expected {value!r}")
    print("\n".join(errors))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
