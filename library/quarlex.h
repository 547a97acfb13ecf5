/* quarlex: convert Microsoft Access databases into Excel workbooks from another program.
 *
 * Both functions take the program's command-line syntax: paths ending in .mdb, .accdb, .accde,
 * .accdt or .accdr name the source (wildcards * and ? allowed in its last component), paths
 * ending in .xls, .xlsx, .xlsb or .xlsm the output workbook, and switches such as /TYPE=2007
 * (an .xlsx workbook), /OVERWRITE=1, /TABLES=Orders;Customers, /PASSWORD=..., /HEADER=0.
 * The first argument stands where a program's path would and is never looked at.
 *
 * Workbooks ready to use, off by default (the default output is the plain one):
 *   /CELLS=TYPED   date cells (yyyy-mm-dd hh:mm:ss), money and decimal number formats, and exact
 *                  texts for integers and decimals a double cannot hold
 *   /LAYOUT=TABLE  bold header, pane frozen below it, autofilter, column widths fitted to the values
 *   /ROWS=N        the last row a record may take on a sheet before a continuation sheet begins
 *                  (default 65530; at most 1048575 in .xlsx and 65535 in .xls)
 *   /FILES=1       values no cell holds whole (attachments, OLE objects, texts over 32767
 *                  characters) written as files into BOOK_files/ beside the workbook, one folder
 *                  per sheet, and linked from their cells
 *
 * Saved queries, off by default:
 *   /QUERIES=1     every select, union and crosstab query after the tables, each on a sheet
 *                  named after it; one lacking a parameter value is passed over (a note on
 *                  standard error). /TABLES= may name queries too: one that cannot run is a failure
 *   /PARAMETERS=Name=Value;Name2=Value2  the values of the queries' parameters
 *
 * Results:
 *   0  the conversion ran; every matching database was opened (also when a wildcard matched
 *      nothing)
 *   1  no source path among the arguments (or more than 2048 arguments, or no vector at all);
 *      nothing was done
 *   2  a source path but no output path; nothing was done
 *   3  at least one matching database could not be opened, or lacked a table that /TABLES=
 *      named; the others, and the tables it has, were converted
 *   4  every database opened, but a workbook could not be created or saved (it is an Access
 *      database, a device or no regular file, or the save failed), or a table (or a query of
 *      /TABLES=) could not be exported whole; the details went to standard error
 *   5  the source path, without wildcards, names no file; nothing was done
 *
 * Calls must not overlap: one call at a time per process.
 */
#ifndef QUARLEX_H
#define QUARLEX_H

#ifdef __cplusplus
extern "C" {
#endif

/* `arguments` holds `count` terminated UTF-8 texts; `reserved` is ignored. */
int QUARLEX_Converter(unsigned int reserved, int count, const char* const* arguments);

/* The same arguments in one writable text, separated by '#'. Runs of '#' separate; leading and
 * trailing ones give no empty argument. The text is cut in place: each '#' that ends an argument
 * is overwritten with a terminator. Start it with a dummy word: "x#/data/shop.accdb#/out/shop.xlsx". */
int QUARLEX_ConverterStr(unsigned int reserved, char* text);

#ifdef __cplusplus
}
#endif

#endif
