#!/usr/bin/python3
"""Parses a roster vCard file with Debian's python3-vobject (hence /usr/bin/python3) and compares it with the expected cards.

usage: check-vcard.py <file.vcf> <expected.json>
expected.json: a list of {"n": [family, given], "fn", "email", "title", "note", "photo": bool}
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


def main():
    with open(sys.argv[1], "rb") as file:
        raw = file.read()
    assert not raw.startswith(b"\xef\xbb\xbf"), "byte-order mark"
    text = raw.decode("utf-8")
    with open(sys.argv[2]) as file:
        expected = json.load(file)
    cards = list(vobject.readComponents(text))
    assert len(cards) == len(expected), f"{len(cards)} cards, expected {len(expected)}"
    for card, want in zip(cards, expected):
        assert card.version.value == "3.0"
        assert [card.n.value.family, card.n.value.given] == want["n"], card.n.value
        assert card.fn.value == want["fn"], card.fn.value
        for key in ("email", "title", "note"):
            got = getattr(card, key).value if hasattr(card, key) else None
            assert got == want.get(key), f"{key}: {got!r} != {want.get(key)!r}"
        if want["photo"]:
            photo = card.photo.value
            width, height = jpeg_size(photo)
            assert width == height and 1 <= width <= 512, (width, height)
        else:
            assert not hasattr(card, "photo"), "unexpected photo"
    print(f"{len(cards)} cards parsed")


main()
