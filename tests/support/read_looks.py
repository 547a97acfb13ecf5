"""Prints what openpyxl (.xlsx) or xlrd (.xls) find of a workbook's looks, as JSON:

  {"sheets": [{"name", "frozen": [columns, rows] or null, "filter": "A1:C10" or null,
               "widths": {column index: width in characters}, "cells": {"A1": CELL, ...}}],
   "names": [[name, sheet index or null, formula text], ...], "cellFormats": count}

CELL is {"v": value, "fmt": number format code, "bold": bool}; dates come as their day number.
Only the first --rows rows (default 20) of each sheet are read. The format is told by the
file's first bytes."""
import json
import sys
import zipfile
import xml.etree.ElementTree as ET


def col_name(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def read_xlsx(path, rows):
    import openpyxl
    from openpyxl.utils.datetime import to_excel
    import datetime
    book = openpyxl.load_workbook(path)
    sheets = []
    for ws in book.worksheets:
        widths = {}
        for dim in ws.column_dimensions.values():
            if dim.customWidth and dim.min:
                for c in range(dim.min, dim.max + 1):
                    widths[c - 1] = dim.width
        cells = {}
        for row in ws.iter_rows(min_row=1, max_row=min(rows, ws.max_row)):
            for c in row:
                if c.value is None:
                    continue
                v = c.value
                if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
                    v = to_excel(v)
                cells[c.coordinate] = {"v": v, "fmt": c.number_format, "bold": bool(c.font.b)}
        frozen = None
        if ws.freeze_panes:
            cell = ws[ws.freeze_panes]
            frozen = [cell.column - 1, cell.row - 1]
        sheets.append({"name": ws.title, "frozen": frozen, "filter": ws.auto_filter.ref,
                       "widths": widths, "cells": cells})
    ns = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main"}
    with zipfile.ZipFile(path) as z:
        wb = ET.fromstring(z.read("xl/workbook.xml"))
        styles = ET.fromstring(z.read("xl/styles.xml"))
    names = []
    for n in wb.iter("{%s}definedName" % ns["m"]):
        local = n.get("localSheetId")
        names.append([n.get("name"), int(local) if local is not None else None, n.text])
    xfs = styles.find("m:cellXfs", ns)
    return {"sheets": sheets, "names": names, "cellFormats": len(xfs) if xfs is not None else 0}


def read_xls(path, rows):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheets = []
    for sh in book.sheets():
        cells = {}
        for r in range(min(rows, sh.nrows)):
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                xf = book.xf_list[cell.xf_index]
                fmt = book.format_map[xf.format_key].format_str
                value = bool(cell.value) if cell.ctype == xlrd.XL_CELL_BOOLEAN else cell.value
                cells[col_name(c) + str(r + 1)] = {"v": value, "fmt": fmt,
                                                   "bold": book.font_list[xf.font_index].weight >= 700}
        frozen = [sh.vert_split_pos, sh.horz_split_pos] if sh.panes_are_frozen else None
        widths = {c: info.width / 256 for c, info in sh.colinfo_map.items()}
        sheets.append({"name": sh.name, "frozen": frozen, "filter": None, "widths": widths, "cells": cells})
    names = []
    for n in book.name_obj_list:
        text = n.result.text if n.result is not None else None
        names.append([n.name, n.scope if n.scope >= 0 else None, text])
        # The autofilter range of a sheet is its _FilterDatabase name.
        if n.name == "_FilterDatabase" and n.scope >= 0 and n.result is not None:
            ref = n.result.value[0].coords
            sheets[n.scope]["filter"] = "%s%d:%s%d" % (col_name(ref[4]), ref[2] + 1, col_name(ref[5] - 1), ref[3])
    return {"sheets": sheets, "names": names, "cellFormats": len(book.xf_list)}


def main():
    args = sys.argv[1:]
    rows = 20
    if args[0] == "--rows":
        rows = int(args[1])
        args = args[2:]
    path = args[0]
    with open(path, "rb") as f:
        magic = f.read(2)
    out = read_xlsx(path, rows) if magic == b"PK" else read_xls(path, rows)
    json.dump(out, sys.stdout, default=str)


main()
