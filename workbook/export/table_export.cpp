#include "workbook/export/table_export.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include "options/conversion_options.h"
#include "options/settings.h"
#include "platform/owner_window.h"
#include "platform/text.h"
#include "source/engine.h"
#include "workbook/book.h"
#include "workbook/export/export_progress.h"
#include "workbook/export/cell_value.h"
#include "workbook/export/link_cells.h"
#include "workbook/export/record_pipeline.h"
#include "workbook/export/sheet_placement.h"
#include "workbook/export/table_layout.h"
#include "workbook/export/typed_cell_value.h"
#include "workbook/export/value_text.h"
#include "workbook/export/value_files.h"
#include "workbook/text.h"

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
    // An OLE object shows its kind, as in Access.
    bool oleKind = typed && value.vt == VT_BYTES && source.types()[field] == dbLongBinary;
    std::string kind = oleKind ? oleObjectText(value.bytes) : std::string();
    if (layoutMeasures(layout)) oleKind ? layoutText(layout, c, kind) : layoutValue(layout, c, value);
    if (whole.files && whole.files->write(placement.sheet, placement.row, c, value)) continue;
    if (!whole.files && !oleKind && textLongerThanCell(value)) ++whole.cut;
    if (oleKind)
      writeValidUtf8Cell(placement.sheet, placement.row, c, kind);
    else if (typed && value.vt == VT_BSTR && source.hyperlinks()[field])
      writeHyperlinkCell(placement.sheet, placement.row, c, value.text, linkFormat(*typed));
    else if (typed && value.vt == VT_BSTR && source.types()[field] == dbMemo && isRichText(value.text))
      writeValidUtf8Cell(placement.sheet, placement.row, c, richTextToPlain(value.text));
    else if (typed)
      writeTypedCellValue(*typed, placement.sheet, placement.row, c, source.types()[field], value);
    else
      writeCellOfClass(placement.sheet, placement.row, c, source.classes()[field], value);
  }
  if (record.failed) pipeline.rethrowFailure();
}

// The sheet names of the database's tables and saved queries other than this one, which its
// continuation sheets never take (and never delete when the book is written anew).
std::vector<std::string> otherTableSheets(const Database& database, const std::string& tableName) {
  std::vector<std::string> names;
  auto add = [&](const std::string& name) {
    if (!asciiEqualsIgnoreCase(name, tableName)) names.push_back(sheetNameAllowed(name) ? name : derivedSheetName(name));
  };
  TableDefs tables = database.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) add(tables.Item(i).Name());
  ::QueryDefs queries = database.QueryDefs();
  for (int i = 0; i < queries.Count(); ++i) add(queries.Item(i).Name());
  return names;
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

// An unattended run tells once per table or query of the values it cut, and how to keep them
// whole; the database is named, as a batch converts several.
void reportCutValues(OwnerWindow* owner, const std::string& database, const ExportSource& source, int64_t cut) {
  if (cut == 0) return;
  showNote(owner, "Note: " + database + ", " + (source.isQuery ? "query" : "table") + " \"" + source.name + "\": " + std::to_string(cut) +
                      (cut == 1 ? " value was" : " values were") +
                      " longer than a cell holds (32,767 characters) and cut; "
                      "/FILES=1 keeps such values whole as files beside the workbook");
}

bool ExportToSheet(OwnerWindow* owner, ConversionOptions* options, const ExportSource& source, ExportProgress& progress) {
  std::shared_ptr<Recordset> records;
  TableLayout layout;  // /LAYOUT=TABLE
  std::unique_ptr<TableValueFiles> files;  // /FILES=1; outlives the reader thread
  WholeValues whole;
  const std::string& tableName = source.name;
  try {
    // A query runs before its sheet is made, so one that cannot run leaves none; its fields are
    // its recordset's.
    std::optional<::Fields> fields;
    if (source.isQuery) {
      progress.readingRecords();
      records = options->database->QueryDefs().Item(tableName).OpenRecordset(source.parameters);
      fields = records->Fields();
    } else {
      fields = options->database->TableDefs().Item(tableName).Fields();
    }
    const ::Fields& definition = *fields;
    if (owner) owner->setControlText(kTableLabelControl, tableName + " -> " + options->outputPath);

    Placement placement;
    const int lastRecordRow = lastRecordRowFor(options->rowLimit, options->bookType);
    if (!placeTableSheet(options->book, tableName, options->overwriteTable, &placement,
                         otherTableSheets(*options->database, tableName))) {
      showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
      return false;
    }
    bool headerDue = headerRowDue(options->writeHeader, options->headerOnlyForNewSheets, placement.existed);
    // A sheet appended to that has no row left for a record: the table goes on on a new sheet.
    if (placement.row + (headerDue ? 1 : 0) > lastRecordRow) {
      if (!openContinuationSheet(options->book, &placement)) {
        showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
        return false;
      }
      headerDue = headerRowDue(options->writeHeader, options->headerOnlyForNewSheets, placement.existed);
    }
    // /LAYOUT=TABLE, /CELLS=TYPED and /ROWS=N; all off by default.
    TypedFormats typed = typedFormatsOf(options->book, options->bookType);
    startTableLayout(layout, options->tableLayout != 0, options->typedCells != 0, options->book, placement,
                     headerDue, definition.Count());
    layout.currency = typed.currency;
    writeHeaderRow(options, definition, placement, headerDue, layout);
    if (headerDue) placement.row += 1;

    if (!records) {
      progress.readingRecords();
      records = options->database->OpenRecordset(tableName);
    }
    int32_t total = records->RecordCount();
    if (!source.isQuery) records->MoveFirst();  // a query's recordset stands on its first record
    if (options->exportRecords != 0) {
      if (owner) {
        owner->setProgressRange(kProgressBarControl, 0, total);
        owner->setProgressStep(kProgressBarControl, 1);
      }
      int64_t start = static_cast<int64_t>(std::time(nullptr));
      if (options->valueFiles != 0)
        whole.files = (files = std::make_unique<TableValueFiles>(
                           *options->database, tableName, definition, options->outputPath, options->madeValueFiles,
                           options->typedCells != 0 ? linkFormat(typed) : nullptr))
                          .get();
      RecordsetSource reader(*records, definition, options->typedCells == 0, whole.files);
      // The engine reads ahead on its own thread; this thread writes the cells.
      RecordPipeline pipeline(reader, reader.fieldCount());
      for (int32_t index = 0; options->cancelRequested.load() == 0 && !pipeline.atEnd(); ++index) {
        if (owner) {
          owner->repaint();
          owner->stepProgress(kProgressBarControl);
          progress.recordsWritten(start, static_cast<int64_t>(std::time(nullptr)), index, total);
        }
        writeRecordCells(pipeline, placement, reader, options->typedCells != 0 ? &typed : nullptr, layout, whole);
        options->recordsExported += 1;  // the record is written, whatever becomes of the next one
        layoutRecordWritten(layout, placement);  // /LAYOUT=TABLE
        SheetHandle filled = placement.sheet;
        if (!advanceAfterRecord(options->book, placement.sheetName, &placement, lastRecordRow)) {
          pipeline.stop();
          finishTableLayout(layout);
          records->Close();
          showFailure(owner, "Cannot create a sheet.", options->outputPath + ": " + xlBookErrorMessageA(options->book));
          return false;
        }
        if (placement.sheet != filled) layoutContinuationSheet(layout, placement);  // /LAYOUT=TABLE
        pipeline.moveNext();
      }
    }
    records->Close();
    finishTableLayout(layout);  // /LAYOUT=TABLE
    reportCutValues(owner, options->sourcePath, source, whole.cut);
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
    // The engine's description names the table, not always the database: a batch reads several.
    if (error.description().find(options->sourcePath) == std::string::npos)
      ReportComError(owner, ComError(error.hresult(), error.source(), options->sourcePath + ": " + error.description(),
                                     error.reason()));
    else
      ReportComError(owner, error);
    return false;
  }
}
