// Every database that matches the record's source path (which may hold * and ? in its last
// component) is opened, given an output name when the caller named none, and converted.
#pragma once

#include <string>

struct ConversionOptions;

// Which deliverable runs the batch: the libraries close each database after its job and report a
// result; the programs derive output names from the output folder.
enum class BatchCaller { Program, Library };

struct BatchResult {
  bool sourceMissing = false;  // a source path without wildcards that names no file
  int matched = 0;             // matching names, "." entries not counted
  int failedToOpen = 0;        // matches that did not open as databases
  int tablesMissing = 0;       // names of TABLES= that the database did not have
  int jobsNotSaved = 0;        // jobs whose workbook was not created or not saved
  int jobsWithFailures = 0;    // jobs in which a table's export failed
  bool interrupted = false;    // the run was told to stop (programs only) and kept nothing
  bool outputRefused = false;  // the output folder is missing or not writable: nothing was read

  // The library's code: 0 every match opened (or a wildcard matched nothing), 3 a match failed to
  // open or lacked a table asked for, 5 the source path names no file.
  int code() const {
    if (sourceMissing) return 5;
    return failedToOpen > 0 || tablesMissing > 0 ? 3 : 0;
  }
  bool allConverted() const {
    return !sourceMissing && !interrupted && !outputRefused && failedToOpen == 0 && tablesMissing == 0 && jobsNotSaved == 0 &&
           jobsWithFailures == 0;
  }
};

BatchResult RunBatch(ConversionOptions* options, BatchCaller caller);

// The refusal of a command line that names more than one database, naming them all; empty when
// it names at most one. A run converts one database, or those its wildcards match.
std::string severalSourcesRefusal(const ConversionOptions& options);

// The output name of one match when the caller named none: the output folder, the database's
// file name, its extension replaced by "xls" (appended when it has none).
std::string deriveOutputPath(const std::string& outputFolder, const std::string& sourcePath);

// The path's extension brought into line with the book type: .xls gains an x for type 1, .xlsx
// loses it for type 0; any other ending is kept.
std::string alignExtensionWithBookType(const std::string& path, int bookType);
