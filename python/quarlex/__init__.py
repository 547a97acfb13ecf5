"""Convert Microsoft Access databases into Excel workbooks through libquarlex_d.

    import quarlex
    quarlex.convert("/data/shop.accdb", "/data/shop.xlsx", tables=["Orders"])

The module calls the library's QUARLEX_Converter with the command-line arguments of
quarlex2007(1); see libquarlex_d(3). The library is found through the environment variable
QUARLEX_LIBRARY (a path to the .so), else where it was installed together with this module.
"""

import ctypes
import errno
import os
import threading

__all__ = ["convert", "convert_arguments", "library_path", "QuarlexError", "SourceNotFoundError", "MEANINGS"]
__version__ = "@PROJECT_VERSION@"

MEANINGS = {
    1: "no source database among the arguments; nothing was done",
    2: "a source database but no output workbook among the arguments; nothing was done",
    3: "a database could not be opened, or lacked a table asked for; the others were converted",
    4: "every database opened, but a workbook could not be created or saved, "
       "a table could not be converted whole, or an internal error stopped the conversion",
    5: "the source database names no file; nothing was done",
}

_DATABASE_ENDINGS = (".mdb", ".accdb", ".accde", ".accdt", ".accdr")
_WORKBOOK_ENDINGS = (".xls", ".xlsx", ".xlsb", ".xlsm")
_BOOK_TYPES = {"xlsx": "/TYPE=2007", "xls": "/TYPE=ANY"}
_MOST_ROWS = {"xlsx": 1048575, "xls": 65535}
_SONAME = "libquarlex_d.so.1"


class QuarlexError(Exception):
    """The library's result 1 to 5: `code` holds it and `meaning` says what it means."""

    def __init__(self, code):
        self.code = code
        self.meaning = MEANINGS.get(code, "an unknown result")
        told = " (the library said why on standard error)" if code in (3, 4) else ""
        super().__init__("quarlex result %d: %s%s" % (code, self.meaning, told))


class SourceNotFoundError(QuarlexError, FileNotFoundError):
    """A source database path without wildcards that names no file: the library's result 5."""

    def __init__(self, source):
        FileNotFoundError.__init__(self, errno.ENOENT, "No such Access database", source)
        self.code = 5
        self.meaning = MEANINGS[5]


_lock = threading.Lock()  # the library serves one call at a time per process
_library = None
_library_path = None


def _installed_candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        from . import _location  # written by the installation
    except ImportError:
        return []
    # Beside this module first, so that a tree installed under DESTDIR or moved as a whole
    # finds its own library; then the path the installation recorded.
    return [os.path.normpath(os.path.join(here, _location.LIBRARY_FROM_MODULE)), _location.LIBRARY]


def library_path():
    """The path of the library that convert() uses, loading it on first use."""
    _load()
    return _library_path


def _load():
    global _library, _library_path
    if _library is not None:
        return _library
    chosen = os.environ.get("QUARLEX_LIBRARY")
    if chosen:
        candidates = [chosen]  # a chosen library is used or refused, never silently replaced
    else:
        candidates = [path for path in _installed_candidates() if os.path.exists(path)] + [_SONAME]
    failures = []
    for candidate in candidates:
        try:
            library = ctypes.CDLL(candidate)
        except OSError as error:
            failures.append("%s (%s)" % (candidate, error))
            continue
        library.QUARLEX_Converter.argtypes = [ctypes.c_uint, ctypes.c_int, ctypes.POINTER(ctypes.c_char_p)]
        library.QUARLEX_Converter.restype = ctypes.c_int
        _library, _library_path = library, candidate
        return library
    raise OSError(errno.ENOENT, "cannot load the quarlex library; tried " + "; ".join(failures)
                  + ". Set QUARLEX_LIBRARY to the path of libquarlex_d.so")


def _text(value):
    # UTF-8, and a file name that is not valid UTF-8 goes back to its own bytes.
    return os.fsencode(value if isinstance(value, (str, bytes, os.PathLike)) else str(value))


def convert_arguments(arguments):
    """Runs one conversion with the programs' arguments (paths and switches, without a program
    name) and returns 0; a result of 1 to 5 raises QuarlexError (5 as SourceNotFoundError)."""
    vector = [b"python"] + [_text(argument) for argument in arguments]
    array = (ctypes.c_char_p * len(vector))(*vector)
    library = _load()
    with _lock:
        code = library.QUARLEX_Converter(0, len(vector), array)
    if code == 5:
        sources = [os.fsdecode(text) for text in vector[1:] if _ends_with(os.fsdecode(text), _DATABASE_ENDINGS)]
        raise SourceNotFoundError(sources[-1] if sources else None)
    if code != 0:
        raise QuarlexError(code)
    return 0


def _ends_with(text, endings):
    return len(text) > 4 and text.lower().endswith(endings)


def _switch(name, value):
    text = "/%s=%s" % (name, value)
    # The library reads any argument ending like a database or workbook as a path, even when it
    # begins like a switch; such a value cannot be passed.
    if _ends_with(text, _DATABASE_ENDINGS + _WORKBOOK_ENDINGS):
        raise ValueError("%s value %r ends like a file name and cannot be passed" % (name.lower(), value))
    return text


def convert(source, output, *, tables=None, password=None, book_type="xlsx", overwrite=False,
            header=True, overwrite_table=False, header_only_new=False, records=True,
            cells=None, layout=None, rows=None, files=False, queries=False, parameters=None):
    """Converts the Access database `source` into the workbook `output` and returns the
    workbook's path.

    source          path ending in .mdb, .accdb, .accde, .accdt or .accdr; * and ? in its file
                    name convert every match into the one workbook
    output          path ending in .xlsx or .xls (as book_type says), or .xlsm; a .xlsb (Excel's
                    binary format, which is not written) is refused
    tables          table or query names to convert (a name or a list); None converts every
                    user table
    password        the database password
    book_type       "xlsx" or "xls"
    overwrite       replace an existing workbook instead of adding sheets to it
    header          write a header row of field names (or captions)
    overwrite_table replace a sheet named like a table instead of appending rows to it
    header_only_new header rows only on sheets this conversion adds
    records         False writes header rows only
    cells           "typed": date cells, money and decimal formats, exact big integers
    layout          "table": bold frozen header row, autofilter, fitted widths
    rows            rows per sheet before a continuation sheet (default 65,530)
    files           True writes values no cell holds whole (attachments, OLE objects, texts over
                    32,767 characters) as files into OUTPUT_files/ beside the workbook, linked
                    from their cells
    queries         True also converts every select, union and crosstab query, after the
                    tables, each onto its own sheet; one lacking a parameter value is passed over
    parameters      values of the queries' parameters, {name: value}; a query named in `tables`
                    that lacks one is not converted (QuarlexError 4)

    Raises ValueError for arguments the library cannot take, SourceNotFoundError when a source
    without wildcards does not exist, and QuarlexError for the library's results 1 to 5. A
    wildcard that matches nothing converts nothing and is no error, as in the library.
    """
    source_text = os.fsdecode(os.fspath(source))
    output_text = os.fsdecode(os.fspath(output))
    if not _ends_with(source_text, _DATABASE_ENDINGS):
        raise ValueError("source %r does not end in %s" % (source_text, ", ".join(_DATABASE_ENDINGS)))
    if not _ends_with(output_text, _WORKBOOK_ENDINGS):
        raise ValueError("output %r does not end in %s" % (output_text, ", ".join(_WORKBOOK_ENDINGS)))
    if output_text.lower().endswith(".xlsb"):
        raise ValueError("output %r is Excel's binary format, which is not written; name it .xlsx or .xls"
                         % (output_text,))
    if book_type not in _BOOK_TYPES:
        raise ValueError("book_type must be 'xlsx' or 'xls', not %r" % (book_type,))
    # The library would change the ending to fit the type and write another file than asked for.
    for ending, wrong_type in ((".xlsx", "xls"), (".xls", "xlsx")):
        if output_text.lower().endswith(ending) and book_type == wrong_type:
            raise ValueError("output %r does not fit book_type %r" % (output_text, book_type))
    if not any(mark in os.path.basename(source_text) for mark in "*?") and not os.path.exists(source_text):
        raise SourceNotFoundError(source_text)

    arguments = [source, output, _BOOK_TYPES[book_type],
                 "/OVERWRITE=1" if overwrite else "/OVERWRITE=0",
                 "/OVERWRITETABLE=1" if overwrite_table else "/OVERWRITETABLE=0",
                 "/HEADER=1" if header else "/HEADER=0",
                 "/ONLYNEW=1" if header_only_new else "/ONLYNEW=0"]
    if tables is not None:
        names = [tables] if isinstance(tables, str) else list(tables)
        if not names or any(not name or ";" in name for name in names):
            raise ValueError("tables must name at least one table, without ';' in a name: %r" % (tables,))
        arguments.append(_switch("TABLES", ";".join(names)))
    if password is not None:
        arguments.append(_switch("PASSWORD", password))
    if not records:
        arguments.append("/RECORDS=0")
    if cells is not None:
        if cells != "typed":
            raise ValueError("cells must be None or 'typed', not %r" % (cells,))
        arguments.append("/CELLS=TYPED")
    if layout is not None:
        if layout != "table":
            raise ValueError("layout must be None or 'table', not %r" % (layout,))
        arguments.append("/LAYOUT=TABLE")
    if rows is not None:
        if isinstance(rows, bool) or not isinstance(rows, int) or not 1 <= rows <= _MOST_ROWS[book_type]:
            raise ValueError("rows must be a whole number from 1 to %d for %s, not %r"
                             % (_MOST_ROWS[book_type], book_type, rows))
        arguments.append("/ROWS=%d" % rows)
    if files:
        arguments.append("/FILES=1")
    if queries:
        arguments.append("/QUERIES=1")
    if parameters:
        items = []
        for name, value in dict(parameters).items():
            name, value = str(name), str(value)
            if not name or any(mark in name for mark in ";=") or ";" in value:
                raise ValueError("parameter %r = %r: a name without ';' or '=', a value without ';'" % (name, value))
            items.append("%s=%s" % (name, value))
        arguments.append(_switch("PARAMETERS", ";".join(items)))
    convert_arguments(arguments)
    return output_text
