"""Prints what a workbook holds, read back with openpyxl (.xlsx) or xlrd (.xls): each sheet with
its number of rows and its first rows."""
import sys


def rows_of(path):
    with open(path, "rb") as f:
        zipped = f.read(2) == b"PK"
    if zipped:
        import openpyxl
        book = openpyxl.load_workbook(path, read_only=True)
        for ws in book.worksheets:
            yield ws.title, [list(r) for r in ws.iter_rows(values_only=True)]
    else:
        import xlrd
        book = xlrd.open_workbook(path)
        for sh in book.sheets():
            yield sh.name, [sh.row_values(r) for r in range(sh.nrows)]


def main():
    for path in sys.argv[1:]:
        print(path)
        for name, rows in rows_of(path):
            print(f"  sheet {name!r}: {len(rows)} rows")
            for row in rows[:3]:
                cells = ["" if v is None else str(v) for v in row]
                print("    | " + " | ".join(c if len(c) <= 24 else c[:21] + "..." for c in cells))


main()
