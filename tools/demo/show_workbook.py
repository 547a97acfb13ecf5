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
        def value(cell):
            if cell.ctype == xlrd.XL_CELL_BOOLEAN:
                return bool(cell.value)
            if cell.ctype == xlrd.XL_CELL_NUMBER and cell.value == int(cell.value) and abs(cell.value) < 2**53:
                return int(cell.value)
            return None if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK) else cell.value
        for sh in book.sheets():
            yield sh.name, [[value(c) for c in sh.row(r)] for r in range(sh.nrows)]


def main():
    for path in sys.argv[1:]:
        print(path)
        for name, rows in rows_of(path):
            print(f"  sheet {name!r}: {len(rows)} rows")
            for row in rows[:3]:
                cells = ["" if v is None else str(v) for v in row]
                print("    | " + " | ".join(c if len(c) <= 24 else c[:21] + "..." for c in cells))


main()
