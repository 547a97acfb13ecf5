// The spreadsheet library: .xls (BIFF8) and .xlsx books that are created or loaded, extended with
// sheets and rows, and saved. Plain C-style functions over opaque handles; texts are UTF-8.
//
// Rows and columns are zero-based. A sheet's cells are written row by row in increasing row order
// (within a row, columns in any order; a second write to the same cell replaces the first). A write
// to a row above the row being written, or above the used rows of a loaded sheet, is refused: the
// function returns 0 and xlBookErrorMessageA says why; nothing already written is touched.
// Functions returning int give non-zero on success and 0 on failure.
//
// Limits: .xls sheets hold rows 0..65535 and columns 0..255, .xlsx sheets rows 0..1048575 and
// columns 0..16383; a write outside them returns 0 and stores nothing. A text longer than 32,767
// UTF-16 units is cut there (never inside a character); invalid UTF-8 bytes become U+FFFD.
// Infinities and NaNs are written as the #NUM! error. Memory stays bounded by one row: rows go to
// temporary files in $TMPDIR (or /tmp) as they are written.
#pragma once

typedef struct XlBook* BookHandle;
typedef struct XlSheet* SheetHandle;
typedef struct XlFormat* FormatHandle;  // a cell format of a book; null means the default look

BookHandle xlCreateBookCA(void);     // a new empty .xls (BIFF8) book, or null
BookHandle xlCreateXMLBookCA(void);  // a new empty .xlsx book, or null
int xlBookSetLocaleA(BookHandle book, const char* locale);  // texts are UTF-8 whatever the locale
// Replaces the book's content by the file's sheets (earlier sheet handles become invalid). On
// failure (missing, damaged or of the other format) returns 0 and leaves the book exactly as it
// was. Cells of a loaded sheet can only be added below its used rows (xlSheetLastRowA).
// The reason names the file: xlBookErrorMessageA gives "FILE: REASON".
int xlBookLoadA(BookHandle book, const char* filename);
// 1 when the file is a workbook of either format by its first bytes (a compound file, a zip
// package, a BIFF record) or cannot be read at all; 0 when it is missing or something else (a
// text file, an empty file). A workbook that fails to load must be left alone, never replaced.
int xlFileIsWorkbookA(const char* filename);
// 1 when the book's day numbers count from 1904-01-01 (a loaded book's DATEMODE or date1904),
// 0 for the 1900 date system that new books use.
int xlBookIsDate1904A(BookHandle book);
int xlBookSheetCountA(BookHandle book);
SheetHandle xlBookGetSheetA(BookHandle book, int index);  // null outside 0 <= index < count
const char* xlSheetNameA(SheetHandle sheet);
int xlSheetLastRowA(SheetHandle sheet);  // first row below the used rows, 0 for an empty sheet
// Removes the sheet; handles of other sheets stay valid, the removed sheet's handle does not.
int xlBookDelSheetA(BookHandle book, int index);
// Adds an empty sheet after the others. Null when the name is one Excel refuses (empty, over 31
// UTF-16 units, holding : \ / ? * [ ], starting or ending with ', or equal without regard to case
// to another sheet's name) or when initSheet is not null (copying sheets is not supported).
SheetHandle xlBookAddSheetA(BookHandle book, const char* name, SheetHandle initSheet);
// The cell writes take a format of the same book, or null for the book's default cell format.
int xlSheetWriteStrA(SheetHandle sheet, int row, int col, const char* value, FormatHandle format);
int xlSheetWriteNumA(SheetHandle sheet, int row, int col, double value, FormatHandle format);
int xlSheetWriteBoolA(SheetHandle sheet, int row, int col, int value, FormatHandle format);
// A hyperlink on a cell (its text is written as any other cell): `address` a URL or a file path,
// relative paths taken from the workbook's folder; `location` a place inside the target or null.
// The same rows and columns as cell writes, any order; a loaded sheet keeps its own links.
int xlSheetSetHyperlinkA(SheetHandle sheet, int row, int col, const char* address, const char* location);
// Writes the book to a temporary file beside filename and renames it over filename, so a failed
// save leaves an existing file as it was ("FILE: REASON" in xlBookErrorMessageA). Saving again, or over the loaded file, is fine. A book
// without sheets is not saved (Excel opens no such file).
int xlBookSaveA(BookHandle book, const char* filename);
void xlBookReleaseA(BookHandle book);
// The last failure of the book or one of its sheets ("ok" when nothing failed).
const char* xlBookErrorMessageA(BookHandle book);

// Cell formats. A format belongs to its book and lives until the book is released; it holds a
// number format and a bold flag, and may be changed after cells were written with it (the cells
// show what it holds when the book is saved). New formats are added after those the book
// already has: a loaded book keeps its own styles, fonts, number formats and format indices.
// Formats stay valid across xlBookLoadA. An .xls book holds at most 4,050 cell formats, its
// own included.
//
// A new format: a copy of initFormat (of the same book), or the default look when it is null.
// Null when the book cannot take one (a loaded .xlsx without a styles part, or too many formats).
FormatHandle xlBookAddFormatA(BookHandle book, FormatHandle initFormat);
int xlBookFormatSizeA(BookHandle book);  // the formats added through xlBookAddFormatA
FormatHandle xlBookFormatA(BookHandle book, int index);  // null outside 0 <= index < size
// The number format as Excel writes its code ("#,##0.00", "yyyy-mm-dd"); null or "" or
// "General" for General. A code of over 255 characters is refused.
int xlFormatSetNumFormatCodeA(FormatHandle format, const char* code);
const char* xlFormatNumFormatCodeA(FormatHandle format);  // "" for General
int xlFormatSetBoldA(FormatHandle format, int bold);       // the book's default font, bold
int xlFormatBoldA(FormatHandle format);
int xlFormatSetLinkA(FormatHandle format, int link);       // the default font, blue and underlined
int xlFormatLinkA(FormatHandle format);

// Sheet looks, for sheets added to the book (a loaded sheet keeps its own: these return 0).
// Column widths in characters of the default font's digits, from 0 to 255; a later call wins
// where column ranges overlap. format must be null and hidden 0 (neither is supported).
int xlSheetSetColA(SheetHandle sheet, int colFirst, int colLast, double width, FormatHandle format,
                   int hidden);
// Freezes the rows above row and the columns left of col (0 and 0 unfreeze).
int xlSheetSplitA(SheetHandle sheet, int row, int col);
// An autofilter over the range, first row holding the column titles; each sheet has at most
// one, named _FilterDatabase in the book as Excel names it. A range with rowLast < 0 removes it.
int xlSheetSetAutoFilterA(SheetHandle sheet, int rowFirst, int rowLast, int colFirst, int colLast);
