// One table or saved query of the open database onto its sheet: a header row of column titles,
// then one row per record and one column per field, in the engine's order.
#pragma once

#include <string>

#include "source/saved_query.h"

class ComError;
class ExportProgress;
class OwnerWindow;
struct ConversionOptions;

// What goes onto a sheet: a table, or a query run with the given parameter values.
struct ExportSource {
  std::string name;
  bool isQuery = false;
  QueryParameterValues parameters;
};

// Writes the source into the record's book, onto the sheet its name gives. Failures are shown in
// message boxes; the export of the source then ends and the caller goes on. Returns false when it
// was not exported whole (no sheet, an engine failure); a cancel is not a failure. A query that
// cannot run makes no sheet.
bool ExportToSheet(OwnerWindow* owner, ConversionOptions* options, const ExportSource& source, ExportProgress& progress);

// The four-line report of an engine failure, at most 511 characters.
std::string formatComErrorReport(const ComError& error);

// Shows the report in a message box owned by the window (standard error without one).
void ReportComError(OwnerWindow* owner, const ComError& error);
