"""Reads workbooks back the way a person's spreadsheet program sees them: LibreOffice Calc, headless,
driven through UNO. Prints one JSON document for all the books named on the command line:

  {"PATH": {"sheets": [SHEET, ...]} or {"error": "why it did not load"}, ...}

where SHEET is
  {"name", "rows": [[CELL, ...], ...], "frozen": [columns, rows] or null,
   "filters": ["A1:C10", ...], "widths": [column width in 1/100 mm, ...]}
and CELL is null (empty), {"n": number, "shown": text as formatted}, {"s": text} or
{"f": formula, "v": shown text}, with "fmt" (the number format's code), "bold": true,
"underline": true and "link" (the address of a hyperlink in its text) added where the cell has them. Only the first
--max-rows rows (default 200) and the used columns are read; --full reads every row.

Usage: calc_read.py [--max-rows N | --full] BOOK...

A book that LibreOffice has not read within BOOK_TIMEOUT_S is reported as an error.
One soffice process serves every book of a call, with a user profile of its own in a temporary
folder; its whole process group is ended when the call ends, whatever happened."""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import uno  # Debian's python3-uno, for /usr/bin/python3
from com.sun.star.beans import PropertyValue
from com.sun.star.table.CellContentType import EMPTY, FORMULA, TEXT, VALUE

START_TIMEOUT_S = 60
BOOK_TIMEOUT_S = 120


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_office(profile):
    port = free_port()
    office = subprocess.Popen(
        ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
         "-env:UserInstallation=file://" + profile,
         "--accept=socket,host=127.0.0.1,port=%d;urp;" % port],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    deadline = time.time() + START_TIMEOUT_S
    while True:
        try:
            ctx = resolver.resolve("uno:socket,host=127.0.0.1,port=%d;urp;StarOffice.ComponentContext" % port)
            break
        except Exception:
            if office.poll() is not None or time.time() > deadline:
                raise RuntimeError("soffice did not start")
            time.sleep(0.3)
    desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
    return office, desktop


def stop_office(office, desktop):
    try:
        if desktop is not None:
            desktop.terminate()
    except Exception:
        pass
    try:
        os.killpg(office.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    office.wait()


def range_name(address):
    def col(c):
        s = ""
        c += 1
        while c:
            c, r = divmod(c - 1, 26)
            s = chr(65 + r) + s
        return s
    return "%s%d:%s%d" % (col(address.StartColumn), address.StartRow + 1, col(address.EndColumn), address.EndRow + 1)


def read_cell(cell, formats):
    kind = cell.getType()
    if kind == EMPTY:
        return None
    if kind == VALUE:
        out = {"n": cell.getValue(), "shown": cell.getString()}
    elif kind == TEXT:
        out = {"s": cell.getString()}
        fields = cell.getTextFields().createEnumeration()
        while fields.hasMoreElements():
            field = fields.nextElement()
            if field.getPropertySetInfo().hasPropertyByName("URL"):
                out["link"] = field.URL
                break
    else:
        out = {"f": cell.getFormula(), "v": cell.getString()}
    key = cell.NumberFormat
    if key:
        try:
            out["fmt"] = formats.getByKey(key).FormatString
        except Exception:
            pass
    if cell.CharWeight >= 150:  # com.sun.star.awt.FontWeight.BOLD
        out["bold"] = True
    if cell.CharUnderline != 0:  # com.sun.star.awt.FontUnderline.NONE
        out["underline"] = True
    return out


def read_sheet(book, sheet, index, max_rows):
    cursor = sheet.createCursor()
    cursor.gotoEndOfUsedArea(False)
    last_row = cursor.RangeAddress.EndRow
    last_col = cursor.RangeAddress.EndColumn
    rows_to_read = last_row + 1 if max_rows is None else min(last_row + 1, max_rows)
    formats = book.getNumberFormats()
    rows = []
    for r in range(rows_to_read):
        rows.append([read_cell(sheet.getCellByPosition(c, r), formats) for c in range(last_col + 1)])
    while rows and all(c is None for c in rows[-1]):
        rows.pop()
    controller = book.getCurrentController()
    frozen = None
    try:
        controller.setActiveSheet(sheet)
        if controller.hasFrozenPanes():
            frozen = [controller.getSplitColumn(), controller.getSplitRow()]
    except Exception:
        pass
    filters = []
    for name in book.DatabaseRanges.ElementNames:
        db = book.DatabaseRanges.getByName(name)
        address = db.DataArea
        if address.Sheet == index and db.AutoFilter:
            filters.append(range_name(address))
    try:  # a sheet's own autofilter is an unnamed database range
        unnamed = book.getPropertyValue("UnnamedDatabaseRanges")
        if unnamed.hasByTable(index):
            db = unnamed.getByTable(index)
            if db.AutoFilter:
                filters.append(range_name(db.DataArea))
    except Exception:
        pass
    columns = sheet.getColumns()
    widths = [columns.getByIndex(c).Width for c in range(last_col + 1)]
    return {"name": sheet.getName(), "rows": rows, "frozen": frozen, "filters": filters,
            "widths": widths, "used": [last_row + 1, last_col + 1]}


def read_book(desktop, path, max_rows):
    url = uno.systemPathToFileUrl(os.path.abspath(path))
    book = desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True), prop("ReadOnly", True)))
    if book is None:
        return {"error": "not loaded"}
    try:
        sheets = book.getSheets()
        return {"sheets": [read_sheet(book, sheets.getByIndex(i), i, max_rows) for i in range(sheets.getCount())]}
    finally:
        book.close(True)


def main(argv):
    max_rows = 200
    paths = []
    i = 0
    while i < len(argv):
        if argv[i] == "--max-rows":
            max_rows = int(argv[i + 1])
            i += 2
        elif argv[i] == "--full":
            max_rows = None
            i += 1
        else:
            paths.append(argv[i])
            i += 1
    if not paths:
        print(__doc__, file=sys.stderr)
        return 2
    profile = tempfile.mkdtemp(prefix="quarlex-calc-")
    office = desktop = None
    try:
        office, desktop = start_office(profile)
        result = {}
        for path in paths:
            # A book that LibreOffice never finishes loading must not hang the call: past the
            # limit soffice is ended, the book is reported, and a new soffice reads the rest.
            watchdog = threading.Timer(BOOK_TIMEOUT_S, os.killpg, (office.pid, signal.SIGKILL))
            watchdog.start()
            try:
                result[path] = read_book(desktop, path, max_rows)
            except Exception as error:  # one bad book must not hide the others
                result[path] = {"error": str(error)}
            finally:
                watchdog.cancel()
            if office.poll() is not None:
                result[path] = {"error": "LibreOffice did not read it within %d s" % BOOK_TIMEOUT_S}
                stop_office(office, None)
                office, desktop = start_office(profile)
        json.dump(result, sys.stdout)
        print()
        return 0
    finally:
        if office is not None:
            stop_office(office, desktop)
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
