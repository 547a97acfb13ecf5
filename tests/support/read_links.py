"""Prints, as JSON, every hyperlink of a workbook with its cell and what its target holds:
{"SHEET": [[row, col, cell text, target, [sha256 of each file the target names]]]}. A target that
is a folder names the files in it. openpyxl reads .xlsx, xlrd reads .xls."""
import hashlib, json, os, sys, urllib.parse


def hashes(path):
    files = [path] if os.path.isfile(path) else \
        [os.path.join(path, n) for n in sorted(os.listdir(path))] if os.path.isdir(path) else []
    return [hashlib.sha256(open(f, "rb").read()).hexdigest() for f in files]


def links(book):
    found = {}
    if book.endswith(".xlsx"):
        import openpyxl
        for ws in openpyxl.load_workbook(book).worksheets:
            for row in ws.iter_rows():
                for c in row:
                    if c.hyperlink is not None:
                        found.setdefault(ws.title, []).append(
                            (c.row - 1, c.column - 1, c.value, urllib.parse.unquote(c.hyperlink.target or "")))
    else:
        import xlrd
        for ws in xlrd.open_workbook(book).sheets():
            for (r, c), h in sorted(ws.hyperlink_map.items()):
                found.setdefault(ws.name, []).append(
                    (r, c, ws.cell_value(r, c), (h.url_or_path or "").replace("\\", "/")))
    return found


book = sys.argv[1]
folder = os.path.dirname(os.path.abspath(book))
out = {sheet: [[r, c, text, target, hashes(os.path.join(folder, target)) if target and ":" not in target else []]
               for r, c, text, target in cells] for sheet, cells in links(book).items()}
json.dump(out, sys.stdout)
