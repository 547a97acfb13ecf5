// One table of the open database onto its sheet: a header row of column titles, then one row
// per record and one column per field, in the engine's order.
#pragma once

#include <string>

class ComError;
class OwnerWindow;
struct ConversionOptions;

// Writes the table into the record's book. Failures are shown in message boxes; the export of
// the table then ends and the caller goes on. Returns false when the table was not exported
// whole (no sheet, an engine failure); a cancel is not a failure.
bool ExportTable(OwnerWindow* owner, ConversionOptions* options, const std::string& tableName);

// The four-line report of an engine failure, at most 511 characters.
std::string formatComErrorReport(const ComError& error);

// Shows the report in a message box owned by the window (standard error without one).
void ReportComError(OwnerWindow* owner, const ComError& error);
