#include "job/conversion_job.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "job/output_check.h"
#include "job/progress.h"
#include "job/workbook_name.h"
#include "options/conversion_options.h"
#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "platform/interruption.h"
#include "platform/owner_window.h"
#include "platform/text.h"
#include "source/engine.h"
#include "workbook/export/table_export.h"
#include "workbook/export/value_files.h"
#include "workbook/xl.h"

namespace {

// Takes the existing output file into the book when the job extends it. False when the file is a
// workbook that cannot be loaded: it must stay as it is, so the job converts nothing. A file that
// is no workbook at all (a text file, say) is replaced by the new book.
bool startFromExistingFile(OwnerWindow* owner, ConversionOptions* options) {
  if (options->overwriteFile != 0) return true;
  const char* path = options->outputPath.c_str();
  if (xlBookLoadA(options->book, path)) return true;
  if (!xlFileIsWorkbookA(path)) return true;
  showFailure(owner, "Cannot load XLS file.", xlBookErrorMessageA(options->book));
  return false;
}

// An interrupted run keeps nothing: the save is skipped, or given up before its rename when the
// signal comes while it writes, and the program tells why.
bool saveUnlessInterrupted(OwnerWindow* owner, ConversionOptions* options) {
  if (interruptionSignal() != 0) return false;
  ReplacementStopsWhenInterrupted stopsWhenInterrupted;
  if (xlBookSaveA(options->book, options->outputPath.c_str()) != 0) return true;
  if (interruptionSignal() == 0) showFailure(owner, "Cannot save XLS file.", xlBookErrorMessageA(options->book));
  return false;
}

// The workbook a job with /FILES=1 replaces, loaded for its links to value files: they go once the
// new book is saved. Null when there is no workbook there to replace.
BookHandle loadReplacedBook(const ConversionOptions* options) {
  if (options->valueFiles == 0 || options->overwriteFile == 0) return nullptr;
  const char* path = options->outputPath.c_str();
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return nullptr;
  char magic[2] = {};
  bool zip = std::fread(magic, 1, 2, file) == 2 && magic[0] == 'P' && magic[1] == 'K';
  std::fclose(file);
  BookHandle replaced = zip ? xlCreateXMLBookCA() : xlCreateBookCA();
  if (replaced && xlBookLoadA(replaced, path)) return replaced;
  if (replaced) xlBookReleaseA(replaced);
  return nullptr;
}

// The parameters of the query that the user gave no value for.
std::vector<std::string> missingParameters(const QueryDef& query, const QueryParameterValues& values) {
  std::vector<std::string> missing;
  for (const QueryParameter& p : query.Parameters()) {
    bool given = std::any_of(values.begin(), values.end(), [&p](const QueryParameterValue& v) { return asciiEqualsIgnoreCase(v.name, p.name); });
    if (!given) missing.push_back(p.name);
  }
  return missing;
}

std::string quotedList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "\"" : ", \"") + n + "\"";
  return out;
}

// The selected queries after the tables, in catalog order. A query the user named that cannot
// run (an action query, missing parameter values) is a failure; one that /QUERIES=1 brought in
// and lacks values is passed over with a note. False when any failed.
bool exportQueries(OwnerWindow* owner, ConversionOptions* options, JobProgress& progress) {
  bool allExported = true;
  QueryDefs queries = options->database->QueryDefs();
  for (int index = 0; index < queries.Count(); ++index) {
    QueryDef query = queries.Item(index);
    std::string name = query.Name();
    if (options->selectedQueries.find(";" + name + ";") == std::string::npos) continue;
    if (options->cancelRequested.load() != 0) break;
    const bool named = options->namedQueries.find(";" + name + ";") != std::string::npos;
    std::string refusal;
    if (!isRunnableQuery(static_cast<QueryKind>(query.Type()))) {
      refusal = "it is an action query, which is never run";
    } else if (auto missing = missingParameters(query, options->parameters); !missing.empty()) {
      refusal = std::string(missing.size() == 1 ? "its parameter " : "its parameters ") + quotedList(missing) +
                (missing.size() == 1 ? " has" : " have") + " no value; give /PARAMETERS=Name=Value;...";
    }
    if (!refusal.empty() && !named) {
      showNote(owner, "Note: query \"" + name + "\" of " + options->sourcePath + " was not converted: " + refusal);
      continue;
    }
    bool exported = false;
    if (!refusal.empty()) {
      showFailure(owner, "Cannot convert the query \"" + name + "\".", options->sourcePath + ": " + refusal);
    } else {
      exported = ExportToSheet(owner, options, {name, true, options->parameters}, progress);
      options->tablesExported += 1;
    }
    if (!exported) {
      allExported = false;
      options->failedTables.push_back(name);
    }
  }
  return allExported;
}

JobOutcome runJob(OwnerWindow* owner, ConversionOptions* options);

JobOutcome outOfMemory(OwnerWindow* owner, ConversionOptions* options) {
  if (options->book) xlBookReleaseA(options->book);
  options->book = nullptr;
  removeMadeValueFiles(options->madeValueFiles);
  showFailure(owner, "Cannot save XLS file.", options->outputPath + ": out of memory");
  return JobOutcome::NotSaved;
}

}  // namespace

// Memory that runs short anywhere in the job (the reader, the export, the save) ends this job
// alone: what it built is freed, nothing is saved, and the workbook that was there stays.
JobOutcome RunConversionJob(OwnerWindow* owner, ConversionOptions* options) {
  options->madeValueFiles.clear();
  options->valueFileFailed = false;
  try {
    JobOutcome outcome = runJob(owner, options);
    // A book that was not saved links to none of the value files this job wrote.
    if (outcome == JobOutcome::NotSaved) removeMadeValueFiles(options->madeValueFiles);
    options->madeValueFiles.clear();
    return outcome;
  } catch (const std::bad_alloc&) {
    return outOfMemory(owner, options);
  } catch (const std::system_error& error) {
    // The reader's thread could not start: the system has no memory left for its stack.
    if (error.code() != std::errc::resource_unavailable_try_again) throw;
    return outOfMemory(owner, options);
  }
}

namespace {

JobOutcome runJob(OwnerWindow* owner, ConversionOptions* options) {
  if (!options->database) {
    showMessageBox(owner, "No source database is open.", "Error", MessageIcon::Error);
    return JobOutcome::NotSaved;
  }
  if (std::string why = refusedWorkbookName(options->outputPath, options->bookType); !why.empty()) {
    showFailure(owner, "Cannot create XLS file.", options->outputPath + ": " + why);
    return JobOutcome::NotSaved;
  }
  if (!outputMayBeWritten(owner, options)) return JobOutcome::NotSaved;
  std::optional<TableDefs> tables;
  try {
    tables = options->database->TableDefs();
    // No sheet could come of it, and Excel opens no book without one. System tables (MSys...)
    // are never converted.
    bool userTables = false;
    for (int index = 0; index < tables->Count() && !userTables; ++index)
      userTables = tables->Item(index).Name().rfind("MSys", 0) != 0;
    if (!userTables) {
      showMessageBox(owner, "The database " + options->sourcePath + " has no tables.", "Error", MessageIcon::Error);
      return JobOutcome::NotSaved;
    }
  } catch (const ComError& error) {
    ReportComError(owner, error);
    return JobOutcome::NotSaved;
  }
  writeStatus(options, kStatusInProgress);

  options->book = options->bookType == 1 ? xlCreateXMLBookCA() : xlCreateBookCA();
  if (!options->book) {
    showFailure(owner, "Cannot create XLS file.", options->outputPath + ": out of memory");
    return JobOutcome::NotSaved;
  }
  xlBookSetLocaleA(options->book, "");
  // One job at a time reads and replaces this workbook; another process's job waits here. A
  // workbook whose lock cannot be made is still converted: the lock only keeps our jobs apart.
  FileLock lock;
  std::string lockError;
  if (!lock.acquire(options->outputPath, lockError) && interruptionSignal() != 0) {
    xlBookReleaseA(options->book);
    return JobOutcome::NotSaved;
  }
  // With overwriting on, the old file stays until the save renames the new one over it.
  if (!startFromExistingFile(owner, options)) {
    xlBookReleaseA(options->book);
    return JobOutcome::NotSaved;
  }

  bool allExported = true;
  JobProgress progress(owner, options);
  try {
    for (int index = 0; index < tables->Count(); ++index) {
      std::string name = tables->Item(index).Name();
      if (!options->selectedTables || options->selectedTables->find(";" + name + ";") == std::string::npos) continue;
      if (options->cancelRequested.load() != 0) break;
      if (!ExportToSheet(owner, options, {name, false, {}}, progress)) {
        allExported = false;
        options->failedTables.push_back(name);
      }
      options->tablesExported += 1;
    }
    if (!options->selectedQueries.empty()) allExported = exportQueries(owner, options, progress) && allExported;
  } catch (const ComError& error) {
    // The table definitions failed while being listed: what was exported so far is still saved.
    ReportComError(owner, error);
    allExported = false;
  }

  // Loaded before the save renames the new book over it.
  BookHandle replaced = loadReplacedBook(options);
  // A book whose value files could not all be written would link to missing files: the disk
  // failed, not the data, so nothing of the job is kept.
  bool saved = !options->valueFileFailed && saveUnlessInterrupted(owner, options);
  // Value files follow the book: the replaced book's go once the new one is saved; a book never
  // saved takes this job's files with it (RunConversionJob).
  if (saved && replaced) removeLinkedValueFiles(replaced, options->outputPath, true);
  if (replaced) xlBookReleaseA(replaced);
  xlBookReleaseA(options->book);
  lock.release();
  if (!saved) return JobOutcome::NotSaved;
  return allExported ? JobOutcome::Saved : JobOutcome::TableFailed;
}

}  // namespace
