#include "workbook/export/table_export.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "job/progress.h"
#include "options/conversion_options.h"
#include "options/settings.h"
#include "platform/owner_window.h"
#include "platform/text.h"
#include "source/engine.h"
#include "workbook/export/cell_value.h"
#include "workbook/export/record_pipeline.h"
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

// The class of each field, from the table definition, once per table.
std::vector<char> fieldClasses(const Fields& definition, int count) {
  std::vector<char> classes;
  for (int c = 0; c < count; ++c) classes.push_back(fieldClass(definition.Item(c).Type()));
  return classes;
}

// The recordset as the pipeline's reader reads it, with its fields taken once per table. The
// texts of text cells are made there too, so the two threads share the work.
class RecordsetSource : public RecordSource {
 public:
  // Typed cells need the values as the engine gives them, so their texts are not made ahead.
  RecordsetSource(Recordset& records, const Fields& definition, bool prepareTexts)
      : records_(records), prepareTexts_(prepareTexts) {
    ::Fields values = records.Fields();
    for (int c = 0; c < values.Count(); ++c) fields_.push_back(values.Item(c));
    classes_ = fieldClasses(definition, fieldCount());
    for (int c = 0; c < fieldCount(); ++c) types_.push_back(definition.Item(c).Type());
  }
  int fieldCount() const { return static_cast<int>(fields_.size()); }
  const std::vector<char>& classes() const { return classes_; }
  const std::vector<int16_t>& types() const { return types_; }
  bool atEnd() override { return records_.Eof(); }
  void readValue(int field, Variant& into) override {
    fields_[static_cast<size_t>(field)].ValueInto(into);
    if (prepareTexts_) prepareCellValue(classes_[static_cast<size_t>(field)], into);
  }
  void moveNext() override { records_.MoveNext(); }

 private:
  Recordset& records_;
  bool prepareTexts_;
  std::vector<Field> fields_;
  std::vector<char> classes_;
  std::vector<int16_t> types_;
};

// One record's cells on the current row. A record the engine failed to read whole gets the
// cells read before the failure, which then goes on as the engine raised it.
// With /CELLS=TYPED (`typed` set) the cells take typed forms; with /LAYOUT=TABLE the first
// records' values are measured for the column widths.
void writeRecordCells(RecordPipeline& pipeline, const Placement& placement, const RecordsetSource& source,
                      TypedFormats* typed, TableLayout& layout) {
  RecordView record = pipeline.current();
  for (int c = 0; c < record.count; ++c) {
    Variant& value = record.values[c];
    size_t field = static_cast<size_t>(c);
    if (layoutMeasures(layout)) layoutValue(layout, c, value);
    if (typed)
      writeTypedCellValue(*typed, placement.sheet, placement.row, c, source.types()[field], value);
    else
      writeCellOfClass(placement.sheet, placement.row, c, source.classes()[field], value);
  }
  if (record.failed) pipeline.rethrowFailure();
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
      showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
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
      RecordsetSource source(*records, definition, options->typedCells == 0);
      // The engine reads ahead on its own thread; this thread writes the cells.
      RecordPipeline pipeline(source, source.fieldCount());
      for (int32_t index = 0; options->cancelRequested.load() == 0 && !pipeline.atEnd(); ++index) {
        if (owner) {
          owner->repaint();
          owner->stepProgress(kProgressBarControl);
          ShowTimes(owner, start, static_cast<int64_t>(std::time(nullptr)), index, total);
        }
        writeRecordCells(pipeline, placement, source, options->typedCells != 0 ? &typed : nullptr, layout);
        options->recordsExported += 1;  // the record is written, whatever becomes of the next one
        layoutRecordWritten(layout, placement);  // /LAYOUT=TABLE
        if (!advanceAfterRecord(options->book, placement.sheetName, &placement, lastRecordRow)) {
          pipeline.stop();
          finishTableLayout(layout);
          records->Close();
          showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
          return false;
        }
        pipeline.moveNext();
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
