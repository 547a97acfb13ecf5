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
#include "workbook/book.h"
#include "workbook/export/cell_value.h"
#include "workbook/export/link_cells.h"
#include "workbook/export/record_pipeline.h"
#include "workbook/export/sheet_placement.h"
#include "workbook/export/table_layout.h"
#include "workbook/export/typed_cell_value.h"
#include "workbook/export/value_text.h"
#include "workbook/export/value_files.h"

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
  // Typed cells need the values as the engine gives them, so their texts are not made ahead;
  // neither are those of values that go to files (/FILES=1).
  RecordsetSource(Recordset& records, const Fields& definition, bool prepareTexts, const TableValueFiles* files)
      : records_(records), prepareTexts_(prepareTexts), timeLocale_(userTimeLocaleName()) {
    ::Fields values = records.Fields();
    for (int c = 0; c < values.Count(); ++c) fields_.push_back(values.Item(c));
    classes_ = fieldClasses(definition, fieldCount());
    for (int c = 0; c < fieldCount(); ++c) {
      types_.push_back(definition.Item(c).Type());
      hyperlinks_.push_back((definition.Item(c).Attributes() & dbHyperlinkField) != 0);
      raw_.push_back(files && files->keepsRawValue(c));
    }
  }
  const std::vector<bool>& hyperlinks() const { return hyperlinks_; }
  int fieldCount() const { return static_cast<int>(fields_.size()); }
  const std::vector<char>& classes() const { return classes_; }
  const std::vector<int16_t>& types() const { return types_; }
  bool atEnd() override { return records_.Eof(); }
  void readValue(int field, Variant& into) override {
    fields_[static_cast<size_t>(field)].ValueInto(into);
    if (prepareTexts_ && !raw_[static_cast<size_t>(field)]) prepareCellValue(classes_[static_cast<size_t>(field)], into, timeLocale_);
  }
  void moveNext() override { records_.MoveNext(); }

 private:
  Recordset& records_;
  bool prepareTexts_;
  const std::string timeLocale_;
  std::vector<Field> fields_;
  std::vector<char> classes_;
  std::vector<int16_t> types_;
  std::vector<bool> hyperlinks_;
  std::vector<bool> raw_;
};

// What becomes of values no cell holds whole: their files (/FILES=1), or a count of the cut ones.
struct WholeValues {
  TableValueFiles* files = nullptr;
  int64_t cut = 0;
};

// One record's cells on the current row. A record the engine failed to read whole gets the
// cells read before the failure, which then goes on as the engine raised it.
// With /CELLS=TYPED (`typed` set) the cells take typed forms; with /LAYOUT=TABLE the first
// records' values are measured for the column widths.
void writeRecordCells(RecordPipeline& pipeline, const Placement& placement, const RecordsetSource& source,
                      TypedFormats* typed, TableLayout& layout, WholeValues& whole) {
  RecordView record = pipeline.current();
  for (int c = 0; c < record.count; ++c) {
    Variant& value = record.values[c];
    size_t field = static_cast<size_t>(c);
    if (layoutMeasures(layout)) layoutValue(layout, c, value);
    if (whole.files && whole.files->write(placement.sheet, placement.row, c, value)) continue;
    if (!whole.files && textLongerThanCell(value)) ++whole.cut;
    if (typed && value.vt == VT_BSTR && source.hyperlinks()[field])
      writeHyperlinkCell(placement.sheet, placement.row, c, value.text);
    else if (typed && value.vt == VT_BSTR && source.types()[field] == dbMemo && isRichText(value.text))
      writeValidUtf8Cell(placement.sheet, placement.row, c, richTextToPlain(value.text));
    else if (typed)
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

// An unattended run tells once per table of the values it cut, and how to keep them whole.
void reportCutValues(OwnerWindow* owner, const std::string& tableName, int64_t cut) {
  if (cut == 0) return;
  showNote(owner, "Note: table \"" + tableName + "\": " + std::to_string(cut) +
                      (cut == 1 ? " value was" : " values were") +
                      " longer than a cell holds (32,767 characters) and cut; "
                      "/FILES=1 keeps such values whole as files beside the workbook");
}

bool ExportTable(OwnerWindow* owner, ConversionOptions* options, const std::string& tableName) {
  std::shared_ptr<Recordset> records;
  TableLayout layout;  // /LAYOUT=TABLE
  std::unique_ptr<TableValueFiles> files;  // /FILES=1; outlives the reader thread
  WholeValues whole;
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
      if (options->valueFiles != 0)
        whole.files = (files = std::make_unique<TableValueFiles>(*options->database, tableName, definition,
                                                                 options->outputPath, options->madeValueFiles)).get();
      RecordsetSource source(*records, definition, options->typedCells == 0, whole.files);
      // The engine reads ahead on its own thread; this thread writes the cells.
      RecordPipeline pipeline(source, source.fieldCount());
      for (int32_t index = 0; options->cancelRequested.load() == 0 && !pipeline.atEnd(); ++index) {
        if (owner) {
          owner->repaint();
          owner->stepProgress(kProgressBarControl);
          ShowTimes(owner, start, static_cast<int64_t>(std::time(nullptr)), index, total);
        }
        writeRecordCells(pipeline, placement, source, options->typedCells != 0 ? &typed : nullptr, layout, whole);
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
    reportCutValues(owner, tableName, whole.cut);
    return true;
  } catch (const ValueFileError& error) {
    // A value's file cannot be written (a full disk, no permission): the table ends here.
    try {
      if (records) records->Close();
    } catch (const ComError&) {
    }
    finishTableLayout(layout);
    showFailure(owner, "Cannot write the file of a value.", error.path + ": " + error.reason);
    options->valueFileFailed = true;
    return false;
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
