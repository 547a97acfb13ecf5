// Without the switches for ready-to-use workbooks, a conversion writes exactly what it wrote
// before they existed: the demo shop's workbooks are compared with digests of ones made by the
// converter of that time (the .xls whole; the .xlsx by the names and bytes of its parts, since
// a zip entry carries the time it was written).
#include <gtest/gtest.h>

#include <cstdlib>

#include "job/conversion_job.h"
#include "tests/job/fixtures.h"

using namespace jobtest;
namespace fs = std::filesystem;

namespace {

const char* const kDigest = R"(
import hashlib, sys, zipfile
with open(sys.argv[1], 'rb') as f:
    data = f.read()
if data[:2] != b'PK':
    print(hashlib.sha256(data).hexdigest(), end='')
else:
    h = hashlib.sha256()
    with zipfile.ZipFile(sys.argv[1]) as z:
        for info in z.infolist():
            h.update(info.filename.encode() + b'\0' + z.read(info) + b'\0')
    print(h.hexdigest(), end='')
)";

struct Reference {
  const char* database;  // extension of the sample made by quarlex-mkdb
  const char* workbook;
  const char* digest;
};

// Made with the converter as it stood before /CELLS, /LAYOUT and /ROWS, LC_ALL=C. The .xls
// digests were taken again when saves began to write the shared-string index (EXTSST) whole, and
// again when that index came to be built as the strings arrive (8, 16, 32... strings per entry);
// every other record stayed the same but for the sheet offsets behind it.
const Reference kReferences[] = {
    {".accdb", ".xls", "a779df8e23507b0c295cf3c652db507dc5ee5da5739b638839bce42021370902"},
    {".accdb", ".xlsx", "b14369109289a514ce322ced0b75b8ce766ec381a49ae05c29f3f957b6915c9b"},
    {".mdb", ".xls", "e4876fb75949f96a1c5df20d9e39847b6f8a008370a20f463b2ab98ed0d5d5c3"},
    {".mdb", ".xlsx", "198e5d151e04805513609235879e51dc5f1512773086bc63a4657d356fce0c84"},
};

}  // namespace

TEST(DefaultOutput, ByteForByteAsBeforeTheSwitches) {
  setenv("LC_ALL", "C", 1);
  testsupport::ScratchDir dir;
  for (const Reference& ref : kReferences) {
    fs::path db = dir / (std::string("shop") + ref.database);
    if (!fs::exists(db)) {
      auto r = testsupport::runCommand({QUARLEX_MKDB, "--sample", db.string()});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    ConversionOptions o;
    openInto(&o, db);
    o.bookType = std::string(ref.workbook) == ".xlsx" ? 1 : 0;
    o.outputPath = (dir / (std::string("shop") + ref.database + ref.workbook)).string();
    ASSERT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved);
    EXPECT_EQ(testsupport::runPython(kDigest, {o.outputPath}), ref.digest) << o.outputPath;
  }
}
