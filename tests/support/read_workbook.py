"""Reads a workbook with an independent reader (openpyxl for .xlsx, xlrd for .xls) and prints
it as JSON: [{"name": sheet, "rows": [[cell, ...], ...]}], where a cell is null (empty),
{"n": number}, {"s": text} or {"b": true/false}. Numbers that are not finite cannot occur in a
valid workbook. The format is told by the file's first bytes, not by its name."""
import json
import sys


def cell_xlsx(value):
    if value is None:
        return None
    if isinstance(value, bool):
        return {"b": value}
    if isinstance(value, (int, float)):
        return {"n": float(value)}
    return {"s": str(value)}


def read_xlsx(path):
    import openpyxl
    book = openpyxl.load_workbook(path, read_only=True, data_only=False)
    sheets = []
    for ws in book.worksheets:
        rows = []
        for row in ws.iter_rows(values_only=True):
            rows.append([cell_xlsx(v) for v in row])
        while rows and all(c is None for c in rows[-1]):
            rows.pop()
        sheets.append({"name": ws.title, "rows": rows})
    return sheets


def read_xls(path):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=False)
    sheets = []
    for sh in book.sheets():
        rows = []
        for r in range(sh.nrows):
            row = []
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    row.append(None)
                elif cell.ctype == xlrd.XL_CELL_TEXT:
                    row.append({"s": cell.value})
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    row.append({"b": bool(cell.value)})
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    row.append({"n": float(cell.value)})
                else:
                    row.append({"other": str(cell.value)})
            rows.append(row)
        sheets.append({"name": sh.name, "rows": rows})
    return sheets


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        magic = f.read(8)
    sheets = read_xlsx(path) if magic[:2] == b"PK" else read_xls(path)
    # Rows are padded by the readers to the sheet's width; trailing empty cells carry nothing.
    for sheet in sheets:
        for row in sheet["rows"]:
            while row and row[-1] is None:
                row.pop()
    json.dump(sheets, sys.stdout)


main()
