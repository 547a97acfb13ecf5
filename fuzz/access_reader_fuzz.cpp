// libFuzzer entry point for the Access reader: each input is opened as a database and everything
// in it is read, as a conversion would read it: tables, whole values, saved queries and the
// records of the runnable ones. A ComError is the expected answer to damage; a
// crash, a sanitizer report, leaked memory or descriptors, or a hang is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/memory_file.h"
#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/engine.h"
#include "source/saved_query.h"
#include "source/whole_values.h"

namespace {

// Bounds that keep one input quick: a damaged file may claim millions of records.
constexpr int kMostTables = 64;
constexpr int kMostQueries = 64;
constexpr int kMostRecords = 2000;
constexpr int kMostRecordsWithWholeValues = 200;

// The password of the shared test databases that have one.
constexpr const char* kConnect = ";pwd=password";

// What the files of values no cell holds whole would be made of.
void readWholeValue(const Variant& value, int16_t type, AttachmentFiles* attachments) {
  if (type == dbLongBinary && value.vt == VT_BYTES) {
    OleContent content = oleContent(value.bytes);
    if (content.linked) return;
    const size_t stored = value.bytes.size();
    if (content.offset > stored || content.size > stored - content.offset) {
      std::fprintf(stderr, "access_reader_fuzz: an OLE object's content lies outside its stored bytes\n");
      std::abort();
    }
    (void)contentExtension(value.bytes.data() + content.offset, content.size, content.className);
  } else if (attachments && value.vt == VT_BSTR) {
    uint32_t key = static_cast<uint32_t>(value.integer);
    if (attachments->count(key) > 0)
      attachments->forEach(key, [](const std::string&, const std::vector<uint8_t>& bytes) {
        (void)contentExtension(bytes.data(), bytes.size());
      });
  }
}

void readTable(const Database& db, const TableDef& def) {
  const std::string name = def.Name();
  Fields definition = def.Fields();
  const int count = definition.Count();
  std::vector<int16_t> types;
  std::vector<std::unique_ptr<AttachmentFiles>> attachments;
  for (int f = 0; f < count; ++f) {
    Field field = definition.Item(f);
    types.push_back(field.Type());
    (void)field.Attributes();
    attachments.push_back(field.Type() == dbAttachment ? db.OpenAttachments(name, field.Name()) : nullptr);
  }
  auto records = db.OpenRecordset(name);
  (void)records->RecordCount();
  Fields fields = records->Fields();
  Variant value;
  int read = 0;
  for (records->MoveFirst(); !records->Eof() && read < kMostRecords; records->MoveNext(), ++read) {
    for (int f = 0; f < count; ++f) {
      fields.Item(f).ValueInto(value);
      if (read < kMostRecordsWithWholeValues) readWholeValue(value, types[static_cast<size_t>(f)], attachments[static_cast<size_t>(f)].get());
    }
  }
  records->Close();
}

// A saved query's definition, and the first records of a runnable one, every parameter given a
// value that most types accept.
void readQuery(const QueryDef& query) {
  (void)query.Name();
  (void)query.SQL();
  const std::vector<QueryParameter> parameters = query.Parameters();
  if (!isRunnableQuery(static_cast<QueryKind>(query.Type()))) return;
  QueryParameterValues values;
  for (const QueryParameter& p : parameters) values.push_back({p.name, "1"});
  auto records = query.OpenRecordset(values);
  Fields fields = records->Fields();
  const int count = fields.Count();
  Variant value;
  int read = 0;
  for (records->MoveFirst(); !records->Eof() && read < kMostRecords; records->MoveNext(), ++read)
    for (int f = 0; f < count; ++f) fields.Item(f).ValueInto(value);
  records->Close();
}

// Every table, each on its own: damage in one table leaves the others to be read, as in a
// conversion.
void readDatabase(const Database& db) {
  ::TableDefs defs = db.TableDefs();
  const int count = defs.Count();
  for (int t = 0; t < count && t < kMostTables; ++t) {
    try {
      readTable(db, defs.Item(t));
    } catch (const ComError&) {
    }
  }
  ::QueryDefs queries = db.QueryDefs();
  const int queryCount = queries.Count();
  for (int q = 0; q < queryCount && q < kMostQueries; ++q) {
    try {
      readQuery(queries.Item(q));
    } catch (const ComError&) {
    }
  }
}

void readInput(const std::string& path) {
  const DBEngine engine(EngineFlavour::Dao120);
  std::shared_ptr<Database> db;
  // Without a password first, as a user would; a database that asks for one gets the one the
  // seeds were made with.
  try {
    db = engine.OpenDatabase(path);
  } catch (const ComError& e) {
    if (e.hresult() != daoerror::kNotValidPassword) return;
    try {
      db = engine.OpenDatabase(path, 0, true, std::string(kConnect));
    } catch (const ComError&) {
      return;
    }
  }
  try {
    readDatabase(*db);
  } catch (const ComError&) {
  }
  db->Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size, "fuzz.accdb");
  readInput(file.path());
  if (openMemoryFiles() != 1) {
    std::fprintf(stderr, "access_reader_fuzz: the reader left the database or a copy of it open\n");
    std::abort();
  }
  return 0;
}
