// What a job may write over: never the database it converts nor any other Access database, and
// nothing but a regular file (a symbolic link counts as the file it leads to).
#pragma once

class OwnerWindow;
struct ConversionOptions;

// True when the record's output path may receive the workbook. Otherwise the refusal is shown
// with the file and the reason, before anything is converted, and nothing is touched.
bool outputMayBeWritten(OwnerWindow* owner, const ConversionOptions* options);
