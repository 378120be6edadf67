#!/usr/bin/python3
"""Writes employees in the employee master layout as JSON lines, for `kdstool import`.

    make_employees.py LAYOUT [--count N] [--photo-every K] [--photo-size BYTES] [--bad]

LAYOUT is a layout file (one kdstool FIELD a line); every field of it gets a value of its type
(about one optional field in eight is left empty). The output depends only on the arguments, so
two runs give the same tables.

- EMP_NO runs 00001, 00002, ... (five digits at least), unique.
- Every K-th employee has a photo (K = 0: none): a JPEG-like file of about BYTES bytes, a JFIF
  header, varying bytes and the end-of-image marker.
- With --bad a few employees carry values that the bundled target layout cannot take: a
  fractional AGE (employees 00123, 00250 and 00377, where they exist; the target's AGE is an
  integer) and 40000 dependent children (employee 00200; the target's DEPENDENT_CHILD is a small
  integer).
"""

import argparse
import base64
import json
import random
import sys

FIRST = ["ALICE", "BENJAMIN", "CHITRA", "DANIEL", "ESTHER", "FARID", "GRACE", "HAFIZ", "IRENE",
         "JASON", "KAVITHA", "LIM", "MEI LING", "NURUL", "OMAR", "PRIYA", "RAJ", "SITI", "TAN",
         "WEI JIE"]
LAST = ["TAN", "LEE", "DEVI", "WONG", "NG", "ABDULLAH", "LIM", "RAHMAN", "KUMAR", "CHONG",
        "ISMAIL", "GOH", "ONG", "YEOH", "SUBRAMANIAM"]
WORDS = ["NORTH", "SOUTH", "PLANT", "OFFICE", "STORE", "LINE", "SHIFT", "GRADE", "UNIT", "BLOCK",
         "JALAN", "TAMAN", "LORONG", "SECTOR", "LEVEL"]

BAD_AGE = {123, 250, 377}
BAD_CHILDREN = 200


def read_layout(path):
    fields = []
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            parts = line.split(":")
            length = int(parts[2]) if len(parts) > 2 else 0
            fields.append((parts[0], parts[1], length))
    return fields


def photo(rng, number, size):
    # SOI, an APP0 JFIF segment, then bytes that vary per employee, then EOI.
    head = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10]) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    body_size = max(0, size - len(head) - 2 + rng.randint(-size // 8, size // 8))
    body = rng.getrandbits(8 * body_size).to_bytes(body_size, "little") if body_size else b""
    # Keep the markers meaningful: no stray 0xFF inside the body.
    body = body.replace(b"\xff", b"\xfe")
    return head + body + bytes([0xFF, 0xD9])


def date(rng, first_year, last_year):
    return "%04d-%02d-%02d" % (rng.randint(first_year, last_year), rng.randint(1, 12),
                               rng.randint(1, 28))


def text(rng, name, length):
    if length <= 2:
        return rng.choice("YNABC12")[:length]
    if "EMAIL" in name:
        value = "%s.%d@example.com" % (rng.choice(FIRST).split()[0].lower(), rng.randint(1, 999))
    elif "TEL" in name or "PHONE" in name or "FAX" in name:
        value = "03-%04d %04d" % (rng.randint(0, 9999), rng.randint(0, 9999))
    elif "NAME" in name or "CONTACT" in name or "ALIAS" in name:
        value = "%s %s" % (rng.choice(FIRST), rng.choice(LAST))
    elif "ADDR" in name:
        value = "%d %s %s" % (rng.randint(1, 300), rng.choice(WORDS), rng.choice(WORDS))
    else:
        value = "%s%d" % (rng.choice(WORDS)[: max(1, length - 3)], rng.randint(1, 99))
    return value[:length]


def value(rng, name, kind, length):
    if kind == "char":
        return text(rng, name, length)
    if kind == "date":
        return date(rng, 1990, 2025)
    if kind == "money":
        return round(rng.uniform(0, 20000), 2)
    if kind == "double":
        return round(rng.uniform(0, 100), 2)
    if kind == "integer":
        return rng.randint(0, 9999)
    raise SystemExit("make_employees.py: no value for %s of type %s" % (name, kind))


def employee(rng, number, fields, args):
    record = {}
    for name, kind, length in fields:
        if name == "EMP_NO":
            record[name] = "%05d" % number
        elif name == "EMP_NAME":
            record[name] = "%s %s" % (rng.choice(FIRST), rng.choice(LAST))
        elif name == "DOB":
            record[name] = date(rng, 1960, 2003)
        elif name == "AGE":
            record[name] = rng.randint(21, 64) + (0.5 if args.bad and number in BAD_AGE else 0)
        elif name == "SEX":
            record[name] = rng.choice("MF")
        elif name == "DEPENDENT_CHILD":
            record[name] = 40000 if args.bad and number == BAD_CHILDREN else rng.randint(0, 5)
        elif name == "PHOTO_ID":
            if args.photo_every and number % args.photo_every == 0:
                data = photo(rng, number, args.photo_size)
                record[name] = {"base64": base64.b64encode(data).decode("ascii")}
        elif rng.random() < 0.125:
            continue  # left empty
        else:
            record[name] = value(rng, name, kind, length)
    return record


def main():
    parser = argparse.ArgumentParser(description="Employees as JSON lines for kdstool import.")
    parser.add_argument("layout")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--photo-every", type=int, default=3)
    parser.add_argument("--photo-size", type=int, default=2048)
    parser.add_argument("--bad", action="store_true")
    args = parser.parse_args()
    fields = read_layout(args.layout)
    out = sys.stdout
    for number in range(1, args.count + 1):
        # One generator per employee: employee N is the same whatever the count.
        rng = random.Random(number)
        out.write(json.dumps(employee(rng, number, fields, args), separators=(",", ":")))
        out.write("\n")


if __name__ == "__main__":
    main()
