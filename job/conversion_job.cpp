#include "job/conversion_job.h"

#include <unistd.h>

#include <optional>

#include "job/progress.h"
#include "options/conversion_options.h"
#include "platform/owner_window.h"
#include "source/engine.h"
#include "workbook/export/table_export.h"
#include "workbook/xl.h"

JobOutcome RunConversionJob(OwnerWindow* owner, ConversionOptions* options) {
  if (!options->database) {
    showMessageBox(owner, "No source database is open.", "Error", MessageIcon::Error);
    return JobOutcome::NotSaved;
  }
  std::optional<TableDefs> tables;
  try {
    tables = options->database->TableDefs();
  } catch (const ComError& error) {
    ReportComError(owner, error);
    return JobOutcome::NotSaved;
  }
  writeStatus(options, kStatusInProgress);

  options->book = options->bookType == 1 ? xlCreateXMLBookCA() : xlCreateBookCA();
  if (!options->book) {
    showMessageBox(owner, "Cannot create XLS file.", "Error", MessageIcon::Error);
    return JobOutcome::NotSaved;
  }
  xlBookSetLocaleA(options->book, "");
  if (options->overwriteFile != 0)
    unlink(options->outputPath.c_str());
  else
    xlBookLoadA(options->book, options->outputPath.c_str());

  bool allExported = true;
  try {
    for (int index = 0; index < tables->Count(); ++index) {
      std::string name = tables->Item(index).Name();
      if (!options->selectedTables || options->selectedTables->find(";" + name + ";") == std::string::npos) continue;
      if (options->cancelRequested.load() != 0) break;
      if (!ExportTable(owner, options, name)) allExported = false;
      options->tablesExported += 1;
    }
  } catch (const ComError& error) {
    // The table definitions failed while being listed: what was exported so far is still saved.
    ReportComError(owner, error);
    allExported = false;
  }

  bool saved = xlBookSaveA(options->book, options->outputPath.c_str()) != 0;
  if (!saved) showMessageBox(owner, "Cannot save XLS file.", "Error", MessageIcon::Error);
  xlBookReleaseA(options->book);
  if (!saved) return JobOutcome::NotSaved;
  return allExported ? JobOutcome::Saved : JobOutcome::TableFailed;
}
