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
#include "workbook/export/table_layout.h"
#include "workbook/export/typed_cell_value.h"

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

void writeHeaderRow(ConversionOptions* options, const Fields& fields, const Placement& placement, bool due,
                    TableLayout& layout) {
  for (int c = 0; c < fields.Count(); ++c) {
    std::string title = readFieldCaption(fields.Item(c).Name(), options);
    if (due) xlSheetWriteStrA(placement.sheet, placement.row, c, title.c_str(), nullptr);
    if (due) layoutHeaderCell(layout, placement.sheet, placement.row, c, title);  // /LAYOUT=TABLE
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
  TableLayout layout;  // /LAYOUT=TABLE
  try {
    ::Fields definition = options->database->TableDefs().Item(tableName).Fields();
    if (owner) owner->setControlText(kTableLabelControl, tableName + " -> " + options->outputPath);

    Placement placement;
    if (!placeTableSheet(options->book, tableName, options->overwriteTable, &placement)) {
      showMessageBox(owner, "Cannot create a sheet.", "Error", MessageIcon::Error);
      return false;
    }
    bool headerDue = headerRowDue(options->writeHeader, options->headerOnlyForNewSheets, placement.existed);
    // /LAYOUT=TABLE, /CELLS=TYPED and /ROWS=N; all off by default.
    startTableLayout(layout, options->tableLayout != 0, options->typedCells != 0, options->book, placement,
                     headerDue, definition.Count());
    TypedFormats typed{options->book, {}};
    const int lastRecordRow = lastRecordRowFor(options->rowLimit, options->bookType);
    writeHeaderRow(options, definition, placement, headerDue, layout);
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
        for (int c = 0; c < values.Count(); ++c) {
          Variant value = values.Item(c).Value();
          if (options->typedCells != 0)  // /CELLS=TYPED
            writeTypedCellValue(typed, placement.sheet, placement.row, c, definition.Item(c).Type(), value);
          else
            writeCellValue(placement.sheet, placement.row, c, definition.Item(c).Type(), value);
          if (layoutMeasures(layout)) layoutValue(layout, c, value);  // /LAYOUT=TABLE
        }
        options->recordsExported += 1;  // the record is written, whatever becomes of the next one
        layoutRecordWritten(layout, placement);  // /LAYOUT=TABLE
        if (!advanceAfterRecord(options->book, tableName, &placement, lastRecordRow)) {
          finishTableLayout(layout);
          records->Close();
          showMessageBox(owner, "Cannot create a sheet.", "Error", MessageIcon::Error);
          return false;
        }
        records->MoveNext();
      }
    }
    records->Close();
    finishTableLayout(layout);  // /LAYOUT=TABLE
    return true;
  } catch (const ComError& error) {
    if (records) {
      try {
        records->Close();
      } catch (const ComError&) {
      }
    }
    finishTableLayout(layout);  // /LAYOUT=TABLE
    ReportComError(owner, error);
    return false;
  }
}
