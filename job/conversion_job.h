// One open database into one workbook file: create the book, start from the existing file or
// delete it, export every selected table in the database's order, save.
#pragma once

class OwnerWindow;
struct ConversionOptions;

// What became of one job; its details were already shown in message boxes.
enum class JobOutcome {
  Saved,         // the workbook is on disk and every selected table was exported whole
  TableFailed,   // the workbook is on disk, but a table's export met a failure
  NotSaved,      // no workbook was created, or it could not be saved
};

JobOutcome RunConversionJob(OwnerWindow* owner, ConversionOptions* options);
