// What a job may write over: never the database it converts nor any other Access database, and
// nothing but a regular file (a symbolic link counts as the file it leads to).
#pragma once

#include <string>

class OwnerWindow;
struct ConversionOptions;

// True when the record's output path may receive the workbook. Otherwise the refusal is shown
// with the file and the reason, before anything is converted, and nothing is touched.
bool outputMayBeWritten(OwnerWindow* owner, const ConversionOptions* options);

// True when the folder that receives the workbook (that of the file its links end at) exists and
// takes new files. Otherwise "Cannot save XLS file." is shown with the folder and the system's
// reason.
bool outputFolderUsable(OwnerWindow* owner, const std::string& workbookPath);
