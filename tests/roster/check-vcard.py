#!/usr/bin/python3
"""Parses a roster vCard file with Debian's python3-vobject (hence /usr/bin/python3) and checks it
holds one card for each named student of the roster, in any order.

usage: check-vcard.py <file.vcf> <roster.json>
"""
import io
import json
import struct
import sys

import vobject


def jpeg_size(data):
    # Walks the JPEG markers to the frame header; fails on anything that is not a JPEG.
    assert data[:2] == b"\xff\xd8", "not a JPEG"
    stream = io.BytesIO(data[2:])
    while True:
        marker, kind, length = struct.unpack(">BBH", stream.read(4))
        assert marker == 0xFF, "broken JPEG"
        if 0xC0 <= kind <= 0xCF and kind not in (0xC4, 0xC8, 0xCC):
            _, height, width = struct.unpack(">BHH", stream.read(5))
            return width, height
        stream.seek(length - 2, io.SEEK_CUR)


def expected_card(student):
    note = "\n".join(part for part in (f"Class of {student['classOf']}" if student["classOf"] else "", student["programs"]) if part)
    photo = student.get("photo") or ""
    return {
        "n": [student["last"], student["first"]],
        "email": student["email"] or None,
        # Sections in the order the page lists them, which need not be the file's.
        "title": set(student["sections"]) or None,
        "note": note or None,
        # Photos on another origin and files that are no image are left out.
        # Files that are too large or hold too many pixels are left out as well ("expectPhoto").
        "photo": student.get("expectPhoto", bool(photo) and student.get("photoStyle") != "external" and not photo.endswith(".txt")),
    }


def main():
    with open(sys.argv[1], "rb") as file:
        raw = file.read()
    assert not raw.startswith(b"\xef\xbb\xbf"), "byte-order mark"
    cards = {}
    for card in vobject.readComponents(raw.decode("utf-8")):
        assert card.version.value == "3.0"
        assert card.fn.value not in cards, f"{card.fn.value} twice"
        cards[card.fn.value] = card
    with open(sys.argv[2]) as file:
        students = [student for student in json.load(file)["students"] if student["first"] or student["last"]]
    expected = {f"{student['first']} {student['last']}": expected_card(student) for student in students}
    assert sorted(cards) == sorted(expected), f"{sorted(cards)} != {sorted(expected)}"
    for name, card in cards.items():
        values = {key: getattr(card, key).value if hasattr(card, key) else None for key in ("email", "title", "note", "photo")}
        got = dict(values, n=[card.n.value.family, card.n.value.given], title=set(values["title"].split(", ")) if values["title"] else None, photo=values["photo"] is not None)
        assert got == expected[name], f"{name}: {got} != {expected[name]}"
        if values["photo"]:
            width, height = jpeg_size(values["photo"])
            assert width == height and 1 <= width <= 512, (width, height)
    print(f"{len(cards)} cards parsed")


main()
