"""Tells whether two workbooks written by quarlex (say, before and after a change) hold the same
cells. Two .xlsx packages are the same when every entry has the same uncompressed bytes (the
compression may differ); two .xls files when their bytes are equal, or else when an independent
reader (tests/support/read_workbook.py) finds the same sheets and cells in both.

    /usr/bin/python3 bench/conversion/compare_outputs.py A B

Exits 0 when they are the same, 1 with the first difference otherwise."""
import json
import os
import subprocess
import sys
import zipfile

a, b = sys.argv[1], sys.argv[2]


def differ(message):
    print(f"{a} and {b} differ: {message}")
    sys.exit(1)


with open(a, "rb") as f:
    head = f.read(4)
if head.startswith(b"PK"):
    with zipfile.ZipFile(a) as za, zipfile.ZipFile(b) as zb:
        names_a, names_b = za.namelist(), zb.namelist()
        if names_a != names_b:
            differ(f"entries {names_a} against {names_b}")
        for name in names_a:
            if za.read(name) != zb.read(name):
                differ(f"entry {name}")
    print(f"same entries and bytes in {len(names_a)} parts")
    sys.exit(0)

with open(a, "rb") as fa, open(b, "rb") as fb:
    if fa.read() == fb.read():
        print("same bytes")
        sys.exit(0)
reader = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "support", "read_workbook.py")
books = [json.loads(subprocess.run(["/usr/bin/python3", reader, p], check=True, capture_output=True).stdout)
         for p in (a, b)]
if books[0] != books[1]:
    differ("cells")
print("same cells")
