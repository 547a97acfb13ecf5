#include "workbook/export/table_export.h"

#include <cstdio>
#include <ctime>

#include "job/progress.h"
#include "options/conversion_options.h"
#include "options/settings.h"
#include "platform/owner_window.h"
#include "platform/text.h"
#include "source/engine.h"
#include "workbook/export/cell_value.h"
#include "workbook/export/sheet_placement.h"

namespace {

constexpr size_t kReportMaxLength = 511;

std::string codeMeaning(uint32_t code) {
  char buf[64];
  if (code >= 0x80040201u && code <= 0x8004FFFFu)
    std::snprintf(buf, sizeof buf, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
  else
    std::snprintf(buf, sizeof buf, "Unknown error 0x%0X", code);
  return buf;
}

void writeHeaderRow(ConversionOptions* options, const Fields& fields, const Placement& placement, bool due) {
  for (int c = 0; c < fields.Count(); ++c) {
    std::string title = readFieldCaption(fields.Item(c).Name(), options);
    if (due) xlSheetWriteStrA(placement.sheet, placement.row, c, title.c_str(), nullptr);
  }
}

}  // namespace

std::string formatComErrorReport(const ComError& error) {
  char code[32];
  std::snprintf(code, sizeof code, "%08x", static_cast<uint32_t>(error.hresult()));
  std::string report = "Code = " + std::string(code) + "\n" +
                       "Code meaning = " + codeMeaning(static_cast<uint32_t>(error.hresult())) + "\n" +
                       "Source = " + (error.source().empty() ? "(null)" : error.source()) + "\n";
  std::string description = error.description().empty() ? "(null)" : error.description();
  std::string tail = "Description = " + description + "\n";
  if (report.size() + tail.size() > kReportMaxLength)
    tail = utf8Prefix(tail, kReportMaxLength - report.size() - 1) + "\n";
  return report + tail;
}

void ReportComError(OwnerWindow* owner, const ComError& error) {
  showMessageBox(owner, formatComErrorReport(error), "", MessageIcon::None);
}

bool ExportTable(OwnerWindow* owner, ConversionOptions* options, const std::string& tableName) {
  std::shared_ptr<Recordset> records;
  try {
    ::Fields definition = options->database->TableDefs().Item(tableName).Fields();
    if (owner) owner->setControlText(kTableLabelControl, tableName + " -> " + options->outputPath);

    Placement placement;
    if (!placeTableSheet(options->book, tableName, options->overwriteTable, &placement)) {
      showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
      return false;
    }
    bool headerDue = headerRowDue(options->writeHeader, options->headerOnlyForNewSheets, placement.existed);
    writeHeaderRow(options, definition, placement, headerDue);
    if (headerDue) placement.row += 1;

    writeStatus(options, kStatusFailed);
    records = options->database->OpenRecordset(tableName);
    int32_t total = records->RecordCount();
    records->MoveFirst();
    if (options->exportRecords != 0) {
      if (owner) {
        owner->setProgressRange(kProgressBarControl, 0, total);
        owner->setProgressStep(kProgressBarControl, 1);
      }
      int64_t start = static_cast<int64_t>(std::time(nullptr));
      ::Fields values = records->Fields();
      for (int32_t index = 0; options->cancelRequested.load() == 0 && !records->Eof(); ++index) {
        if (owner) {
          owner->repaint();
          owner->stepProgress(kProgressBarControl);
          ShowTimes(owner, start, static_cast<int64_t>(std::time(nullptr)), index, total);
        }
        for (int c = 0; c < values.Count(); ++c)
          writeCellValue(placement.sheet, placement.row, c, definition.Item(c).Type(), values.Item(c).Value());
        options->recordsExported += 1;  // the record is written, whatever becomes of the next one
        if (!advanceAfterRecord(options->book, tableName, &placement)) {
          records->Close();
          showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
          return false;
        }
        records->MoveNext();
      }
    }
    records->Close();
    return true;
  } catch (const ComError& error) {
    if (records) {
      try {
        records->Close();
      } catch (const ComError&) {
      }
    }
    ReportComError(owner, error);
    return false;
  }
}
